#pragma once
// Byte streams the decoders and tag readers read: an abstract stream, the file
// stream over a POSIX descriptor and a memory stream (for readers that parse
// bytes already in memory, tests and fuzzers).
//
// A stream is used by one thread at a time (its owner's data lock serialises
// the calls); none of them is thread-safe by itself.

#include <cstdint>
#include <string>
#include <vector>

namespace lirvo {

enum TSeekOrigin { soBeginning = 0, soCurrent = 1, soEnd = 2 };

class TStream {
 public:
  virtual ~TStream() = default;
  // Reads up to Count bytes; returns how many were read (0 at the end).
  // Throws EAuException on an I/O error.
  virtual int64_t Read(void* Buffer, int64_t Count) = 0;
  // Writes Count bytes; returns how many were written. Throws on error.
  virtual int64_t Write(const void* Buffer, int64_t Count) = 0;
  // Moves the position; returns the new position, or -1 when the move fails.
  virtual int64_t Seek(int64_t Offset, TSeekOrigin Origin) = 0;
  // Total size in bytes; -1 when unknown.
  virtual int64_t Size();

  int64_t Position() { return Seek(0, soCurrent); }
  void SetPosition(int64_t Pos) { Seek(Pos, soBeginning); }
  // Reads exactly Count bytes or returns false (the position is then past
  // what could be read).
  bool ReadExact(void* Buffer, int64_t Count) { return Read(Buffer, Count) == Count; }
};

// Mode values of TAuFileStream: the low two bits are the access (0 read,
// 1 write, 2 read and write), bits 4-7 the sharing (kept for callers; POSIX
// files have no share modes); fmCreate creates or truncates.
inline constexpr uint32_t fmOpenRead = 0x0000;
inline constexpr uint32_t fmOpenWrite = 0x0001;
inline constexpr uint32_t fmOpenReadWrite = 0x0002;
inline constexpr uint32_t fmShareDenyWrite = 0x0020;
inline constexpr uint32_t fmCreate = 0xFF00;

class TAuFileStream : public TStream {
 public:
  // Opens FileName (UTF-8 path). Throws EAuException with the system's text
  // for the error (strerror) when it cannot be opened.
  TAuFileStream(const std::string& FileName, uint32_t Mode);
  TAuFileStream(const std::string& FileName, uint32_t Mode, uint32_t Rights);
  ~TAuFileStream() override;

  int64_t Read(void* Buffer, int64_t Count) override;
  int64_t Write(const void* Buffer, int64_t Count) override;
  int64_t Seek(int64_t Offset, TSeekOrigin Origin) override;
  int64_t Size() override;
  int Handle() const { return FHandle; }

 private:
  int FHandle = -1;
};

class TMemoryStream : public TStream {
 public:
  TMemoryStream() = default;
  explicit TMemoryStream(std::vector<uint8_t> Data) : FData(std::move(Data)) {}
  TMemoryStream(const void* Data, size_t Size);

  int64_t Read(void* Buffer, int64_t Count) override;
  int64_t Write(const void* Buffer, int64_t Count) override;
  int64_t Seek(int64_t Offset, TSeekOrigin Origin) override;
  int64_t Size() override { return static_cast<int64_t>(FData.size()); }
  const std::vector<uint8_t>& Data() const { return FData; }

 private:
  std::vector<uint8_t> FData;
  int64_t FPos = 0;
};

}  // namespace lirvo
