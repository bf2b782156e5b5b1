#include "app/logic/common/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

namespace lirvo {

namespace fs = std::filesystem;

namespace {

std::error_code LastError() {
  return {errno, std::generic_category()};
}

// The temporary file until it has been renamed into place: closed and
// removed on every way out before that.
class TTempFile {
 public:
  TTempFile() = default;
  TTempFile(const TTempFile&) = delete;
  TTempFile& operator=(const TTempFile&) = delete;
  ~TTempFile() {
    if (FFd >= 0) ::close(FFd);
    if (!FName.empty()) ::unlink(FName.c_str());
  }
  int FFd = -1;
  std::string FName;  // cleared once renamed into place
};

bool WriteAll(int Fd, std::string_view Data) {
  size_t done = 0;
  while (done < Data.size()) {
    const ssize_t n = ::write(Fd, Data.data() + done, Data.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) {
      errno = EIO;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

TAtomicWriteResult WriteFileAtomically(const std::string& Path, std::string_view Data,
                                       const TAtomicWriteOptions& Options) {
  std::error_code ec;
  fs::path target(Path);
  if (Options.FollowLink && fs::is_symlink(target, ec)) {
    const fs::path resolved = fs::canonical(target, ec);
    if (!ec) target = resolved;
  }
  fs::path dir = target.parent_path();
  if (dir.empty()) dir = ".";
  if (Options.CreateFolder) {
    ec.clear();
    fs::create_directories(dir, ec);
    if (ec) return {ec, true};
  }

  TTempFile temp;
  std::string name = (dir / ("." + target.filename().string() + ".XXXXXX")).string();
  temp.FFd = ::mkostemp(name.data(), O_CLOEXEC);
  if (temp.FFd < 0) return {LastError()};
  temp.FName = name;

  if (!WriteAll(temp.FFd, Data)) return {LastError()};
  // mkostemp makes the file private; the new file gets the mode asked for,
  // or the old file's, or the usual one for a new file. A mode asked for
  // must hold (a session script has to stay executable); keeping the old
  // one is a courtesy.
  mode_t mode = 0644;
  if (Options.Mode) {
    mode = *Options.Mode;
  } else if (struct stat old{}; ::stat(target.c_str(), &old) == 0) {
    mode = old.st_mode & 07777;
  }
  if (::fchmod(temp.FFd, mode) != 0 && Options.Mode) return {LastError()};
  if (::fsync(temp.FFd) != 0) return {LastError()};
  const int fd = temp.FFd;
  temp.FFd = -1;
  if (::close(fd) != 0) return {LastError()};
  if (::rename(temp.FName.c_str(), target.c_str()) != 0) return {LastError()};
  temp.FName.clear();
  // Make the rename itself durable; a folder that cannot be synced still
  // holds the complete new file.
  const int dirFd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd >= 0) {
    ::fsync(dirFd);
    ::close(dirFd);
  }
  return {};
}

}  // namespace lirvo
