// OptimizeSystem on the player's own process leaves the audio threads as they
// set themselves up, while it does change the process's other threads. The
// optimiser runs in a child copy of this binary on that child alone: the
// test process itself and every other process stay as they are.

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/logic/system/SystemOptimizer.h"
#include "audio/core/ThreadSetup.h"
#include "tests/realtime/RealtimeTestSupport.h"

namespace lirvo {
namespace {

using test::ReadThreadSched;
using test::TThreadSched;

// Offers the optimiser this process only.
class TOwnProcessOnly final : public IProcessSource {
 public:
  std::vector<pid_t> GetProcessIdList() override { return {getpid()}; }
};

// A thread that sets itself up as Kind (or stays as created) and waits.
class TWaitingThread {
 public:
  explicit TWaitingThread(std::optional<TAudioThreadKind> Kind)
      : FThread([this, Kind] {
          if (Kind) SetupAudioThread(*Kind);
          FTid.store(CurrentTid());
          FTid.notify_all();
          FQuit.wait(false);
        }) {
    FTid.wait(0);
  }
  ~TWaitingThread() {
    FQuit.store(true);
    FQuit.notify_all();
    FThread.join();
  }
  int Tid() const { return FTid.load(); }

 private:
  std::atomic<int> FTid{0};
  std::atomic<bool> FQuit{false};
  std::thread FThread;
};

struct TKindCase {
  TAudioThreadKind Kind;
  const char* Name;
};

TEST(OptimizerOnOwnProcess, DISABLED_ChildKeepsItsAudioThreads) {
  if (!test::IsChild()) GTEST_SKIP();
  const TKindCase kinds[] = {{TAudioThreadKind::Playback, "playback"},
                             {TAudioThreadKind::CacheFiller, "filler"},
                             {TAudioThreadKind::Event, "event"},
                             {TAudioThreadKind::Driver, "driver"}};
  std::vector<std::unique_ptr<TWaitingThread>> audio;
  std::vector<TThreadSched> before;
  for (const TKindCase& k : kinds) {
    audio.push_back(std::make_unique<TWaitingThread>(k.Kind));
    std::optional<TThreadSched> s = ReadThreadSched(audio.back()->Tid());
    ASSERT_TRUE(s);
    before.push_back(*s);
  }
  TWaitingThread ordinary(std::nullopt);

  TOwnProcessOnly processes;
  TSystemOptimizer optimizer(processes);
  TOptimizeOption option;
  option.RealTimeOptimize = true;
  option.SuppressOtherProcesses = true;
  optimizer.OptimizeSystem(option, aeDSound);

  for (size_t i = 0; i < audio.size(); ++i) {
    SCOPED_TRACE(kinds[i].Name);
    std::optional<TThreadSched> now = ReadThreadSched(audio[i]->Tid());
    ASSERT_TRUE(now);
    EXPECT_EQ(now->Policy, before[i].Policy);
    EXPECT_EQ(now->Priority, before[i].Priority);
    EXPECT_EQ(now->Nice, before[i].Nice);
    EXPECT_TRUE(test::SameCpus(now->Cpus, before[i].Cpus))
        << test::CpuList(now->Cpus) << ", was " << test::CpuList(before[i].Cpus);
  }
  // The optimiser did run on this process: its ordinary threads changed.
  std::optional<TThreadSched> other = ReadThreadSched(ordinary.Tid());
  ASSERT_TRUE(other);
  EXPECT_EQ(other->Nice, -20);
  optimizer.NormalizeSystem();
}

TEST(OptimizerOnOwnProcess, LeavesTheAudioThreadsPinsAndPolicies) {
  const std::string out =
      test::RunChild("OptimizerOnOwnProcess.DISABLED_ChildKeepsItsAudioThreads");
  EXPECT_NE(out.find("CHILD-OK"), std::string::npos) << out;
  EXPECT_NE(out.find("[  PASSED  ] 1 test"), std::string::npos) << out;
}

}  // namespace
}  // namespace lirvo
