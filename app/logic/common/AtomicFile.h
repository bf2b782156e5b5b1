#pragma once
// Replacing a file so that a crash, a full disk or a write error leaves
// either the old file or the new one, never a part of one: the data goes to
// a temporary file in the same folder, is flushed to disk and then renamed
// over the file. The playlist, the settings file and the session script are
// written this way.

#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>
#include <system_error>

namespace lirvo {

struct TAtomicWriteOptions {
  // The new file's permission bits; nullopt: those of the file it replaces,
  // or 0644 for a file that did not exist.
  std::optional<mode_t> Mode;
  // A missing folder is created first.
  bool CreateFolder = true;
  // A symbolic link at the path keeps pointing where it did and the file it
  // points to is replaced; otherwise the link itself is replaced.
  bool FollowLink = true;
};

struct TAtomicWriteResult {
  // The system's reason; empty when the file was written.
  std::error_code Error;
  // The missing folder could not be created (nothing else was tried).
  bool FolderFailed = false;

  explicit operator bool() const { return !Error; }
};

// Writes Data as the whole content of Path. Never throws for a file system
// error: a failure is in the result, Path is then untouched and no
// temporary file is left behind.
TAtomicWriteResult WriteFileAtomically(const std::string& Path, std::string_view Data,
                                       const TAtomicWriteOptions& Options = {});

}  // namespace lirvo
