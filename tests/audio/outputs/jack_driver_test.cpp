// The JACK direct driver against the tests' own JACK server (named by
// LIRVO_TEST_JACK_SERVER, started by scripts/test-servers): a capture client
// of the test's own receives what the player's ports send, which must be the
// float equivalent of the stream. Without a server only the failure to open
// is checked.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "audio/lib/jack/JackHandles.h"
#include "audio/outputs/AuASIO.h"
#include "audio/outputs/OutputEnvironment.h"
#include "audio/outputs/drivers/JackDriver.h"
#include "audio/processors/AudioCache.h"
#include "audio/processors/AudioConverters.h"
#include "common/Pump.h"
#include "common/TestSource.h"
#include "common/WakeProbe.h"
#include "tests/audio/outputs/AsioTestSupport.h"

using namespace lirvo;
using namespace lirvo::test;
using namespace std::chrono_literals;

namespace {

// The wake-up probes run at the lowest real-time priority: above every
// ordinary thread, below the server and its clients, which they must not
// delay.
constexpr int kProbePriority = 1;

std::string TestServer() {
  const char* s = std::getenv("LIRVO_TEST_JACK_SERVER");
  return s ? s : "";
}

// A client with two input ports that records what reaches them, interleaved,
// into memory reserved up front (its process callback only copies).
class TJackCapture {
 public:
  bool Open(const std::string& Server, size_t MaxFrames) {
    FData.assign(MaxFrames * 2, 0.0f);
    FClient = jack::OpenClient("lirvo-test-capture", Server);
    if (!FClient) return false;
    for (int c = 0; c < 2; ++c) {
      const std::string name = "in_" + std::to_string(c + 1);
      FPorts[c] = jack_port_register(FClient.get(), name.c_str(), JACK_DEFAULT_AUDIO_TYPE,
                                     JackPortIsInput, 0);
      if (!FPorts[c]) return false;
    }
    jack_set_process_callback(FClient.get(), &TJackCapture::Process, this);
    jack_set_xrun_callback(FClient.get(), &TJackCapture::Xrun, this);
    return jack_activate(FClient.get()) == 0;
  }
  ~TJackCapture() {
    if (FClient) jack_deactivate(FClient.get());
  }
  std::vector<std::string> PortNames() const {
    return {jack_port_name(FPorts[0]), jack_port_name(FPorts[1])};
  }
  jack_client_t* Client() const { return FClient.get(); }
  // Stops recording and returns what came, as bytes.
  std::vector<uint8_t> Take() {
    jack_deactivate(FClient.get());
    const size_t n = FCount.load(std::memory_order_acquire);
    std::vector<uint8_t> out(n * 4);
    std::memcpy(out.data(), FData.data(), out.size());
    return out;
  }
  uint32_t Period() const { return jack_get_buffer_size(FClient.get()); }
  int Xruns() const { return FXruns.load(); }

 private:
  // JACK runs this after the player's cycle and orders the two through its
  // own futexes, which ThreadSanitizer cannot see; the copy is left out of its
  // view (the player's side is checked in full).
#if defined(__SANITIZE_THREAD__)
  __attribute__((no_sanitize("thread")))
#endif
  static int
  Process(jack_nframes_t Frames, void* Arg) noexcept {
    auto* self = static_cast<TJackCapture*>(Arg);
    const float* in[2];
    for (int c = 0; c < 2; ++c)
      in[c] = static_cast<const float*>(jack_port_get_buffer(self->FPorts[c], Frames));
    size_t at = self->FCount.load(std::memory_order_relaxed);
    for (jack_nframes_t f = 0; f < Frames && at + 2 <= self->FData.size(); ++f, at += 2) {
      self->FData[at] = in[0][f];
      self->FData[at + 1] = in[1][f];
    }
    self->FCount.store(at, std::memory_order_release);
    return 0;
  }

  static int Xrun(void* Arg) noexcept {
    ++static_cast<TJackCapture*>(Arg)->FXruns;
    return 0;
  }

  jack::ClientPtr FClient;
  std::atomic<int> FXruns{0};
  jack_port_t* FPorts[2] = {};
  std::vector<float> FData;
  std::atomic<size_t> FCount{0};
};

// A client that, when told, stalls its process callback once: the server
// misses that cycle's deadline (an xrun for every client).
class TJackStaller {
 public:
  bool Open(const std::string& Server) {
    FClient = jack::OpenClient("lirvo-test-staller", Server);
    if (!FClient) return false;
    jack_set_process_callback(FClient.get(), &TJackStaller::Process, this);
    jack_set_xrun_callback(FClient.get(), &TJackStaller::Xrun, this);
    return jack_activate(FClient.get()) == 0;
  }
  ~TJackStaller() {
    if (FClient) jack_deactivate(FClient.get());
  }
  void StallOnce(std::chrono::milliseconds For) { FStallMs.store(For.count()); }
  int Xruns() const { return FXruns.load(); }

 private:
  // Not noexcept: a real-time server may have libjack cancel the stalled
  // thread, and the cancellation unwinds through this frame.
  static int Process(jack_nframes_t, void* Arg) {
    auto* self = static_cast<TJackStaller*>(Arg);
    const int64_t ms = self->FStallMs.exchange(0);
    if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    return 0;
  }
  static int Xrun(void* Arg) noexcept {
    ++static_cast<TJackStaller*>(Arg)->FXruns;
    return 0;
  }

  jack::ClientPtr FClient;
  std::atomic<int64_t> FStallMs{0};
  std::atomic<int> FXruns{0};
};

TEST(JackDriver, WithoutAServerTheDriverCannotBeOpenedAndNoneIsStarted) {
  EXPECT_EQ(jack::CreateJackDriver("JACK", "lirvo-no-such-server"), nullptr);
  TOutputEnvironment env;
  env.AsioDrivers = [] {
    return TAsioDriverList{MakeAsioDriverDesc(CLSID_JackDriver, "JACK", "lirvo-no-such-server")};
  };
  auto out = std::make_unique<TASIOAudioOut>(nullptr, env);
  try {
    out->OutputBPS();
    ADD_FAILURE() << "opened a driver without a server";
  } catch (const EAuException& e) {
    EXPECT_STREQ(e.what(), "Failed to open ASIO device");
  }
  // Had a server been started on demand, it would answer now.
  EXPECT_EQ(jack::OpenClient("lirvo-probe", "lirvo-no-such-server"), nullptr);
}

class JackDriverTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Server = TestServer();
    if (Server.empty())
      GTEST_SKIP() << "LIRVO_TEST_JACK_SERVER is not set: no JACK test server "
                      "(scripts/test-servers starts one)";
    const std::string server = Server;
    Env.AsioDrivers = [server] {
      return TAsioDriverList{MakeAsioDriverDesc(CLSID_JackDriver, "JACK", server)};
    };
    TASIOAudioOut::ResetOutputReadySupported();
  }

  std::unique_ptr<TASIOAudioOut> MakeOutput() {
    auto out = std::make_unique<TASIOAudioOut>(nullptr, Env);
    out->SetOnDone([this](TComponent*) { ++Done; });
    return out;
  }

  bool Play(TASIOAudioOut& Out, TAuInput& In, std::chrono::milliseconds Timeout = 60s) {
    const int before = Done.load();
    Out.SetInput(&In);
    Out.Run();
    return PumpUntil([&] { return Done.load() > before; }, Timeout);
  }

  uint32_t ServerRate() {
    jack::ClientPtr probe = jack::OpenClient("lirvo-probe", Server);
    return probe ? jack_get_sample_rate(probe.get()) : 0;
  }

  uint32_t ServerPeriod() {
    jack::ClientPtr probe = jack::OpenClient("lirvo-probe", Server);
    return probe ? jack_get_buffer_size(probe.get()) : 0;
  }

  // The cycles the server logged as missed since the log had Offset bytes:
  // those naming the player's client are the player's fault; the others (the
  // dummy driver woken late, another client not scheduled in time) are the
  // machine's, which no player can prevent.
  struct TServerMisses {
    int Ours = 0;
    std::string OursLines;
    std::string Others;
  };
  static std::streamoff ServerLogSize() {
    const char* path = std::getenv("LIRVO_TEST_JACK_LOG");
    if (!path) return 0;
    std::ifstream f(path, std::ios::binary | std::ios::ate);
    return f ? static_cast<std::streamoff>(f.tellg()) : 0;
  }
  static TServerMisses ServerMissesSince(std::streamoff Offset) {
    TServerMisses m;
    const char* path = std::getenv("LIRVO_TEST_JACK_LOG");
    if (!path) return m;
    std::ifstream f(path, std::ios::binary);
    f.seekg(Offset);
    std::string line;
    int captureRunning = 0;
    while (std::getline(f, line)) {
      if (line.find("XRun") == std::string::npos) continue;
      // "Triggered": the client was woken but the kernel had not run it yet
      // (the machine's); "Running": its callback was still on when the cycle
      // ended, which is the player's fault unless the capture client, whose
      // callback only copies, was caught the same way (a machine that stops
      // running threads for a whole cycle).
      const bool running = line.find("state = Running") != std::string::npos;
      if (line.find("client = Lirvo Player") != std::string::npos && running) {
        ++m.Ours;
        m.OursLines += "  " + line + "\n";
      } else {
        if (running) ++captureRunning;
        m.Others += "  " + line + "\n";
      }
    }
    if (captureRunning > 0) {
      m.Others += m.OursLines;
      m.Ours = 0;
      m.OursLines.clear();
    }
    return m;
  }

  // Plays Frames frames of a Bits-bit source through the converter and the
  // cache into a capture client, and checks that every frame arrived, with no
  // cycle missed on either side. A run the machine made the server miss a
  // cycle in (not the player: its client finished every cycle, no shortfall)
  // is played again, up to Attempts times; when every attempt had one the
  // test is skipped with the server's lines, since no frame comparison can
  // hold across a cycle the server itself lost. A cycle the server blames on
  // the player's client counts as the machine's too when the wake-up probes
  // saw the machine wake a real-time thread more than a period late
  // meanwhile (then no client could have kept time).
  void PlayAndCompare(TASIOBufferSize Choice, uint32_t Bits, int64_t Frames, int Attempts = 3) {
    std::string machine;
    for (int attempt = 0; attempt < Attempts; ++attempt) {
      const std::streamoff logAt = ServerLogSize();
      bool retry = false;
      PlayAndCompareOnce(Choice, Bits, Frames, logAt, retry, machine);
      if (!retry || HasFailure()) return;
    }
    GTEST_SKIP() << "the server missed cycles in every attempt, none of them the player's:\n"
                 << machine;
  }

  void PlayAndCompareOnce(TASIOBufferSize Choice, uint32_t Bits, int64_t Frames,
                          std::streamoff LogAt, bool& Retry, std::string& Machine) {
    const uint32_t rate = ServerRate();
    ASSERT_NE(rate, 0u);
    TJackCapture cap;
    ASSERT_TRUE(cap.Open(Server, static_cast<size_t>(Frames) + 4 * rate));
    Env.JackDestinationPorts = cap.PortNames();
    TTestSource src;
    src.Bits = Bits;
    src.Rate = rate;
    src.TotalBytes = Frames * 2 * Bits / 8;
    TAudioConverter conv;
    conv.SetOutBitsPerSample(32);
    conv.SetOutChannels(2);
    conv.SetInput(&src);
    TAudioCache cache{nullptr};
    cache.SetInput(&conv);
    auto out = MakeOutput();
    out->SetASIOBufferSize(Choice);
    // How late the machine wakes a real-time thread meanwhile: a cycle lost
    // while it was later than a period is the machine's, whichever client
    // the server names.
    auto probes = std::make_unique<TWakeProbes>(kProbePriority);
    ASSERT_TRUE(Play(*out, cache, std::chrono::seconds(Frames / rate + 60)));
    const int64_t machineLateUs = probes->MaxLateUs();
    probes.reset();
    EXPECT_EQ(out->ExceptionMessage(), "");
    EXPECT_EQ(out->Shortfalls(), 0u);
    const uint64_t xruns = out->DeviceXruns();
    out.reset();
    cache.SetInput(nullptr);
    conv.SetInput(nullptr);
    if (xruns > 0) {
      // Let the server's log catch up with what it reported.
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
      const TServerMisses m = ServerMissesSince(LogAt);
      const int64_t periodUs = static_cast<int64_t>(ServerPeriod()) * 1000000 / rate;
      if (m.Ours > 0 && machineLateUs > periodUs && !HasFailure()) {
        Machine = m.OursLines + "  while a real-time thread was woken " +
                  std::to_string(machineLateUs) + " us late (a period is " +
                  std::to_string(periodUs) + " us)\n";
        std::printf("note: the machine was late by more than a period; playing again\n%s",
                    Machine.c_str());
        Retry = true;
        return;
      }
      EXPECT_EQ(m.Ours, 0) << "the player's client did not finish a cycle in time, while the "
                           << "machine woke a real-time thread at most " << machineLateUs
                           << " us late:\n"
                           << m.OursLines;
      if (m.Ours == 0 && !m.Others.empty() && !HasFailure()) {
        std::printf("note: %llu xrun(s) of the machine, not the player; playing again\n%s",
                    static_cast<unsigned long long>(xruns), m.Others.c_str());
        Machine = m.Others;
        Retry = true;
        return;
      }
      EXPECT_EQ(xruns, 0u);
    }
    // The cycles before our start are silent; from the first one we played,
    // a cycle is one half.
    const size_t cycle = cap.Period() * 2 * 4;
    std::vector<uint8_t> got = cap.Take();
    size_t lead = 0;
    while (lead + cycle <= got.size() && std::all_of(got.begin() + lead, got.begin() + lead + cycle,
                                                     [](uint8_t b) { return b == 0; }))
      lead += cycle;
    got.erase(got.begin(), got.begin() + lead);
    EXPECT_TRUE(ExactThenSilence(got, BytesFloat(WidenedPattern(Bits, src.TotalBytes))));
  }

  std::string Server;
  TOutputEnvironment Env;  // the test server, and the ports a test captures through
  std::atomic<int> Done{0};
};

TEST_F(JackDriverTest, DriverOffersOnlyTheServersRateAndPeriodAsFloat) {
  std::unique_ptr<IAsioHost> drv = jack::CreateJackDriver("JACK", Server);
  ASSERT_NE(drv, nullptr);
  jack::ClientPtr probe = jack::OpenClient("lirvo-probe", Server);
  ASSERT_TRUE(probe);
  const int32_t period = static_cast<int32_t>(jack_get_buffer_size(probe.get()));
  const double rate = jack_get_sample_rate(probe.get());
  EXPECT_EQ(drv->init(nullptr), ASIOTrue);
  int32_t mn = 0, mx = 0, pref = 0, gran = -1;
  drv->getBufferSize(&mn, &mx, &pref, &gran);
  EXPECT_EQ(mn, period);
  EXPECT_EQ(mx, period);
  EXPECT_EQ(pref, period);
  EXPECT_EQ(drv->canSampleRate(rate), ASE_OK);
  EXPECT_EQ(drv->canSampleRate(rate + 1), ASE_NoClock);
  EXPECT_EQ(drv->setSampleRate(rate + 1), ASE_NoClock);
  int32_t ins = -1, outs = 0;
  drv->getChannels(&ins, &outs);
  EXPECT_EQ(ins, 0);
  EXPECT_GE(outs, 2);
  ASIOChannelInfo info{};
  ASSERT_EQ(drv->getChannelInfo(&info), ASE_OK);
  EXPECT_EQ(info.type, ASIOSTFloat32LSB);
}

TEST_F(JackDriverTest, SourceAtAnotherRateIsRefused) {
  jack::ClientPtr probe = jack::OpenClient("lirvo-probe", Server);
  ASSERT_TRUE(probe);
  const uint32_t other = jack_get_sample_rate(probe.get()) == 48000 ? 44100 : 48000;
  auto out = MakeOutput();
  TTestSource src;
  src.Rate = other;
  ASSERT_TRUE(Play(*out, src));
  EXPECT_EQ(out->ExceptionMessage(), "ASIO driver doesn't support sample rate of " +
                                         std::to_string(other) + ". Use resampler.");
}

// The player's chain into JACK, at each buffer-size choice (JACK offers only
// its period for all three): the capture holds the float equivalent of the
// converter's 32-bit samples (exact for 16 and 24 bits), every frame from the
// first one, with no cycle missed (no shortfall, no xrun), then silence.
TEST_F(JackDriverTest, WhatReachesJackIsTheFloatEquivalentOfTheStream) {
  const uint32_t rate = ServerRate();
  const struct {
    TASIOBufferSize Choice;
    uint32_t Bits;
  } cases[] = {{absMinimum, 16}, {absPreferred, 24}, {absMaximum, 16}};
  for (const auto& t : cases) {
    SCOPED_TRACE(std::to_string(t.Choice) + ", " + std::to_string(t.Bits) + " bits");
    PlayAndCompare(t.Choice, t.Bits, rate / 2 + 17);
    if (IsSkipped() || HasFailure()) return;
  }
}

// A minute at the smallest buffer with the other core busy (a spinning thread
// at normal priority): every frame arrives, and neither the player (no
// shortfall) nor the server (no xrun) misses a cycle.
// LIRVO_JACK_LONG_SECONDS shortens it for development.
TEST_F(JackDriverTest, AMinuteAtTheSmallestBufferWithTheOtherCoreBusyMissesNoCycle) {
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "timing under a sanitizer says nothing about the real-time path";
#endif
  int64_t seconds = 60;
  if (const char* e = std::getenv("LIRVO_JACK_LONG_SECONDS")) seconds = std::max(1, std::atoi(e));
  std::atomic<bool> busy{true};
  std::thread spinner([&] {
    volatile uint64_t n = 0;
    while (busy.load(std::memory_order_relaxed))
      n = n + 1;
  });
  PlayAndCompare(absMinimum, 16, static_cast<int64_t>(ServerRate()) * seconds + 17, 2);
  busy = false;
  spinner.join();
}

// The server's xruns during a run (here: another client that stalls one
// cycle) are the driver's own, counted apart from the shortfalls.
TEST_F(JackDriverTest, TheServersXrunsDuringARunAreCounted) {
  TJackStaller staller;
  ASSERT_TRUE(staller.Open(Server));
  auto out = MakeOutput();
  TTestSource src;
  src.Rate = ServerRate();
  src.TotalBytes = int64_t(src.Rate) * 4 * 30;
  out->SetInput(&src);
  out->Run();
  ASSERT_TRUE(PumpUntil([&] { return src.Position() > int64_t(src.Rate) * 4 / 4; }, 10s));
  // A busy machine may have given the (unprivileged) server xruns already.
  const uint64_t before = out->DeviceXruns();
  staller.StallOnce(std::chrono::milliseconds(100));
  EXPECT_TRUE(PumpUntil([&] { return out->DeviceXruns() > before; }, 10s))
      << "the staller saw " << staller.Xruns() << " xrun(s)";
  out->Stop(false);
}

TEST_F(JackDriverTest, PortsAreConnectedToTheServersPlaybackPortsWhilePlaying) {
  jack::ClientPtr probe = jack::OpenClient("lirvo-probe", Server);
  ASSERT_TRUE(probe);
  jack::NamesPtr playback(jack_get_ports(probe.get(), nullptr, JACK_DEFAULT_AUDIO_TYPE,
                                         JackPortIsPhysical | JackPortIsInput));
  if (!playback || !playback.get()[0] || !playback.get()[1])
    GTEST_SKIP() << "the test server has fewer than two playback ports";
  const std::string first = playback.get()[0];
  auto out = MakeOutput();
  TTestSource src;
  src.Rate = jack_get_sample_rate(probe.get());
  src.TotalBytes = int64_t(src.Rate) * 4 * 2;
  out->SetInput(&src);
  out->Run();
  bool connected = PumpUntil(
      [&] {
        jack::NamesPtr ports(jack_get_ports(probe.get(), "^Lirvo Player.*:out_1$", nullptr, 0));
        if (!ports || !ports.get()[0]) return false;
        jack_port_t* p = jack_port_by_name(probe.get(), ports.get()[0]);
        jack::NamesPtr conns(p ? jack_port_get_all_connections(probe.get(), p) : nullptr);
        return conns && conns.get()[0] && first == conns.get()[0];
      },
      10s);
  out->Stop(false);
  EXPECT_TRUE(connected);
}

}  // namespace
