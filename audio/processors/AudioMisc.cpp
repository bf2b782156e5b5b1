#include "audio/processors/AudioMisc.h"

#include "audio/core/FileInputs.h"

namespace lirvo {

// ---------------------------------------------------------------------------
// TCueSplitter

TCueSplitter::TCueSplitter(TComponent* AOwner) : TAuConverter(AOwner) {}

TCueSplitter::~TCueSplitter() {
  NotifyRemoval();
}

std::string TCueSplitter::CueFile() const {
  std::lock_guard<std::mutex> lock(FSheetCS);
  return FCueFile;
}

void TCueSplitter::SetCueFile(const std::string& Value) {
  std::lock_guard<std::mutex> lock(FSheetCS);
  FSheet = TCueSheet{};
  FItemsCount = 0;
  FCurrentItem = 0;
  FCueFile = Value;
}

void TCueSplitter::ParseCueFile() {
  if (FItemsCount > 0) return;
  FSheet = TCueSheet{};
  if (FCueFile.empty()) throw EAuException("Cue-file not set");
  // Nothing is kept from a sheet that fails to read: the next use reads it
  // again and raises again.
  TCueSheet sheet = ParseCueSheet(LoadCueSheetLines(FCueFile));
  FItemsCount = static_cast<uint8_t>(sheet.Items.size());
  FSheet = std::move(sheet);
}

TCueItem TCueSplitter::CurrentItemData() const {
  const size_t i = FCurrentItem.load();
  return i < FSheet.Items.size() ? FSheet.Items[i] : TCueItem{};
}

uint8_t TCueSplitter::ItemsCount() {
  std::lock_guard<std::mutex> lock(FSheetCS);
  ParseCueFile();
  return FItemsCount;
}

void TCueSplitter::SetCurrentItem(uint8_t Value) {
  std::lock_guard<std::mutex> lock(FSheetCS);
  ParseCueFile();
  if (Value != 0 && Value >= FItemsCount) throw EAuException("Item index out of bounds");
  FCurrentItem = Value;
}

std::string TCueSplitter::Album() {
  std::lock_guard<std::mutex> lock(FSheetCS);
  ParseCueFile();
  return FSheet.Album;
}

std::string TCueSplitter::Year() {
  std::lock_guard<std::mutex> lock(FSheetCS);
  ParseCueFile();
  return FSheet.Year;
}

std::string TCueSplitter::Genre() {
  std::lock_guard<std::mutex> lock(FSheetCS);
  ParseCueFile();
  return FSheet.Genre;
}

std::string TCueSplitter::Performer() {
  std::lock_guard<std::mutex> lock(FSheetCS);
  ParseCueFile();
  return CurrentItemData().Performer;
}

std::string TCueSplitter::Title() {
  std::lock_guard<std::mutex> lock(FSheetCS);
  ParseCueFile();
  return CurrentItemData().Title;
}

std::vector<TCueItem> TCueSplitter::Items() {
  std::lock_guard<std::mutex> lock(FSheetCS);
  ParseCueFile();
  return FSheet.Items;
}

uint32_t TCueSplitter::Time() {
  TCueItem item;
  {
    std::lock_guard<std::mutex> lock(FSheetCS);
    ParseCueFile();
    item = CurrentItemData();
  }
  if (item.EndIndex != 0) {
    // A broken sheet may end a track before it begins: that track is empty.
    return item.EndIndex > item.BeginIndex ? (item.EndIndex - item.BeginIndex) / 1000 : 0;
  }
  TAuInput* in = Input();
  if (!in) return 0;
  const int64_t total = in->TotalSamples();
  const uint32_t rate = in->SampleRate();
  // An input that cannot be decoded reports no rate and an unknown length.
  if (rate == 0 || total <= 0) return 0;
  const int64_t totalMs = total / rate * 1000;
  return totalMs > item.BeginIndex ? static_cast<uint32_t>((totalMs - item.BeginIndex) / 1000) : 0;
}

void TCueSplitter::InitInternal() {
  TAuInput* in = Input();
  if (!in) throw EAuException("Input is not assigned.");
  auto* file = dynamic_cast<TAuStreamedInput*>(in);
  if (!file) throw EAuException("The input of a CUE splitter must be a file input (a decoder)");
  TCueItem item;
  bool last;
  {
    std::lock_guard<std::mutex> lock(FSheetCS);
    ParseCueFile();
    item = CurrentItemData();
    last = FCurrentItem.load() + 1 == FItemsCount;
  }
  FPosition = 0;
  FEmptyTrack = false;

  const uint64_t rate = in->SampleRate();
  // Milliseconds to frames, rounded to the nearest with halves to even (as
  // sheets have always been cut here), in integers so that the same times
  // always give the same frames.
  auto frames = [rate](uint64_t ms) {
    const uint64_t v = ms * rate;
    uint64_t q = v / 1000;
    const uint64_t r = v % 1000;
    if (r > 500 || (r == 500 && (q & 1))) ++q;
    return static_cast<int64_t>(q);
  };
  const int64_t start = frames(item.BeginIndex);
  file->SetStartSample(start);
  // The end is inclusive: a track ends one frame into what follows it. A
  // track without an end (EndIndex 0) runs to the end of the image, like the
  // last one.
  int64_t end = -1;
  if (!last && item.EndIndex != 0) {
    end = frames(item.EndIndex);
    if (end < start) {
      FEmptyTrack = true;
      end = start;
    }
  }
  file->SetEndSample(end);
  // Busy only once the input is open: a failed Init leaves the splitter idle,
  // so the next Init needs no Reset.
  in->Init();
  FSize = FEmptyTrack ? 0 : in->Size();
  Busy = true;
}

void TCueSplitter::FlushInternal() {
  if (TAuInput* in = Input()) in->Flush();
  FEmptyTrack = false;
  Busy = false;
}

void TCueSplitter::GetDataInternal(uint8_t*& Buffer, uint32_t& Bytes) {
  TAuInput* in = Input();
  if (!in || FEmptyTrack) {
    Buffer = nullptr;
    Bytes = 0;
    return;
  }
  in->GetData(Buffer, Bytes);
}

}  // namespace lirvo
