// The scheduling every audio thread really has (read back from the kernel by
// thread ID), with real-time scheduling on: each kind set up on a thread
// created by a real-time thread, the threads of the shared engine playing to
// the test PulseAudio server, of the direct engine's ALSA driver and of the
// JACK driver playing to the test JACK server, and within a reduced set of
// allowed processors.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "audio/core/ThreadSetup.h"
#include "audio/outputs/AuASIO.h"
#include "audio/outputs/DSAudioOut.h"
#include "audio/outputs/OutputEnvironment.h"
#include "audio/processors/AudioCache.h"
#include "common/Pump.h"
#include "common/TestSource.h"
#include "tests/audio/outputs/DsTestSupport.h"
#include "tests/realtime/RealtimeTestSupport.h"

#ifdef LIRVO_TEST_WITH_JACK
#include "audio/lib/jack/JackHandles.h"
#endif

namespace lirvo {
namespace {

using namespace std::chrono_literals;
using test::ReadThreadSched;
using test::TThreadSched;

cpu_set_t Pin(uint32_t Mask) {
  cpu_set_t s = MaskWithin(Mask, AllowedCpus());
  return CPU_COUNT(&s) ? s : AllowedCpus();
}

// The processors each kind asks for, as the machine allows them.
cpu_set_t ExpectedCpus(TAudioThreadKind Kind) {
  const int n = CPUCount();
  switch (Kind) {
    case TAudioThreadKind::Playback:
      return Pin(ProcessorMask0);
    case TAudioThreadKind::Event:
      return Pin(n == 1 ? ProcessorMask0 : ProcessorMask1);
    case TAudioThreadKind::CacheFiller:
      return Pin(n == 1 ? ProcessorMask0 : n == 2 ? ProcessorMask1 : ProcessorMask2);
    case TAudioThreadKind::Driver:
      return AllowedCpus();
  }
  return AllowedCpus();
}

// The shared server's level, as the playback thread finds it when it starts.
int SharedServerLevel() {
  const int s = SharedServerRealtimePriority();
  return s < 0 ? kUnknownSharedServerPriority : s;
}

void ExpectFifo(const TThreadSched& S, int Priority, const char* What) {
  EXPECT_EQ(S.Policy, SCHED_FIFO) << What;
  EXPECT_EQ(S.Priority, Priority) << What;
  EXPECT_TRUE(S.ResetOnFork) << What << ": threads it creates must not inherit it";
}

// The playback thread's class for a choice of Priority (0: ordinary, at the
// lowest nice value).
void ExpectPlayback(const TThreadSched& S, int Priority, const char* What) {
  if (Priority > 0) {
    ExpectFifo(S, Priority, What);
  } else {
    EXPECT_EQ(S.Policy, SCHED_OTHER) << What;
    EXPECT_EQ(S.Nice, -20) << What;
    EXPECT_TRUE(S.ResetOnFork) << What << ": threads it creates must not inherit it";
  }
}

void ExpectFiller(const TThreadSched& S) {
  EXPECT_EQ(S.Policy, SCHED_OTHER) << "the filler decodes in bursts: never real-time";
  EXPECT_EQ(S.Nice, -5);
  EXPECT_TRUE(test::SameCpus(S.Cpus, ExpectedCpus(TAudioThreadKind::CacheFiller)))
      << test::CpuList(S.Cpus);
}

// --- Each kind, set up on a thread that a real-time playback thread created ---

struct TKindCase {
  TAudioThreadKind Kind;
  const char* Name;
};

TEST(AudioThreadSetup, EveryKindSetsItselfUpInsteadOfInheritingFromItsCreator) {
  const TKindCase cases[] = {{TAudioThreadKind::Playback, "playback"},
                             {TAudioThreadKind::Driver, "driver"},
                             {TAudioThreadKind::CacheFiller, "filler"},
                             {TAudioThreadKind::Event, "event"}};
  for (const TKindCase& c : cases) {
    SCOPED_TRACE(c.Name);
    std::optional<TThreadSched> creator, plain, child;
    const int server = SharedServerRealtimePriority();
    std::thread([&] {
      SetupAudioThread(TAudioThreadKind::Playback);
      creator = ReadThreadSched(CurrentTid());
      // A thread that does not set itself up starts ordinary and unboosted.
      std::thread([&] { plain = ReadThreadSched(CurrentTid()); }).join();
      std::thread([&] {
        SetupAudioThread(c.Kind);
        child = ReadThreadSched(CurrentTid());
      }).join();
    }).join();
    if (SharedServerRealtimePriority() != server)
      GTEST_SKIP() << "a shared server started or stopped meanwhile";
    ASSERT_TRUE(creator && plain && child);
    // The test runs as root: the limit does not bind.
    const int expectedPlayback =
        ChooseAudioPriorities(TAudioServer::Shared, server, kRtprioUnlimited, true).Playback;
    ExpectPlayback(*creator, expectedPlayback, "the creating playback thread");
    if (expectedPlayback > 0) {
      EXPECT_LT(creator->Priority, SharedServerLevel()) << "below the shared server";
    }
    EXPECT_EQ(plain->Policy, SCHED_OTHER);
    EXPECT_GE(plain->Nice, 0);

    switch (c.Kind) {
      case TAudioThreadKind::Playback:
        ExpectPlayback(*child, expectedPlayback, "playback");
        break;
      case TAudioThreadKind::Driver:
        ExpectFifo(*child, kDirectDriverPriority, "driver");
        break;
      case TAudioThreadKind::CacheFiller:
        ExpectFiller(*child);
        break;
      case TAudioThreadKind::Event:
        EXPECT_EQ(child->Policy, SCHED_IDLE);
        break;
    }
    EXPECT_TRUE(test::SameCpus(child->Cpus, ExpectedCpus(c.Kind)))
        << test::CpuList(child->Cpus) << ", expected " << test::CpuList(ExpectedCpus(c.Kind));
  }
  EXPECT_TRUE(RunningAudioThreads().empty()) << "ended threads leave the registry";
}

TEST(AudioThreadSetup, TheServerAnOutputNamesResetsThePlaybackThread) {
  struct TCase {
    TAudioServer Server;
    int Priority;
  };
  const TCase cases[] = {{TAudioServer::None, 0},
                         {TAudioServer::Jack, 8},
                         {TAudioServer::Jack, 0},
                         {TAudioServer::Shared, 3}};
  for (const TCase& c : cases) {
    std::optional<TThreadSched> s;
    std::thread([&] {
      SetupAudioThread(TAudioThreadKind::Playback);
      SetAudioServer(c.Server, c.Priority);
      s = ReadThreadSched(CurrentTid());
    }).join();
    ASSERT_TRUE(s);
    const int want = ChooseAudioPriorities(c.Server, c.Priority, kRtprioUnlimited, true).Playback;
    SCOPED_TRACE(testing::Message() << "server priority " << c.Priority << ", want " << want);
    ExpectPlayback(*s, want, "playback");
  }
}

TEST(AudioThreadSetup, APlaybackThreadItsOwnerMadeOrdinaryStaysSoUntilMadeTimeCriticalAgain) {
  std::optional<TThreadSched> ordinary, critical;
  std::thread([&] {
    SetupAudioThread(TAudioThreadKind::Playback);
    SetCurrentThreadPriority(tpHighest);
    SetAudioServer(TAudioServer::None, 0);
    ordinary = ReadThreadSched(CurrentTid());
    SetCurrentThreadPriority(tpTimeCritical);
    critical = ReadThreadSched(CurrentTid());
  }).join();
  ASSERT_TRUE(ordinary && critical);
  EXPECT_EQ(ordinary->Policy, SCHED_OTHER);
  EXPECT_EQ(ordinary->Nice, -10);
  ExpectFifo(*critical,
             ChooseAudioPriorities(TAudioServer::None, 0, kRtprioUnlimited, true).Playback,
             "time-critical again, for the server named meanwhile");
}

// --- The engines, playing ---

struct TPlayedThreads {
  std::optional<TThreadSched> Playback, Filler, Event, Driver;
};

// Plays In through Out (a cache in between) until the threads of the run are
// there, reads them, and stops.
TPlayedThreads ReadThreadsWhilePlaying(TAuOutput& Out, bool WithDriver) {
  TPlayedThreads t;
  Out.Run();
  const bool there = test::PumpUntil(
      [&] {
        return test::AudioThreadOf(TAudioThreadKind::Playback) &&
               test::AudioThreadOf(TAudioThreadKind::CacheFiller) &&
               test::AudioThreadOf(TAudioThreadKind::Event) &&
               (!WithDriver || test::AudioThreadOf(TAudioThreadKind::Driver));
      },
      10s);
  // Long enough into the run for PrepareOutput to have named the server.
  test::PumpFor(300ms);
  EXPECT_TRUE(there) << "the run's threads did not all start";
  auto read = [](TAudioThreadKind k) -> std::optional<TThreadSched> {
    const int tid = test::AudioThreadOf(k);
    return tid ? ReadThreadSched(tid) : std::nullopt;
  };
  t.Playback = read(TAudioThreadKind::Playback);
  t.Filler = read(TAudioThreadKind::CacheFiller);
  t.Event = read(TAudioThreadKind::Event);
  t.Driver = read(TAudioThreadKind::Driver);
  Out.Stop(false);
  return t;
}

std::unique_ptr<test::TTestSource> LongSource(TComponent* Owner) {
  auto s = std::make_unique<test::TTestSource>(Owner);
  s->TotalBytes = 44100 * 4 * 20;
  return s;
}

void ExpectCommonThreads(const TPlayedThreads& t) {
  ASSERT_TRUE(t.Playback && t.Filler && t.Event);
  EXPECT_TRUE(test::SameCpus(t.Playback->Cpus, ExpectedCpus(TAudioThreadKind::Playback)))
      << test::CpuList(t.Playback->Cpus);
  ExpectFiller(*t.Filler);
  EXPECT_EQ(t.Event->Policy, SCHED_IDLE);
  EXPECT_TRUE(test::SameCpus(t.Event->Cpus, ExpectedCpus(TAudioThreadKind::Event)));
}

TEST(SharedEngineThreads, RankBelowThePulseServer) {
  LIRVO_REQUIRE_PULSE();
  const int server = SharedServerRealtimePriority();
  ASSERT_GT(server, 0) << "the test PulseAudio server runs its sink thread real-time";
  TComponent owner;
  auto source = LongSource(&owner);
  TAudioCache cache(&owner);
  cache.SetInput(source.get());
  TDSAudioOut out(&owner, {test::PulseDevice()});
  // As the player does: the shared output's own default is an ordinary class.
  out.SetThreadPriority(tpTimeCritical);
  out.SetInput(&cache);
  const TPlayedThreads t = ReadThreadsWhilePlaying(out, false);
  if (SharedServerRealtimePriority() != server)
    GTEST_SKIP() << "a shared server started or stopped meanwhile";
  ExpectCommonThreads(t);
  ASSERT_TRUE(t.Playback);
  EXPECT_EQ(t.Playback->Policy, SCHED_FIFO);
  EXPECT_GE(t.Playback->Priority, 1);
  EXPECT_LT(t.Playback->Priority, server) << "the playback thread outranks the server it feeds";
}

TEST(DirectEngineThreads, TheDriverThreadFeedsTheDeviceAboveThePlaybackThread) {
  LIRVO_REQUIRE_PULSE();  // paces the card: a null device would let the driver spin
  alsa::TAlsaDirectSetup setup;
  setup.Config =
      "pcm.rtcard { type file slave.pcm { type pulse } file \"/dev/null\" format \"raw\" }\n";
  setup.Devices.push_back({"Real-time test card", "rtcard", {SND_PCM_FORMAT_S16_LE}});
  TOutputEnvironment env;
  env.AlsaDirect = setup;
  TASIOAudioOut::ResetOutputReadySupported();
  TComponent owner;
  auto source = LongSource(&owner);
  TAudioCache cache(&owner);
  cache.SetInput(source.get());
  TASIOAudioOut out(&owner, env);
  out.SetDeviceNumber(0);
  out.SetInput(&cache);
  const TPlayedThreads t = ReadThreadsWhilePlaying(out, true);
  ExpectCommonThreads(t);
  ASSERT_TRUE(t.Playback && t.Driver);
  const TAudioPriorities want =
      ChooseAudioPriorities(TAudioServer::None, 0, kRtprioUnlimited, true);
  ExpectFifo(*t.Driver, want.Driver, "driver");
  ExpectFifo(*t.Playback, want.Playback, "playback");
  EXPECT_TRUE(test::SameCpus(t.Driver->Cpus, AllowedCpus()))
      << "the driver thread kept its creator's pin: " << test::CpuList(t.Driver->Cpus);
}

#ifdef LIRVO_TEST_WITH_JACK
TEST(JackEngineThreads, ThePlaybackThreadStaysWithinWhatJackReports) {
  const char* server = std::getenv("LIRVO_TEST_JACK_SERVER");
  if (!server || !*server) GTEST_SKIP() << "LIRVO_TEST_JACK_SERVER is not set";
  int reported = 0;
  {
    jack::ClientPtr probe = jack::OpenClient("lirvo-rt-probe", server);
    ASSERT_TRUE(probe);
    reported = jack::ClientRealtimePriority(probe.get());
  }
  TOutputEnvironment env;
  const std::string name = server;
  env.AsioDrivers = [name] {
    return TAsioDriverList{MakeAsioDriverDesc(CLSID_JackDriver, "JACK", name)};
  };
  TASIOAudioOut::ResetOutputReadySupported();
  TComponent owner;
  auto source = LongSource(&owner);
  TAudioCache cache(&owner);
  cache.SetInput(source.get());
  TASIOAudioOut out(&owner, env);
  out.SetInput(&cache);
  const TPlayedThreads t = ReadThreadsWhilePlaying(out, false);
  ExpectCommonThreads(t);
  ASSERT_TRUE(t.Playback);
  const int want =
      ChooseAudioPriorities(TAudioServer::Jack, reported, kRtprioUnlimited, true).Playback;
  SCOPED_TRACE(testing::Message() << "JACK reports " << reported);
  ExpectPlayback(*t.Playback, want, "playback");
}
#endif

// --- Fewer processors allowed than there are ---

TEST(AudioThreadSetup, DISABLED_ChildPinsWithinTheAllowedProcessors) {
  if (!test::IsChild()) GTEST_SKIP();
  // The creating thread runs elsewhere (processor 0: the mask limits this
  // process, no cpuset does), as a pinned playback thread would.
  cpu_set_t first;
  CPU_ZERO(&first);
  CPU_SET(0, &first);
  for (TAudioThreadKind k : {TAudioThreadKind::Playback, TAudioThreadKind::Event,
                             TAudioThreadKind::CacheFiller, TAudioThreadKind::Driver}) {
    std::optional<TThreadSched> s;
    std::thread([&] {
      ASSERT_EQ(sched_setaffinity(0, sizeof(first), &first), 0);
      std::thread([&] {
        SetupAudioThread(k);
        s = ReadThreadSched(CurrentTid());
      }).join();
    }).join();
    ASSERT_TRUE(s);
    EXPECT_TRUE(test::SameCpus(s->Cpus, AllowedCpus()))
        << "kind " << static_cast<int>(k) << " on " << test::CpuList(s->Cpus) << " of "
        << test::CpuList(AllowedCpus());
  }
}

TEST(AudioThreadSetup, ThreadsOfAProcessAllowedOnlyTheLastProcessorStayOnIt) {
  if (CPUCount() < 2) GTEST_SKIP() << "needs two processors";
  REQUIRE_TOOL("taskset");
  const int last = CPUCount() - 1;
  if (!CPU_ISSET(last, &AllowedCpus()))
    GTEST_SKIP() << "this process may not use processor " << last;
  const std::string out =
      test::RunChild("AudioThreadSetup.DISABLED_ChildPinsWithinTheAllowedProcessors",
                     "taskset -c " + std::to_string(last));
  EXPECT_NE(out.find("CHILD-OK"), std::string::npos) << out;
  EXPECT_NE(out.find("[  PASSED  ] 1 test"), std::string::npos) << out;
}

}  // namespace
}  // namespace lirvo
