// The process utilities on their own: process list, command lines, masks,
// audio server names, timer slack and the real-time step.

#include "app/logic/system/ProcUtils.h"

#include <gtest/gtest.h>
#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/syscall.h>

#include <algorithm>
#include <fstream>
#include <thread>

#include "app/logic/system/CommandRunner.h"
#include "app/logic/system/SystemOptimizer.h"
#include "audio/core/ThreadSetup.h"
#include "tests/app/logic/SystemTestSupport.h"

namespace lirvo {
namespace {

TEST(ProcUtilsTest, ProcessListHoldsThisProcessAndItsChildWithinTheLimit) {
  test::TChild child(FindExecutable("sleep"), {"sleep", "30"});
  std::vector<pid_t> pids = GetProcessIdList();
  EXPECT_LE(pids.size(), MaxProcessCount);
  EXPECT_NE(std::find(pids.begin(), pids.end(), getpid()), pids.end());
  EXPECT_NE(std::find(pids.begin(), pids.end(), child.Pid()), pids.end());
  EXPECT_TRUE(std::all_of(pids.begin(), pids.end(), [](pid_t p) { return p > 0; }));
  EXPECT_FALSE(TProcFsProcessSource().GetProcessIdList().empty());
}

TEST(ProcUtilsTest, CommandLineJoinsArgumentsAndIsEmptyForWhatCannotBeRead) {
  test::TChild child(FindExecutable("sleep"), {"/usr/bin/pipe wire", "30"});
  EXPECT_EQ(GetProcessCommandLine(child.Pid()), "/usr/bin/pipe wire 30");
  const pid_t gone = child.Pid();
  child.Kill();
  EXPECT_EQ(GetProcessCommandLine(gone), "");
  EXPECT_EQ(GetProcessCommandLine(0), "");
  EXPECT_EQ(GetProcessCommandLine(-1), "");
}

TEST(ProcUtilsTest, KernelThreadsAreToldApartFromProcesses) {
  // In a PID namespace (a container) the kernel's threads are not seen.
  if (GetProcessCommandLine(2).empty() && access("/proc/2/stat", R_OK) == 0) {
    std::ifstream comm("/proc/2/comm");
    std::string name;
    comm >> name;
    if (name == "kthreadd") {
      EXPECT_TRUE(IsKernelThread(2));
    }
  }
  EXPECT_FALSE(IsKernelThread(getpid()));
  test::TChild child(FindExecutable("sleep"), {"sleep", "30"});
  EXPECT_FALSE(IsKernelThread(child.Pid()));
  EXPECT_FALSE(IsKernelThread(-1));
}

TEST(ProcUtilsTest, MasksNeverShiftBeyondThirtyTwoBits) {
  struct TCase {
    int Count;
    uint32_t All, Last;
  };
  for (TCase c :
       {TCase{1, 1, 1}, TCase{2, 3, 2}, TCase{4, 0xF, 8}, TCase{31, 0x7FFFFFFF, 1u << 30},
        TCase{32, 0xFFFFFFFF, 1u << 31}, TCase{64, 0xFFFFFFFF, 1u << 31}, TCase{0, 1, 1}}) {
    SCOPED_TRACE(c.Count);
    EXPECT_EQ(AllProcessorsMask(c.Count), c.All);
    EXPECT_EQ(LastProcessorMask(c.Count), c.Last);
  }
}

TEST(ProcUtilsTest, AudioServersAreRecognisedByExecutableBaseNameOnly) {
  struct TCase {
    const char* CommandLine;
    bool Server;
  };
  for (TCase c :
       {TCase{"/usr/bin/pipewire", true}, TCase{"pipewire -c pipewire-pulse.conf", true},
        TCase{"/usr/bin/pipewire-pulse", true}, TCase{"/usr/bin/wireplumber", true},
        TCase{"/usr/bin/pulseaudio --daemonize=no --log-target=journal", true},
        TCase{"jackd -d alsa", true}, TCase{"/usr/bin/jackdbus auto", true},
        TCase{"/usr/bin/pipewire-media-session", false}, TCase{"/usr/bin/vim /etc/pipewire", false},
        TCase{"Pipewire", false}, TCase{"/usr/lib/pipewire/", false}, TCase{"", false}}) {
    EXPECT_EQ(IsAudioServerCommandLine(c.CommandLine), c.Server) << c.CommandLine;
  }
}

TEST(ProcUtilsTest, TimerResolutionSetsTheSmallestSlackAndReleasesToTheDefault) {
  const int before = prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0);
  EXPECT_EQ(SetTimerResolution(9000, true), 1u) << "1 ns, rounded up to one 100 ns unit";
  EXPECT_EQ(prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0), 1);
  const uint32_t released = SetTimerResolution(9000, false);
  EXPECT_GT(released, 1u);
  EXPECT_EQ(released, (static_cast<uint32_t>(prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0)) + 99) / 100);
  prctl(PR_SET_TIMERSLACK, static_cast<unsigned long>(before), 0, 0, 0);
}

TEST(ProcUtilsTest, ProAudioStepGivesOnlyTheCallingThreadRealTimeBelowTheAudioThreads) {
  // The test binary keeps real-time scheduling off; with it off the step
  // must not happen.
  std::thread([] {
    EXPECT_FALSE(RealtimeSchedulingAvailable());
    EXPECT_FALSE(JoinProAudioTask());
    EXPECT_EQ(sched_getscheduler(0), SCHED_OTHER);
  }).join();

  SetRealtimeAllowed(true);
  std::thread([] {
    if (!RealtimeSchedulingAvailable()) {
      EXPECT_FALSE(JoinProAudioTask());
      return;
    }
    ASSERT_TRUE(JoinProAudioTask());
    int policy = sched_getscheduler(0);
    EXPECT_EQ(policy & ~SCHED_RESET_ON_FORK, SCHED_FIFO);
    EXPECT_NE(policy & SCHED_RESET_ON_FORK, 0) << "programs started later must not inherit it";
    sched_param sp{};
    sched_getparam(0, &sp);
    EXPECT_GT(sp.sched_priority, 0);
    EXPECT_LT(sp.sched_priority, AudioRealtimePriority());
  }).join();
  SetRealtimeAllowed(false);
  EXPECT_EQ(sched_getscheduler(0), SCHED_OTHER) << "the main thread is left alone";
}

TEST(ProcUtilsTest, EnablePrivilegeRefusesWhatIsNotPermitted) {
  std::thread([] {
    EXPECT_FALSE(EnablePrivilege(-1));
    EXPECT_FALSE(EnablePrivilege(64));
    // Drop CAP_SYS_BOOT from this thread's permitted set: it can no longer be
    // raised. A permitted one still can.
    __user_cap_header_struct hdr{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2]{};
    ASSERT_EQ(syscall(SYS_capget, &hdr, data), 0);
    const bool hadNice = data[0].permitted & (1u << CAP_SYS_NICE);
    data[0].permitted &= ~(1u << CAP_SYS_BOOT);
    data[0].effective &= ~(1u << CAP_SYS_BOOT);
    data[0].inheritable &= ~(1u << CAP_SYS_BOOT);
    hdr = {_LINUX_CAPABILITY_VERSION_3, 0};
    ASSERT_EQ(syscall(SYS_capset, &hdr, data), 0);
    EXPECT_FALSE(EnablePrivilege(CAP_SYS_BOOT));
    if (hadNice) {
      EXPECT_TRUE(EnablePrivilege(CAP_SYS_NICE));
    }
  }).join();
}

}  // namespace
}  // namespace lirvo
