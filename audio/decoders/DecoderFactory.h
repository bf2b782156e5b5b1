#pragma once
// The choice of decoder for a file, shared by the application and the
// command-line tools: by the file name's extension alone, without regard to
// case; the contents are never looked at.

#include <memory>
#include <string>

#include "audio/core/FileInputs.h"

namespace lirvo {

// A new decoder with Path as its file name, not yet opened: .wav gives a
// TWaveIn, .flac a TFLACIn, .ape a TMACIn, .mp3 and .wma a TWMIn. Null for
// any other extension (or none).
std::unique_ptr<TAuFileIn> CreateDecoderForFile(const std::string& path);

}  // namespace lirvo
