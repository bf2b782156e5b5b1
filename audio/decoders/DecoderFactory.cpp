#include "audio/decoders/DecoderFactory.h"

#include <string_view>

#include "audio/core/TextCodec.h"
#include "audio/decoders/AudioFLAC.h"
#include "audio/decoders/AudioMAC.h"
#include "audio/decoders/AudioWave.h"
#include "audio/decoders/AudioWinMedia.h"

namespace lirvo {

namespace {

// The extension with its dot ("" when the last path component has none).
std::string_view Extension(std::string_view Path) {
  const size_t slash = Path.find_last_of('/');
  const size_t dot = Path.find_last_of('.');
  if (dot == std::string_view::npos || (slash != std::string_view::npos && dot < slash)) return {};
  return Path.substr(dot);
}

}  // namespace

std::unique_ptr<TAuFileIn> CreateDecoderForFile(const std::string& path) {
  const std::string_view ext = Extension(path);
  std::unique_ptr<TAuFileIn> in;
  if (SameText(ext, ".wav"))
    in = std::make_unique<TWaveIn>();
  else if (SameText(ext, ".flac"))
    in = std::make_unique<TFLACIn>();
  else if (SameText(ext, ".ape"))
    in = std::make_unique<TMACIn>();
  else if (SameText(ext, ".mp3") || SameText(ext, ".wma"))
    in = std::make_unique<TWMIn>();
  if (in) in->SetFileName(path);
  return in;
}

}  // namespace lirvo
