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
  // CD frames (1/75 s) to the image's frames, rounded down: a boundary is
  // the same frame as the end of one track and the start of the next, so
  // the tracks in turn give back the image, nothing lost or played twice.
  auto frames = [rate](uint64_t cd) { return static_cast<int64_t>(cd * rate / 75); };
  const int64_t start = frames(item.BeginFrame);
  file->SetStartSample(start);
  // The input's end sample is its last one: a track ends on the frame before
  // the next one's (or its pregap's) first. A track without an end
  // (EndIndex 0) runs to the end of the image, like the last one.
  int64_t end = -1;
  if (!last && item.EndIndex != 0) {
    const int64_t next = frames(item.EndFrame);
    if (next <= start) {
      FEmptyTrack = true;
      end = start;
    } else {
      end = next - 1;
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
