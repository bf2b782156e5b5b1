#pragma once
// The Windows Media Audio and MP3 file input. It drives the reader layer
// (WmaSyncReader.h) over the input's stream, chooses the PCM format, hands
// out the decoded samples without copying them and fills Id3v2Tags and
// CommonTags from the header attributes.
//
// Threads: OpenFile and CloseFile run under OpenCS; reads and seeks under
// the caller's DataCS. The format properties take DataCS and then OpenCS (the
// order the data path takes them) and do nothing while the input is busy, so
// they never touch the reader while the playback thread decodes.

#include <atomic>
#include <cstdint>

#include "audio/decoders/WmaSyncReader.h"
#include "audio/tags/TaggedFileIn.h"

namespace lirvo {

enum TChannelsNumber { cnMaxAvailable, cnMonoOrStereo, cn5dot1, cn7dot1 };

class TWMIn : public TAuTaggedFileIn {
 public:
  explicit TWMIn(TComponent* AOwner = nullptr);
  ~TWMIn() override;

  // Raises "File name is not assigned" without a stream or a name, the
  // system's text when the file cannot be opened, and "File is protected"
  // for protected content. A file that is not Windows Media or MP3, or has
  // no usable audio, is opened as not valid.
  void OpenFile() override;
  void CloseFile() override;

  // Ask the decoder for its discrete (full-resolution, multichannel) output.
  // Ignored while busy and while OutputChannels is not cnMonoOrStereo; an
  // open file is reopened.
  bool HighPrecision() const { return FHighPrecision; }
  void SetHighPrecision(bool Value);
  // Ignored while busy; anything but cnMonoOrStereo also sets HighPrecision.
  // An open file is reopened.
  TChannelsNumber OutputChannels() const { return FOutputChannels; }
  void SetOutputChannels(TChannelsNumber Value);

  // The formats of the chosen output (0 / zeros while busy or without a file
  // name or stream). These open the file.
  int32_t FormatsCount();
  TWMAFormatSpec FormatSpec(int32_t Index);
  // -2 selects format 0 with discrete output; a value >= 0 selects that
  // format. Ignored while busy.
  int32_t FormatSelected() const { return FFormat; }
  void SetFormatSelected(int32_t Value);

  // These open the file first.
  bool HasAudio();
  // True for a file whose opening was refused as protected.
  bool IsProtected();
  uint32_t Bitrate();
  bool IsVBR();
  TId3v2Tags& Id3v2Tags();

 protected:
  void GetDataInternal(uint8_t*& Buffer, uint32_t& Bytes) override;
  bool SeekInternal(int64_t& SampleNum) override;

 private:
  int32_t ChannelRequest() const;
  // Duration, format, total samples and size from the reader.
  void ReadFormat();
  void ReadTags();
  void Reopen();

  wma_sync_reader reader;              // open/close under OpenCS; data path under DataCS
  std::atomic<uint32_t> FDuration{0};  // hundredths of a second
  std::atomic<bool> FHighPrecision{false};
  std::atomic<TChannelsNumber> FOutputChannels{cnMonoOrStereo};
  std::atomic<int32_t> FFormat{0};
  std::atomic<bool> FProtectedSeen{false};  // the last opening was refused as protected
  bool FSizeGrown = false;                  // FSize follows the decoder past the header's length
};

}  // namespace lirvo
