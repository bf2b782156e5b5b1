#pragma once
// RAII owners of alsa-lib's handles. Policy (which device, which format,
// how to pace) stays in the outputs; this file only owns and releases.

#include <alsa/asoundlib.h>

#include <memory>
#include <string>

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

}  // namespace lirvo::alsa
