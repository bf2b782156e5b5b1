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
std::atomic<bool> gFlacAvailable{true};
std::atomic<bool> gMacAvailable{true};
std::mutex gErrorCS;  // guards gLastError
std::string gLastError;

void SetError(const std::string& Text) {
  std::lock_guard<std::mutex> lock(gErrorCS);
  gLastError = Text;
}

}  // namespace

void LoadFlacImage() {
  std::lock_guard<std::recursive_mutex> lock(LoadLibCS);
  if (gFlacLoaded) return;
  if (!gFlacAvailable || FLAC__VERSION_STRING == nullptr) {
    SetError("libFLAC is not available");
    return;
  }
  gFlacLoaded = true;
}

void UnloadFlacImage() {
  std::lock_guard<std::recursive_mutex> lock(LoadLibCS);
  gFlacLoaded = false;
}

bool FlacImageLoaded() {
  return gFlacLoaded;
}

void LoadMacImage() {
  std::lock_guard<std::recursive_mutex> lock(LoadLibCS);
  if (gMacLoaded) return;
  if (!gMacAvailable || !ffmpeg::HasDecoder(AV_CODEC_ID_APE)) {
    SetError("FFmpeg has no Monkey's Audio decoder");
    return;
  }
  gMacLoaded = true;
}

void UnloadMacImage() {
  std::lock_guard<std::recursive_mutex> lock(LoadLibCS);
  gMacLoaded = false;
}

bool MacImageLoaded() {
  return gMacLoaded;
}

std::string LastLoaderError() {
  std::lock_guard<std::mutex> lock(gErrorCS);
  return gLastError;
}

void SetFlacLibraryAvailable(bool Available) {
  gFlacAvailable = Available;
  if (!Available) UnloadFlacImage();
}

void SetMacLibraryAvailable(bool Available) {
  gMacAvailable = Available;
  if (!Available) UnloadMacImage();
}

}  // namespace lirvo
