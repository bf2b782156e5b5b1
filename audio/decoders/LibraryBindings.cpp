#include "audio/decoders/LibraryBindings.h"

#include <FLAC/format.h>

#include <atomic>
#include <mutex>

#include "audio/core/Pool.h"
#include "audio/lib/ffmpeg/FfmpegHandles.h"

namespace lirvo {

namespace {

std::atomic<bool> gFlacLoaded{false};
std::atomic<bool> gMacLoaded{false};
std::mutex gErrorCS;  // guards gLastError
std::string gLastError;

void SetError(const std::string& Text) {
  std::lock_guard<std::mutex> lock(gErrorCS);
  gLastError = Text;
}

}  // namespace

void LoadFlacImage(const TDecoderEnvironment& Env) {
  std::lock_guard<std::recursive_mutex> lock(LoadLibCS);
  if (FlacImageLoaded(Env)) return;
  if (!Env.FlacLibraryAvailable || FLAC__VERSION_STRING == nullptr) {
    SetError("libFLAC is not available");
    return;
  }
  gFlacLoaded = true;
}

void UnloadFlacImage() {
  std::lock_guard<std::recursive_mutex> lock(LoadLibCS);
  gFlacLoaded = false;
}

bool FlacImageLoaded(const TDecoderEnvironment& Env) {
  return Env.FlacLibraryAvailable && gFlacLoaded;
}

void LoadMacImage(const TDecoderEnvironment& Env) {
  std::lock_guard<std::recursive_mutex> lock(LoadLibCS);
  if (MacImageLoaded(Env)) return;
  if (!Env.MacLibraryAvailable || !ffmpeg::HasDecoder(AV_CODEC_ID_APE)) {
    SetError("FFmpeg has no Monkey's Audio decoder");
    return;
  }
  gMacLoaded = true;
}

void UnloadMacImage() {
  std::lock_guard<std::recursive_mutex> lock(LoadLibCS);
  gMacLoaded = false;
}

bool MacImageLoaded(const TDecoderEnvironment& Env) {
  return Env.MacLibraryAvailable && gMacLoaded;
}

std::string LastLoaderError() {
  std::lock_guard<std::mutex> lock(gErrorCS);
  return gLastError;
}

}  // namespace lirvo
