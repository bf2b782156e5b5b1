#pragma once
// How late the machine wakes a real-time thread, measured while a test plays:
// one probe thread per allowed processor, pinned to it, sleeps on a 500 us
// timer at a real-time priority and keeps the largest lateness it saw. A
// virtual machine whose processors the host takes away shows as wake-ups
// milliseconds late; a test that allows no missed period tells such a
// machine's misses from the player's by it.

#include <pthread.h>
#include <sched.h>
#include <sys/timerfd.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>
#include <vector>

namespace lirvo::test {

class TWakeProbes {
 public:
  // Priority: SCHED_FIFO priority of the probes (where allowed; otherwise
  // they run at the ordinary class and measure that).
  explicit TWakeProbes(int Priority) {
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    sched_getaffinity(0, sizeof allowed, &allowed);
    for (int cpu = 0; cpu < CPU_SETSIZE && FProbes.size() < 16; ++cpu)
      if (CPU_ISSET(cpu, &allowed)) FProbes.push_back(std::make_unique<TProbe>(Priority, cpu));
  }
  TWakeProbes(const TWakeProbes&) = delete;
  TWakeProbes& operator=(const TWakeProbes&) = delete;

  // The latest wake-up so far, on any processor.
  int64_t MaxLateUs() const {
    int64_t us = 0;
    for (const auto& p : FProbes)
      us = std::max(us, p->MaxLateNs.load() / 1000);
    return us;
  }

 private:
  static int64_t NowNs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
  }

  struct TProbe {
    TProbe(int Priority, int Cpu) {
      Thread = std::thread([this, Priority, Cpu] {
        sched_param sp{};
        sp.sched_priority = Priority;
        pthread_setschedparam(pthread_self(), SCHED_FIFO, &sp);
        cpu_set_t set;
        CPU_ZERO(&set);
        CPU_SET(Cpu, &set);
        pthread_setaffinity_np(pthread_self(), sizeof set, &set);
        const int fd = timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC);
        if (fd < 0) return;
        int64_t next = NowNs();
        while (!Stop.load()) {
          next = std::max(next + 500000, NowNs());
          itimerspec t{};
          t.it_value = {static_cast<time_t>(next / 1000000000),
                        static_cast<long>(next % 1000000000)};
          timerfd_settime(fd, TFD_TIMER_ABSTIME, &t, nullptr);
          uint64_t ticks = 0;
          if (read(fd, &ticks, sizeof ticks) != sizeof ticks) break;
          const int64_t late = NowNs() - next;
          if (late > MaxLateNs.load()) MaxLateNs.store(late);
        }
        close(fd);
      });
    }
    ~TProbe() {
      Stop.store(true);
      Thread.join();
    }
    std::atomic<bool> Stop{false};
    std::atomic<int64_t> MaxLateNs{0};
    std::thread Thread;
  };

  std::vector<std::unique_ptr<TProbe>> FProbes;
};

}  // namespace lirvo::test
