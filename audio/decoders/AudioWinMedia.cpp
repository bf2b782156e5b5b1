#include "audio/decoders/AudioWinMedia.h"

#include <algorithm>

namespace lirvo {

TWMIn::TWMIn(TComponent* AOwner) : TAuTaggedFileIn(AOwner) {}

TWMIn::~TWMIn() {
  NotifyRemoval();
  CloseFile();
}

int32_t TWMIn::ChannelRequest() const {
  switch (FOutputChannels.load()) {
    case cnMaxAvailable:
      return -1;
    case cn5dot1:
      return 6;
    case cn7dot1:
      return 8;
    default:
      return 0;
  }
}

void TWMIn::OpenFile() {
  std::lock_guard<std::recursive_mutex> lock(OpenCS);
  if (FOpened != 0) return;
  if (!FStreamAssigned && FWideFileName.empty()) throw EAuException("File name is not assigned");
  OpenOwnStream();
  FProtectedSeen = false;
  wma_open_reader(reader, FStream, FHighPrecision, ChannelRequest());
  FValid = reader.has_audio;
  if (!reader.reader) {
    // Not a file this input reads: it counts as opened (and not valid), so
    // that CloseFile releases the stream.
    ReadFormat();
    FId3v2Tags.Clear();
    FCommonTags.Clear();
    FSizeGrown = false;
    ++FOpened;
    return;
  }
  if (reader._protected) {
    wma_close_reader(reader);
    CloseOwnStream();
    FValid = false;
    FProtectedSeen = true;
    throw EAuException("File is protected");
  }
  ReadFormat();
  ReadTags();
  FSizeGrown = false;
  ++FOpened;
}

void TWMIn::CloseFile() {
  std::lock_guard<std::recursive_mutex> lock(OpenCS);
  if (FOpened > 0) {
    wma_close_reader(reader);
    FOpened = 0;
    CloseOwnStream();
  }
}

void TWMIn::ReadFormat() {
  FDuration = wma_duration_cs(reader);
  uint16_t ch = 0, bits = 0;
  uint32_t rate = 0;
  wma_audio_properties(reader, ch, bits, rate);
  FChan = ch;
  FBPS = bits;
  FSR = rate;
  // Integer arithmetic: 355 cs at 44,100 Hz are 156,555 frames, not a float
  // product a hair below it.
  FTotalSamples = static_cast<int64_t>(FDuration) * rate / 100;
  FSize = FTotalSamples * ch * (bits / 8);
  FSeekable = true;
}

void TWMIn::ReadTags() {
  FId3v2Tags.Clear();
  FCommonTags.Clear();
  auto text = [&](const char* name) { return wma_attribute_text(reader, name); };
  if (std::string v = text("Author"); !v.empty()) {
    FId3v2Tags.SetArtist(v);
    FCommonTags.SetArtist(v);
  }
  if (std::string v = text("Title"); !v.empty()) {
    FId3v2Tags.SetTitle(v);
    FCommonTags.SetTitle(v);
  }
  if (std::string v = text("WM/AlbumTitle"); !v.empty()) {
    FId3v2Tags.SetAlbum(v);
    FCommonTags.SetAlbum(v);
  }
  if (std::string v = text("WM/Genre"); !v.empty()) {
    FId3v2Tags.SetGenre(v);
    FCommonTags.SetGenre(v);
  }
  if (std::string v = text("WM/Track"); !v.empty()) {
    FId3v2Tags.SetTrack(v);
    FCommonTags.SetTrack(v);
  }
  if (std::string v = text("WM/Year"); !v.empty()) {
    FId3v2Tags.SetYear(v);
    FCommonTags.SetYear(v);
  }
  if (std::string v = text("Copyright"); !v.empty()) FId3v2Tags.SetComment(v);
}

void TWMIn::Reopen() {
  std::lock_guard<std::recursive_mutex> lock(OpenCS);
  if (FOpened > 0) {
    CloseFile();
    OpenFile();
  }
}

void TWMIn::SetHighPrecision(bool Value) {
  std::lock_guard<std::recursive_mutex> data(DataCS);
  if (Busy || FOutputChannels != cnMonoOrStereo) return;
  FHighPrecision = Value;
  Reopen();
}

void TWMIn::SetOutputChannels(TChannelsNumber Value) {
  std::lock_guard<std::recursive_mutex> data(DataCS);
  if (Busy) return;
  if (Value != cnMonoOrStereo) FHighPrecision = true;
  FOutputChannels = Value;
  Reopen();
}

int32_t TWMIn::FormatsCount() {
  std::lock_guard<std::recursive_mutex> data(DataCS);
  if (Busy || (!FStreamAssigned && FWideFileName.empty())) return 0;
  OpenFile();
  std::lock_guard<std::recursive_mutex> lock(OpenCS);
  return wma_count_formats(reader, FHighPrecision);
}

TWMAFormatSpec TWMIn::FormatSpec(int32_t Index) {
  std::lock_guard<std::recursive_mutex> data(DataCS);
  if (Busy || (!FStreamAssigned && FWideFileName.empty())) return {};
  OpenFile();
  std::lock_guard<std::recursive_mutex> lock(OpenCS);
  if (Index < 0) return {};
  return wma_describe_format(reader, FHighPrecision, Index);
}

void TWMIn::SetFormatSelected(int32_t Value) {
  std::lock_guard<std::recursive_mutex> data(DataCS);
  if (Busy) return;
  OpenFile();
  std::lock_guard<std::recursive_mutex> lock(OpenCS);
  if (Value == -2) {
    wma_select_format(reader, true, 0);
    FFormat = 0;
  } else if (Value >= 0) {
    wma_select_format(reader, FHighPrecision, Value);
    FFormat = Value;
  }
  ReadFormat();
  FSizeGrown = false;
}

bool TWMIn::HasAudio() {
  OpenFile();
  std::lock_guard<std::recursive_mutex> lock(OpenCS);
  return reader.has_audio;
}

bool TWMIn::IsProtected() {
  try {
    OpenFile();
  } catch (const EAuException&) {
    // Opening refuses protected content; that refusal is the answer here.
    if (FProtectedSeen) return true;
    throw;
  }
  std::lock_guard<std::recursive_mutex> lock(OpenCS);
  return reader._protected;
}

uint32_t TWMIn::Bitrate() {
  OpenFile();
  std::lock_guard<std::recursive_mutex> lock(OpenCS);
  return wma_attribute_dword(reader, "Bitrate");
}

bool TWMIn::IsVBR() {
  OpenFile();
  std::lock_guard<std::recursive_mutex> lock(OpenCS);
  return wma_attribute_dword(reader, "IsVBR") != 0;
}

TId3v2Tags& TWMIn::Id3v2Tags() {
  OpenFile();
  return FId3v2Tags;
}

void TWMIn::GetDataInternal(uint8_t*& Buffer, uint32_t& Bytes) {
  Buffer = nullptr;
  const uint32_t frame = std::max<uint32_t>(1, FSampleSize);
  const int64_t size = FSize;
  const int64_t pos = FPosition;
  // A window's end cuts the data; without one the header's length (kept in
  // hundredths of a second) may fall short of the decoded audio, so the
  // decoder's own end decides.
  const bool windowEnd = FEndSample != -1;
  if (size > 0 && windowEnd && size - pos < static_cast<int64_t>(Bytes))
    Bytes = static_cast<uint32_t>(std::max<int64_t>(0, size - pos));
  Bytes -= Bytes % frame;
  if (Bytes == 0) return;
  wma_read_samples(reader, Buffer, Bytes);
  if (windowEnd || size <= 0) return;
  if (Bytes > 0 && pos + Bytes >= size) {
    // Keep the size ahead of the data so that the stream goes on.
    FSize = pos + Bytes + 1;
    FSizeGrown = true;
  } else if (Bytes == 0 && FSizeGrown) {
    FSize = pos;  // the decoder's end: the exact size
  }
}

bool TWMIn::SeekInternal(int64_t& SampleNum) {
  if (!Busy) return false;
  return wma_set_position_frames(reader, SampleNum);
}

}  // namespace lirvo
