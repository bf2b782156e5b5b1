// The containers a tagged input owns: each input has its own, they start
// empty, and each common value has a place of its own. (The real decoders'
// reading of real files is tested with the decoders: tagged_decoders_test.)

#include <gtest/gtest.h>

#include <string>

#include "audio/tags/TaggedFileIn.h"

using namespace lirvo;

namespace {

// Shows the containers a decoder fills; reads no file.
class TContainersIn : public TAuTaggedFileIn {
 public:
  TContainersIn() : TAuTaggedFileIn(nullptr) {}
  ~TContainersIn() override { NotifyRemoval(); }
  void OpenFile() override {}
  void CloseFile() override {}
  TId3v1Tags& Id3v1() { return FId3v1Tags; }
  TId3v2Tags& Id3v2() { return FId3v2Tags; }
  TAPEv2Tags& Ape() { return FAPEv2Tags; }

 protected:
  void GetDataInternal(uint8_t*& Buffer, uint32_t& Bytes) override {
    Buffer = nullptr;
    Bytes = 0;
  }
  bool SeekInternal(int64_t&) override { return false; }
};

TEST(TaggedInput, EveryContainerOfANewInputIsEmpty) {
  TContainersIn in;
  EXPECT_TRUE(in.CommonTags().Empty());
  EXPECT_TRUE(in.Id3v1().Empty());
  EXPECT_TRUE(in.Id3v2().Empty());
  EXPECT_TRUE(in.Ape().Empty());
}

// Each common value written through its setter reads back through its own
// getter only, and lives in that input only.
TEST(TaggedInput, EachCommonValueHasAPlaceOfItsOwnInItsOwnInput) {
  struct Case {
    const char* Name;
    void (TCommonTags::*Set)(std::string_view);
  };
  const Case cases[] = {
      {"title", &TCommonTags::SetTitle}, {"artist", &TCommonTags::SetArtist},
      {"album", &TCommonTags::SetAlbum}, {"genre", &TCommonTags::SetGenre},
      {"year", &TCommonTags::SetYear},   {"track", &TCommonTags::SetTrack},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    TContainersIn in, other;
    (in.CommonTags().*c.Set)("1999");
    TCommonTags& t = in.CommonTags();
    const std::string got[] = {t.Title(), t.Artist(), t.Album(), t.Genre(), t.Year(), t.Track()};
    for (size_t i = 0; i < std::size(cases); ++i)
      EXPECT_EQ(got[i], &cases[i] == &c ? "1999" : "") << "read as " << cases[i].Name;
    EXPECT_FALSE(t.Empty());
    EXPECT_TRUE(other.CommonTags().Empty()) << "another input's container";
    EXPECT_TRUE(in.Id3v2().Empty()) << "the decoder's own containers";
    t.Clear();
    EXPECT_EQ(t.Title() + t.Artist() + t.Album() + t.Genre() + t.Year() + t.Track(), "");
  }
}

}  // namespace
