// The choice of the audio threads' real-time priorities from what the server
// reports and what the limits allow, and the processor masks within the
// processors the process may use.

#include <gtest/gtest.h>

#include <initializer_list>
#include <ostream>

#include "audio/core/ThreadSetup.h"
#include "tests/realtime/RealtimeTestSupport.h"

namespace lirvo {
namespace {

constexpr int kNoLimit = kRtprioUnlimited;

const char* Name(TAudioServer S) {
  switch (S) {
    case TAudioServer::Shared:
      return "shared";
    case TAudioServer::Jack:
      return "jack";
    case TAudioServer::None:
      return "none";
  }
  return "?";
}

struct TChoiceCase {
  TAudioServer Server;
  int ServerPriority;
  int RtprioLimit;
  bool Privileged;
  int Playback;
  int Driver;
};

std::ostream& operator<<(std::ostream& os, const TChoiceCase& c) {
  return os << Name(c.Server) << " at " << c.ServerPriority << ", RLIMIT_RTPRIO "
            << (c.RtprioLimit == kNoLimit ? std::string("unlimited")
                                          : std::to_string(c.RtprioLimit))
            << (c.Privileged ? ", CAP_SYS_NICE" : "");
}

class PriorityChoice : public ::testing::TestWithParam<TChoiceCase> {};

TEST_P(PriorityChoice, StaysBelowTheServerAndWithinTheLimit) {
  const TChoiceCase& c = GetParam();
  const TAudioPriorities got =
      ChooseAudioPriorities(c.Server, c.ServerPriority, c.RtprioLimit, c.Privileged);
  EXPECT_EQ(got.Playback, c.Playback);
  EXPECT_EQ(got.Driver, c.Driver);
}

INSTANTIATE_TEST_SUITE_P(Table, PriorityChoice,
                         ::testing::Values(
                             // JACK: one below the client priority it reports; none without
                             // real-time JACK.
                             TChoiceCase{TAudioServer::Jack, 10, kNoLimit, true, 9, 0},
                             TChoiceCase{TAudioServer::Jack, 10, 5, false, 5, 0},
                             TChoiceCase{TAudioServer::Jack, 10, 5, true, 9, 0},
                             TChoiceCase{TAudioServer::Jack, 0, kNoLimit, true, 0, 0},
                             TChoiceCase{TAudioServer::Jack, 1, kNoLimit, true, 1, 0},
                             TChoiceCase{TAudioServer::Jack, 80, kNoLimit, true, 14, 0},
                             // PulseAudio at 5, PipeWire under RTKit at 20, a server without
                             // real-time threads, one that could not be read.
                             TChoiceCase{TAudioServer::Shared, 5, kNoLimit, true, 4, 0},
                             TChoiceCase{TAudioServer::Shared, 20, kNoLimit, true, 14, 0},
                             TChoiceCase{TAudioServer::Shared, 0, kNoLimit, true, 0, 0},
                             TChoiceCase{TAudioServer::Shared, -1, kNoLimit, true, 4, 0},
                             TChoiceCase{TAudioServer::Shared, 5, 0, false, 0, 0},
                             TChoiceCase{TAudioServer::Shared, 5, 0, true, 4, 0},
                             TChoiceCase{TAudioServer::Shared, 5, 2, false, 2, 0},
                             // The hardware directly: the driver thread moderate, the playback
                             // thread below it, both within RLIMIT_RTPRIO unless privileged.
                             TChoiceCase{TAudioServer::None, 0, kNoLimit, true, 14, 15},
                             TChoiceCase{TAudioServer::None, 0, kNoLimit, false, 14, 15},
                             TChoiceCase{TAudioServer::None, 0, 95, false, 14, 15},
                             TChoiceCase{TAudioServer::None, 0, 10, false, 10, 10},
                             TChoiceCase{TAudioServer::None, 0, 10, true, 14, 15},
                             TChoiceCase{TAudioServer::None, 0, 0, false, 0, 0},
                             TChoiceCase{TAudioServer::None, 99, kNoLimit, true, 14, 15}));

TEST(PriorityChoiceSweep, NoChoiceOutranksTheServerOrTheDriverOrLeavesTheModerateRange) {
  for (TAudioServer server : {TAudioServer::Shared, TAudioServer::Jack, TAudioServer::None})
    for (int prio = -1; prio <= 99; ++prio)
      for (int limit : {0, 1, 3, 10, 15, 99, kNoLimit})
        for (bool privileged : {false, true}) {
          const TAudioPriorities p = ChooseAudioPriorities(server, prio, limit, privileged);
          const TChoiceCase c{server, prio, limit, privileged, 0, 0};
          SCOPED_TRACE(::testing::Message() << c);
          EXPECT_GE(p.Playback, 0);
          EXPECT_LE(p.Playback, 20);
          EXPECT_LE(p.Driver, 20);
          if (!privileged) {
            EXPECT_LE(p.Playback, limit);
            EXPECT_LE(p.Driver, limit);
          }
          if (server == TAudioServer::None) {
            EXPECT_LE(p.Playback, p.Driver) << "the playback thread feeds the driver thread";
          } else {
            EXPECT_EQ(p.Driver, 0) << "no driver thread of ours";
            if (prio >= 0) {
              EXPECT_LE(p.Playback, prio);
            }
          }
        }
}

struct TMaskCase {
  uint32_t Mask;
  std::initializer_list<int> Allowed;
  std::initializer_list<int> Expected;
};

cpu_set_t SetOf(std::initializer_list<int> Cpus) {
  cpu_set_t s;
  CPU_ZERO(&s);
  for (int c : Cpus)
    CPU_SET(c, &s);
  return s;
}

TEST(ProcessorMask, KeepsOnlyTheAllowedProcessors) {
  const TMaskCase cases[] = {
      {ProcessorMask0, {0, 1}, {0}},
      {ProcessorMask0, {1}, {}},  // a container limited to processor 1
      {ProcessorMask1, {1}, {1}},
      {ProcessorMask1 | ProcessorMask2, {0, 1}, {1}},
      {~0u, {2, 3}, {2, 3}},
      {0, {0, 1}, {}},
      {1u << 31, {31, 40}, {31}},
  };
  for (const TMaskCase& c : cases) {
    const cpu_set_t got = MaskWithin(c.Mask, SetOf(c.Allowed));
    const cpu_set_t want = SetOf(c.Expected);
    EXPECT_TRUE(test::SameCpus(got, want))
        << "mask " << c.Mask << ": " << test::CpuList(got) << ", expected " << test::CpuList(want);
  }
}

}  // namespace
}  // namespace lirvo
