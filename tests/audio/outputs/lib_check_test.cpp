// The error helpers of alsa-lib and JACK: a result that is no error passes
// through, an error becomes an EAuException naming the call and carrying the
// library's own text.

#include <gtest/gtest.h>

#include <cerrno>
#include <optional>
#include <string>

#include "audio/core/AuException.h"
#include "audio/lib/alsa/AlsaHandles.h"
#include "audio/lib/jack/JackHandles.h"

using namespace lirvo;

namespace {

// Runs F; the message of the EAuException it raised, or null when none.
template <typename F>
std::optional<std::string> Raised(F&& Call) {
  try {
    Call();
  } catch (const EAuException& e) {
    return std::string(e.what());
  }
  return std::nullopt;
}

struct AlsaCase {
  int Code;
  const char* Context;
  const char* Message;  // null: no exception, Check returns Code
};

const AlsaCase kAlsaCases[] = {
    {0, "snd_pcm_hw_params", nullptr},
    {3, "snd_pcm_writei", nullptr},
    {-EINVAL, "snd_pcm_hw_params", "snd_pcm_hw_params: Invalid argument"},
    {-EPIPE, "snd_pcm_writei", "snd_pcm_writei: Broken pipe"},
    {-ENOENT, "snd_pcm_open", "snd_pcm_open: No such file or directory"},
    {-EBADFD, "snd_pcm_start", "snd_pcm_start: File descriptor in bad state"},
};

TEST(AlsaCheck, ThrowsTheLibrarysTextWithTheContext) {
  for (const AlsaCase& c : kAlsaCases) {
    SCOPED_TRACE(c.Code);
    int result = 0;
    const auto message = Raised([&] { result = alsa::Check(c.Code, c.Context); });
    if (!c.Message) {
      EXPECT_FALSE(message);
      EXPECT_EQ(result, c.Code);
    } else {
      EXPECT_EQ(message, std::optional<std::string>(c.Message));
    }
  }
}

TEST(AlsaCheck, TheDriversMessageKeepsItsPrefix) {
  EXPECT_EQ(alsa::ErrorMessage(-EIO, "ALSA"), "ALSA: Input/output error");
}

struct JackCase {
  unsigned Status;
  const char* Message;  // null: no exception
};

const JackCase kJackCases[] = {
    {0, nullptr},
    {JackServerStarted, nullptr},
    {JackNameNotUnique | JackServerStarted, nullptr},
    {JackFailure, "jack_client_open: overall operation failed"},
    {JackFailure | JackServerFailed,
     "jack_client_open: overall operation failed; unable to connect to the JACK server"},
    {JackFailure | JackVersionError | JackShmFailure,
     "jack_client_open: overall operation failed; unable to access shared memory; client's "
     "protocol version does not match"},
};

TEST(JackCheck, ThrowsTheStatusBitsWithTheContext) {
  for (const JackCase& c : kJackCases) {
    SCOPED_TRACE(c.Status);
    const auto status = static_cast<jack_status_t>(c.Status);
    jack_status_t result{};
    const auto message = Raised([&] { result = jack::Check(status, "jack_client_open"); });
    if (!c.Message) {
      EXPECT_FALSE(message);
      EXPECT_EQ(result, status);
    } else {
      EXPECT_EQ(message, std::optional<std::string>(c.Message));
    }
  }
}

TEST(JackCheck, NoBitsNoText) {
  EXPECT_EQ(jack::StatusText(static_cast<jack_status_t>(0)), "");
  EXPECT_EQ(jack::StatusText(JackServerStarted), "the JACK server was started");
}

}  // namespace
