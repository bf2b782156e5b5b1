#pragma once
// TCueSplitter, the processor that plays one track of a disc image by setting
// the sample window of the decoder it reads from. The sheet reader it uses is
// in CueSheet.h (included here, so includers of this header see it too).

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "audio/core/AudioClasses.h"
#include "audio/processors/CueSheet.h"

namespace lirvo {

// ---------------------------------------------------------------------------
// TCueSplitter: plays track CurrentItem of the image its input decodes.
//
// The input must be a file input (a decoder): at Init the splitter sets the
// input's StartSample/EndSample to the track and initialises it; the data is
// passed through untouched, the input's window ending it at the track's end.
// The sheet is read lazily, on the first use after CueFile was set (and again
// on every use while it held no track).
//
// Threads: the properties are used by the UI thread; Init, Flush and the data
// calls run on the thread that pulls the chain, under DataCS. FSheetCS guards
// the sheet's data; it is a leaf lock, never held while the input is called.
class TCueSplitter : public TAuConverter {
 public:
  explicit TCueSplitter(TComponent* AOwner = nullptr);
  ~TCueSplitter() override;

  // Setting the sheet forgets everything read and selects the first track.
  std::string CueFile() const;
  void SetCueFile(const std::string& Value);

  // The properties below read the sheet first when needed, so they raise what
  // reading raises: "Cue-file not set", an unreadable sheet (with the system's
  // text) or a malformed INDEX line.
  uint8_t ItemsCount();
  uint8_t CurrentItem() const { return FCurrentItem.load(); }
  // 0 is always accepted; any other index must be below ItemsCount ("Item
  // index out of bounds").
  void SetCurrentItem(uint8_t Value);

  std::string Album();
  std::string Year();
  std::string Genre();
  // The current track's performer and title.
  std::string Performer();
  std::string Title();
  // The current track's length in whole seconds. A track without an end
  // reaches to the end of the input as the input reports it now (the whole
  // file before the input's Init); 0 without an input.
  uint32_t Time();
  // All tracks read (a copy).
  std::vector<TCueItem> Items();

 protected:
  // Raises "Input is not assigned." without an input, and refuses an input
  // that is not a file input. Sets the input's window to the current track,
  // initialises the input and takes its Size.
  void InitInternal() override;
  // Flushes the input (which also clears its window).
  void FlushInternal() override;
  void GetDataInternal(uint8_t*& Buffer, uint32_t& Bytes) override;

 private:
  // Reads the sheet unless tracks were read already. Caller holds FSheetCS.
  void ParseCueFile();
  // The current track, or an empty one when there is none. Caller holds
  // FSheetCS.
  TCueItem CurrentItemData() const;

  mutable std::mutex FSheetCS;  // guards the fields down to FItemsCount
  std::string FCueFile;
  TCueSheet FSheet;
  uint8_t FItemsCount = 0;  // 0 also means "not read yet"
  std::atomic<uint8_t> FCurrentItem{0};
  // Set at Init when the track's end lies before its start (a broken sheet):
  // the track then delivers nothing instead of the rest of the image.
  bool FEmptyTrack = false;  // under DataCS
};

}  // namespace lirvo
