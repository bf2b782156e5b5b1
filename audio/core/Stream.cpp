#include "audio/core/Stream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "audio/core/AuException.h"

namespace lirvo {

int64_t TStream::Size() {
  int64_t pos = Seek(0, soCurrent);
  if (pos < 0) return -1;
  int64_t end = Seek(0, soEnd);
  Seek(pos, soBeginning);
  return end;
}

TAuFileStream::TAuFileStream(const std::string& FileName, uint32_t Mode)
    : TAuFileStream(FileName, Mode, 0) {}

TAuFileStream::TAuFileStream(const std::string& FileName, uint32_t Mode, uint32_t) {
  int flags = O_CLOEXEC;
  if (Mode == fmCreate) {
    flags |= O_RDWR | O_CREAT | O_TRUNC;
  } else {
    switch (Mode & 3) {
      case 1:
        flags |= O_WRONLY;
        break;
      case 2:
        flags |= O_RDWR;
        break;
      default:
        flags |= O_RDONLY;
        break;
    }
  }
  do {
    FHandle = ::open(FileName.c_str(), flags, 0644);
  } while (FHandle < 0 && errno == EINTR);
  if (FHandle < 0) throw EAuException(std::strerror(errno));
  struct stat st;
  if (::fstat(FHandle, &st) == 0 && S_ISDIR(st.st_mode)) {
    ::close(FHandle);
    FHandle = -1;
    throw EAuException(std::strerror(EISDIR));
  }
}

TAuFileStream::~TAuFileStream() {
  if (FHandle >= 0) ::close(FHandle);
}

int64_t TAuFileStream::Read(void* Buffer, int64_t Count) {
  if (Count <= 0) return 0;
  int64_t total = 0;
  auto* p = static_cast<uint8_t*>(Buffer);
  while (total < Count) {
    ssize_t n = ::read(FHandle, p + total, static_cast<size_t>(Count - total));
    if (n < 0) {
      if (errno == EINTR) continue;
      throw EAuException(std::strerror(errno));
    }
    if (n == 0) break;
    total += n;
  }
  return total;
}

int64_t TAuFileStream::Write(const void* Buffer, int64_t Count) {
  if (Count <= 0) return 0;
  int64_t total = 0;
  auto* p = static_cast<const uint8_t*>(Buffer);
  while (total < Count) {
    ssize_t n = ::write(FHandle, p + total, static_cast<size_t>(Count - total));
    if (n < 0) {
      if (errno == EINTR) continue;
      throw EAuException(std::strerror(errno));
    }
    total += n;
  }
  return total;
}

int64_t TAuFileStream::Seek(int64_t Offset, TSeekOrigin Origin) {
  int whence = Origin == soBeginning ? SEEK_SET : Origin == soCurrent ? SEEK_CUR : SEEK_END;
  off_t r = ::lseek(FHandle, static_cast<off_t>(Offset), whence);
  return r < 0 ? -1 : static_cast<int64_t>(r);
}

int64_t TAuFileStream::Size() {
  struct stat st;
  if (::fstat(FHandle, &st) != 0) return -1;
  return static_cast<int64_t>(st.st_size);
}

TMemoryStream::TMemoryStream(const void* Data, size_t Size)
    : FData(static_cast<const uint8_t*>(Data), static_cast<const uint8_t*>(Data) + Size) {}

int64_t TMemoryStream::Read(void* Buffer, int64_t Count) {
  if (Count <= 0 || FPos >= Size()) return 0;
  int64_t n = std::min<int64_t>(Count, Size() - FPos);
  std::memcpy(Buffer, FData.data() + FPos, static_cast<size_t>(n));
  FPos += n;
  return n;
}

int64_t TMemoryStream::Write(const void* Buffer, int64_t Count) {
  if (Count <= 0) return 0;
  if (FPos + Count > Size()) FData.resize(static_cast<size_t>(FPos + Count));
  std::memcpy(FData.data() + FPos, Buffer, static_cast<size_t>(Count));
  FPos += Count;
  return Count;
}

int64_t TMemoryStream::Seek(int64_t Offset, TSeekOrigin Origin) {
  int64_t base = Origin == soBeginning ? 0 : Origin == soCurrent ? FPos : Size();
  int64_t target = base + Offset;
  if (target < 0) return -1;
  FPos = target;
  return FPos;
}

}  // namespace lirvo
