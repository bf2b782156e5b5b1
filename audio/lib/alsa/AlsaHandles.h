#pragma once
// RAII owners of alsa-lib's handles and the text of its error codes. Policy
// (which device, which format, how to pace) stays in the outputs; this file
// only owns, releases and reports.

#include <alsa/asoundlib.h>

#include <memory>
#include <string>

#include "audio/core/AuException.h"

namespace lirvo::alsa {

struct PcmDeleter {
  void operator()(snd_pcm_t* p) const {
    if (p) snd_pcm_close(p);
  }
};
struct HwParamsDeleter {
  void operator()(snd_pcm_hw_params_t* p) const {
    if (p) snd_pcm_hw_params_free(p);
  }
};
struct SwParamsDeleter {
  void operator()(snd_pcm_sw_params_t* p) const {
    if (p) snd_pcm_sw_params_free(p);
  }
};
struct ChmapDeleter {
  void operator()(snd_pcm_chmap_t* p) const { free(p); }
};
struct HintsDeleter {
  void operator()(void** p) const {
    if (p) snd_device_name_free_hint(p);
  }
};

using PcmPtr = std::unique_ptr<snd_pcm_t, PcmDeleter>;
using HwParamsPtr = std::unique_ptr<snd_pcm_hw_params_t, HwParamsDeleter>;
using SwParamsPtr = std::unique_ptr<snd_pcm_sw_params_t, SwParamsDeleter>;
using ChmapPtr = std::unique_ptr<snd_pcm_chmap_t, ChmapDeleter>;
using HintsPtr = std::unique_ptr<void*, HintsDeleter>;

inline HwParamsPtr MakeHwParams() {
  snd_pcm_hw_params_t* p = nullptr;
  return HwParamsPtr(snd_pcm_hw_params_malloc(&p) == 0 ? p : nullptr);
}
inline SwParamsPtr MakeSwParams() {
  snd_pcm_sw_params_t* p = nullptr;
  return SwParamsPtr(snd_pcm_sw_params_malloc(&p) == 0 ? p : nullptr);
}

// The text of an alsa-lib error code.
inline std::string ErrorText(int Code) {
  return snd_strerror(Code);
}

// "Context: text of Code".
inline std::string ErrorMessage(int Code, const char* Context) {
  return std::string(Context) + ": " + ErrorText(Code);
}

// Returns Code when it is not an error (>= 0); otherwise throws EAuException
// with ErrorMessage(Code, Context), e.g. Check(err, "snd_pcm_hw_params").
inline int Check(int Code, const char* Context) {
  if (Code < 0) throw EAuException(ErrorMessage(Code, Context));
  return Code;
}

}  // namespace lirvo::alsa
