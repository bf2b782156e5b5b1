#pragma once
// The one exception class of the audio framework. Its message is English
// text that the UI shows (or translates) as it stands.

#include <stdexcept>
#include <string>

namespace lirvo {

class EAuException : public std::runtime_error {
 public:
  explicit EAuException(const std::string& message) : std::runtime_error(message) {}
};

}  // namespace lirvo
