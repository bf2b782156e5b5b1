// The optimiser on processes this test started (and on the test process
// itself): each switch changes what it should, NormalizeSystem puts back
// exactly what was found, and no other process on the machine changes.

#include "app/logic/system/SystemOptimizer.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/syscall.h>

#include <sys/resource.h>

#include <algorithm>
#include <memory>
#include <thread>

#include "app/logic/system/CommandRunner.h"
#include "audio/core/Pool.h"
#include "tests/app/logic/SystemTestSupport.h"

namespace lirvo {
namespace {

using test::TChild;

class TListSource final : public IProcessSource {
 public:
  std::vector<pid_t> Pids;
  std::vector<pid_t> GetProcessIdList() override { return Pids; }
};

std::string Affinity(const cpu_set_t& Set) {
  std::string s;
  for (int i = 0; i < 64; ++i)
    s += CPU_ISSET(i, &Set) ? '1' : '0';
  return s;
}

class SystemOptimizerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FLock = std::make_unique<test::TSystemTestLock>();
    FOwnBefore = ReadProcessTasks(getpid());
    FSlackBefore = prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0);
    FOthersBefore = test::SnapshotProcesses();
    FEnv.OwnPid = getpid();
    FEnv.CpuCount = GetCpuCount();
    FEnv.MmcssAvailable = false;
    FEnv.SetTimerResolution = lirvo::SetTimerResolution;
    FSleep = FindExecutable("sleep");
    ASSERT_FALSE(FSleep.empty());
  }

  void TearDown() override {
    // Whatever a failed expectation left behind: the test process goes back
    // to what it was, and the children end.
    for (const TTaskSchedState& t : FOwnBefore) {
      SetTaskNice(t.Tid, t.Nice);
      SetTaskAffinity(t.Tid, t.Affinity);
    }
    prctl(PR_SET_TIMERSLACK, static_cast<unsigned long>(FSlackBefore), 0, 0, 0);
    PollSleepMs = 1;
    std::vector<pid_t> exclude{getpid()};
    for (auto& c : FChildren) {
      exclude.push_back(c->Pid());
      c->Kill();
    }
    EXPECT_THAT(test::ChangedProcesses(FOthersBefore, test::SnapshotProcesses(), exclude),
                ::testing::IsEmpty())
        << "a process the test did not start was changed";
  }

  // A child named Argv0 (running sleep) with the given nice value and
  // processors on every thread, offered to the optimiser.
  pid_t Spawn(const std::string& Argv0, int Nice = 0, uint32_t Mask = 0) {
    FChildren.push_back(std::make_unique<TChild>(FSleep, std::vector<std::string>{Argv0, "30"}));
    return Prepare(FChildren.back()->Pid(), Nice, Mask);
  }
  pid_t Prepare(pid_t Pid, int Nice, uint32_t Mask) {
    EXPECT_GT(Pid, 0);
    for (const TTaskSchedState& t : ReadProcessTasks(Pid)) {
      EXPECT_TRUE(SetTaskNice(t.Tid, Nice));
      EXPECT_TRUE(SetTaskAffinity(t.Tid, test::MaskSet(Mask ? Mask : AllProcessorsMask(Cpus()))));
    }
    FSource.Pids.push_back(Pid);
    return Pid;
  }

  int Cpus() const { return FEnv.CpuCount; }

  static void ExpectTasks(pid_t Pid, int Nice, uint32_t Mask) {
    std::vector<TTaskSchedState> tasks = ReadProcessTasks(Pid);
    ASSERT_FALSE(tasks.empty()) << Pid;
    for (const TTaskSchedState& t : tasks) {
      EXPECT_EQ(t.Nice, Nice) << "pid " << Pid << " tid " << t.Tid;
      EXPECT_EQ(Affinity(t.Affinity), Affinity(test::MaskSet(Mask)))
          << "pid " << Pid << " tid " << t.Tid;
    }
  }
  static void ExpectRestored(const std::vector<TTaskSchedState>& Before) {
    for (const TTaskSchedState& b : Before) {
      TTaskSchedState now;
      ASSERT_TRUE(ReadTaskState(b.Pid, b.Tid, now)) << b.Tid;
      EXPECT_EQ(now.Nice, b.Nice) << "pid " << b.Pid << " tid " << b.Tid;
      EXPECT_EQ(Affinity(now.Affinity), Affinity(b.Affinity))
          << "pid " << b.Pid << " tid " << b.Tid;
    }
  }
  std::vector<TTaskSchedState> StateOfAll() const {
    std::vector<TTaskSchedState> all = ReadProcessTasks(getpid());
    for (pid_t pid : FSource.Pids) {
      std::vector<TTaskSchedState> t = ReadProcessTasks(pid);
      all.insert(all.end(), t.begin(), t.end());
    }
    return all;
  }
  // The nice value a suppressed thread now at Nice ends with: idle, unless
  // this process could not raise it back.
  static int SuppressedNice(int Nice) { return CanSetNice(Nice, 19) ? 19 : Nice; }

  std::unique_ptr<test::TSystemTestLock> FLock;
  std::vector<TTaskSchedState> FOwnBefore;
  int FSlackBefore = 0;
  std::map<pid_t, TTaskSchedState> FOthersBefore;
  std::vector<std::unique_ptr<TChild>> FChildren;
  TListSource FSource;
  TOptimizerEnvironment FEnv;
  std::string FSleep;
};

TEST_F(SystemOptimizerTest, EverySwitchCombinationChangesAsMappedAndNormalizeRestoresExactly) {
  if (Cpus() < 2) GTEST_SKIP() << "needs two processors to tell the masks apart";
  const uint32_t all = AllProcessorsMask(Cpus());
  const uint32_t last = LastProcessorMask(Cpus());
  const pid_t plain = Spawn("sleep");
  const pid_t plainNiced = Spawn("/bin/sleep", 5, 1);
  const pid_t pipewire = Spawn("/usr/bin/pipewire", 2);
  const pid_t jackd = Spawn("jackd", 0, last);
  const pid_t nearMiss = Spawn("/usr/bin/pipewire-media", 0);
  // The test process starts from a value of its own, so that putting it
  // back is visible.
  for (const TTaskSchedState& t : ReadProcessTasks(getpid()))
    SetTaskNice(t.Tid, 2);

  struct TCase {
    bool RealTime, Suppress, AudioService;
    TAudioEngine Engine;
  };
  std::vector<TCase> cases;
  for (int bits = 0; bits < 16; ++bits)
    cases.push_back(
        {(bits & 1) != 0, (bits & 2) != 0, (bits & 4) != 0, bits & 8 ? aeASIO : aeDSound});

  TSystemOptimizer optimizer(FSource, FEnv);
  for (const TCase& c : cases) {
    SCOPED_TRACE(::testing::Message()
                 << "realtime " << c.RealTime << " suppress " << c.Suppress << " audio service "
                 << c.AudioService << " engine " << (c.Engine == aeASIO ? "ASIO" : "DSound"));
    const std::vector<TTaskSchedState> before = StateOfAll();
    const std::map<pid_t, int> niceBefore = {{plain, 0}, {plainNiced, 5}, {pipewire, 2},
                                             {jackd, 0}, {nearMiss, 0},   {getpid(), 2}};
    TOptimizeOption opt;
    opt.RealTimeOptimize = c.RealTime;
    opt.SuppressOtherProcesses = c.Suppress;
    opt.AudioServiceOptimize = c.AudioService;
    opt.MutiCoreOptimize = c.Suppress;  // alternates with the cases
    optimizer.OptimizeSystem(opt, c.Engine);

    ExpectTasks(getpid(), ReachableNice(c.RealTime ? -20 : -10, 2), all);
    const bool servers = c.AudioService && c.Engine == aeDSound;
    for (pid_t pid : {plain, plainNiced, nearMiss, pipewire, jackd}) {
      const bool isServer = pid == pipewire || pid == jackd;
      const int nice0 = niceBefore.at(pid);
      if (servers && isServer) {
        ExpectTasks(pid, ReachableNice(-20, c.Suppress ? SuppressedNice(nice0) : nice0), 1);
      } else if (c.Suppress) {
        ExpectTasks(pid, SuppressedNice(nice0), last);
      } else {
        uint32_t mask = pid == plainNiced ? 1 : pid == jackd ? last : all;
        ExpectTasks(pid, nice0, mask);
      }
    }
    EXPECT_EQ(PollSleepMs.load(), c.Suppress ? 0 : 1);
    EXPECT_EQ(prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0), 1) << "timer slack of the calling thread";

    optimizer.NormalizeSystem();
    ExpectRestored(before);
    EXPECT_EQ(optimizer.RecordedTaskCount(), 0u);
  }
}

TEST_F(SystemOptimizerTest, EveryThreadOfAMultiThreadedProcessIsChangedAndRestored) {
  std::string python = FindExecutable("python3");
  if (python.empty()) GTEST_SKIP() << "python3 is needed for a child with threads";
  FChildren.push_back(std::make_unique<TChild>(
      python, std::vector<std::string>{
                  "python3", "-c",
                  "import threading, time\n"
                  "for i in range(3): threading.Thread(target=time.sleep, args=(30,)).start()\n"
                  "time.sleep(30)\n"}));
  ASSERT_TRUE(FChildren.back()->WaitForTasks(4));
  const pid_t pid = Prepare(FChildren.back()->Pid(), 0, 0);
  // Threads of the test process other than the main one are changed too.
  std::atomic<bool> stop{false};
  std::thread worker([&] {
    while (!stop)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
  });
  const std::vector<TTaskSchedState> before = StateOfAll();
  ASSERT_GE(ReadProcessTasks(getpid()).size(), 2u);

  TSystemOptimizer optimizer(FSource, FEnv);
  TOptimizeOption opt;
  opt.SuppressOtherProcesses = true;
  optimizer.OptimizeSystem(opt, aeDSound);
  ExpectTasks(pid, SuppressedNice(0), LastProcessorMask(Cpus()));
  ExpectTasks(getpid(), ReachableNice(-10, before.front().Nice), AllProcessorsMask(Cpus()));

  optimizer.NormalizeSystem();
  ExpectRestored(before);
  stop = true;
  worker.join();
}

TEST_F(SystemOptimizerTest, OneProcessorGivesEverySuppressedProcessThatProcessor) {
  FEnv.CpuCount = 1;
  const pid_t child = Spawn("sleep");
  const std::vector<TTaskSchedState> before = StateOfAll();
  TSystemOptimizer optimizer(FSource, FEnv);
  TOptimizeOption opt;
  opt.SuppressOtherProcesses = true;
  optimizer.OptimizeSystem(opt, aeDSound);
  ExpectTasks(child, SuppressedNice(0), 1);
  ExpectTasks(getpid(), ReachableNice(-10, before.front().Nice), 1);
  optimizer.NormalizeSystem();
  ExpectRestored(before);
}

TEST_F(SystemOptimizerTest, NormalizeLeavesValuesOthersChangedSinceAndVanishedProcessesAlone) {
  if (Cpus() < 2) GTEST_SKIP() << "needs two processors to tell the masks apart";
  const pid_t keeps = Spawn("sleep");
  const pid_t renicedLater = Spawn("sleep");
  const pid_t movedLater = Spawn("sleep");
  Spawn("sleep");
  TChild& vanishing = *FChildren.back();
  const std::vector<TTaskSchedState> keepsBefore = ReadProcessTasks(keeps);

  TSystemOptimizer optimizer(FSource, FEnv);
  TOptimizeOption opt;
  opt.SuppressOtherProcesses = true;
  optimizer.OptimizeSystem(opt, aeDSound);

  // After the optimisation somebody else decides about two of them, and one
  // ends.
  ASSERT_TRUE(SetTaskNice(renicedLater, 7));
  ASSERT_TRUE(SetTaskAffinity(movedLater, test::MaskSet(1)));
  vanishing.Kill();
  optimizer.NormalizeSystem();

  ExpectRestored(keepsBefore);
  ExpectTasks(renicedLater, 7, AllProcessorsMask(Cpus()));
  ExpectTasks(movedLater, 0, 1);
}

TEST_F(SystemOptimizerTest, RepeatedOptimizationStillRestoresTheValuesFoundFirst) {
  const pid_t server = Spawn("pulseaudio", 3);
  Spawn("sleep", 4);
  const std::vector<TTaskSchedState> before = StateOfAll();
  TSystemOptimizer optimizer(FSource, FEnv);
  TOptimizeOption suppress;
  suppress.SuppressOtherProcesses = true;
  suppress.AudioServiceOptimize = true;
  optimizer.OptimizeSystem(suppress, aeDSound);
  ExpectTasks(server, ReachableNice(-20, SuppressedNice(3)), 1);
  TOptimizeOption realtime;
  realtime.RealTimeOptimize = true;
  optimizer.OptimizeSystem(realtime, aeASIO);
  optimizer.NormalizeSystem();
  ExpectRestored(before);
}

TEST_F(SystemOptimizerTest, ThreadStartedAfterOptimizationIsNotTouchedByNormalize) {
  TSystemOptimizer optimizer(FSource, FEnv);
  optimizer.OptimizeSystem(TOptimizeOption{}, aeDSound);
  const size_t recorded = optimizer.RecordedTaskCount();
  std::atomic<int> tid{0};
  std::atomic<bool> stop{false};
  std::thread late([&] {
    tid = static_cast<int>(syscall(SYS_gettid));
    SetTaskNice(tid, 11);
    while (!stop)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
  });
  while (tid == 0)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_EQ(optimizer.RecordedTaskCount(), recorded);
  optimizer.NormalizeSystem();
  bool ok = false;
  EXPECT_EQ(GetTaskNice(tid, ok), 11);
  stop = true;
  late.join();
}

TEST_F(SystemOptimizerTest, RealTimeStepRunsOnlyWhenSwitchedOnAndAvailable) {
  struct TCase {
    bool Switch, Available, Joins;
  };
  for (TCase c : {TCase{false, false, false}, TCase{false, true, false}, TCase{true, false, false},
                  TCase{true, true, true}}) {
    SCOPED_TRACE(::testing::Message() << "switch " << c.Switch << " available " << c.Available);
    int joins = 0;
    FEnv.MmcssAvailable = c.Available;
    FEnv.JoinProAudio = [&] {
      ++joins;
      return true;
    };
    TSystemOptimizer optimizer(FSource, FEnv);
    TOptimizeOption opt;
    opt.Windows7Optimize = c.Switch;
    optimizer.OptimizeSystem(opt, aeDSound);
    optimizer.NormalizeSystem();
    EXPECT_EQ(joins, c.Joins ? 1 : 0);
  }
}

// Capabilities belong to a thread: the optimiser runs on a thread that has
// given up CAP_SYS_NICE, as an unprivileged player would.
bool DropEffectiveCapability(int Capability) {
  __user_cap_header_struct hdr{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[2]{};
  if (syscall(SYS_capget, &hdr, data) != 0) return false;
  data[Capability / 32].effective &= ~(1u << (Capability % 32));
  hdr = {_LINUX_CAPABILITY_VERSION_3, 0};
  return syscall(SYS_capset, &hdr, data) == 0;
}

TEST_F(SystemOptimizerTest, WithoutPrivilegeNoProcessIsLoweredBeyondWhatNormalizeCanUndo) {
  struct rlimit rl {};
  ASSERT_EQ(getrlimit(RLIMIT_NICE, &rl), 0);
  if (rl.rlim_cur != 0) GTEST_SKIP() << "needs the default RLIMIT_NICE of 0";
  const pid_t child = Spawn("sleep", 0);
  const std::vector<TTaskSchedState> before = StateOfAll();
  std::thread unprivileged([&] {
    ASSERT_TRUE(DropEffectiveCapability(CAP_SYS_NICE));
    FEnv.SetTimerResolution = nullptr;  // the slack of this thread does not matter
    TSystemOptimizer optimizer(FSource, FEnv);
    TOptimizeOption opt;
    opt.SuppressOtherProcesses = true;
    optimizer.OptimizeSystem(opt, aeDSound);
    // Idle could not be taken back, and high priority is out of reach: the
    // nice values stay (never "as close to high as allowed" = idle).
    ExpectTasks(child, 0, LastProcessorMask(Cpus()));
    for (const TTaskSchedState& t : ReadProcessTasks(getpid())) {
      auto it = std::find_if(before.begin(), before.end(),
                             [&](const TTaskSchedState& b) { return b.Tid == t.Tid; });
      if (it != before.end()) {
        EXPECT_EQ(t.Nice, it->Nice) << t.Tid;
      }
    }
    optimizer.NormalizeSystem();
  });
  unprivileged.join();
  ExpectRestored(before);
}

}  // namespace
}  // namespace lirvo
