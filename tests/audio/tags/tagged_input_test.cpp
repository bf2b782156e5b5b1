// Tagged inputs own their containers and never carry values from one file
// into the next.

#include <gtest/gtest.h>

#include "audio/tags/TaggedFileIn.h"
#include "common/RawFileIn.h"
#include "common/TestPaths.h"

using namespace lirvo;
using namespace lirvo::test;

namespace {

// The raw test decoder with a title taken from the file name, as a decoder
// fills its containers while it opens a file.
class TTaggedRawIn : public TAuTaggedFileIn {
 public:
  TTaggedRawIn() : TAuTaggedFileIn(nullptr) {}
  ~TTaggedRawIn() override {
    NotifyRemoval();
    CloseFile();
  }
  void OpenFile() override {
    std::lock_guard<std::recursive_mutex> lock(OpenCS);
    if (FOpened != 0) return;
    FCommonTags.Clear();
    if (WideFileName().find("titled") != std::string::npos) FCommonTags.SetTitle("A title");
    FValid = true;
    FChan = 1;
    FBPS = 16;
    FSR = 8000;
    FSize = 0;
    ++FOpened;
  }
  void CloseFile() override { FOpened = 0; }

 protected:
  void GetDataInternal(uint8_t*& Buffer, uint32_t& Bytes) override { Bytes = 0; }
  bool SeekInternal(int64_t&) override { return true; }
};

TEST(TaggedInput, FreshInputReadsEveryCommonValueEmpty) {
  TTaggedRawIn in;
  EXPECT_EQ(in.CommonTags().Title(), "");
  EXPECT_EQ(in.CommonTags().Artist(), "");
  EXPECT_EQ(in.CommonTags().Track(), "");
}

TEST(TaggedInput, ATitleOfAnEarlierFileDoesNotSurviveIntoTheNext) {
  TTaggedRawIn in;
  in.SetFileName("/music/titled.raw");
  in.Init();
  EXPECT_EQ(in.CommonTags().Title(), "A title");
  in.Flush();
  in.SetFileName("/music/plain.raw");
  in.Init();
  EXPECT_EQ(in.CommonTags().Title(), "");
  in.Flush();
}

}  // namespace
