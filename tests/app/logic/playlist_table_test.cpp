// The playlist table: text limits, the seven index orders, the insertion
// order, the cursor, bookmarks, IDs, and the change notifications a view
// relies on.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/logic/playlist/Playlist.h"
#include "audio/core/TextCodec.h"

namespace lirvo {
namespace {

// Text arguments: nullptr leaves the field empty (null).
PlaylistRecord Rec(int32_t id, const char* title = nullptr, const char* album = nullptr,
                   std::optional<int32_t> track = std::nullopt, const char* artist = nullptr,
                   std::optional<int32_t> time = std::nullopt, const char* filename = nullptr) {
  PlaylistRecord r;
  r.ID = id;
  if (title) r.Title = title;
  if (album) r.Album = album;
  r.Track = track;
  if (artist) r.Artist = artist;
  r.Time = time;
  if (filename) r.Filename = filename;
  return r;
}

std::vector<int32_t> Ids(const TPlaylistTable& t) {
  std::vector<int32_t> ids;
  for (int i = 0; i < t.RowCount(); ++i)
    ids.push_back(t.Row(i).ID.value_or(-1));
  return ids;
}

std::string Repeat(const std::string& s, int n) {
  std::string out;
  for (int i = 0; i < n; ++i)
    out += s;
  return out;
}

// Mirrors the table from its notifications alone and checks after every
// change that the mirror matches: a wrong position, a missing bracket or a
// stale permutation shows up as a mismatch.
class TShadowObserver : public IPlaylistObserver {
 public:
  explicit TShadowObserver(TPlaylistTable& t) : FTable(t) {
    Snapshot();
    t.SetObserver(this);
  }
  ~TShadowObserver() override { FTable.SetObserver(nullptr); }

  void RowsAboutToBeInserted(int First, int Last) override {
    EXPECT_FALSE(FOpen);
    FOpen = true;
    FFirst = First;
    FLast = Last;
    EXPECT_EQ(Marks(), FShadow);
  }
  void RowsInserted() override {
    EXPECT_TRUE(FOpen);
    FOpen = false;
    for (int i = FFirst; i <= FLast; ++i)
      FShadow.insert(FShadow.begin() + i, FTable.BookmarkAt(i));
    EXPECT_EQ(Marks(), FShadow);
  }
  void RowsAboutToBeRemoved(int First, int Last) override {
    EXPECT_FALSE(FOpen);
    FOpen = true;
    EXPECT_EQ(Marks(), FShadow);
    FShadow.erase(FShadow.begin() + First, FShadow.begin() + Last + 1);
  }
  void RowsRemoved() override {
    EXPECT_TRUE(FOpen);
    FOpen = false;
    EXPECT_EQ(Marks(), FShadow);
  }
  void TableAboutToBeReset() override {
    EXPECT_FALSE(FOpen);
    FOpen = true;
    ++Resets;
  }
  void TableReset() override {
    EXPECT_TRUE(FOpen);
    FOpen = false;
    Snapshot();
  }
  void OrderAboutToChange() override {
    EXPECT_FALSE(FOpen);
    FOpen = true;
    ++Reorders;
  }
  void OrderChanged(const std::vector<int>& NewPositions) override {
    EXPECT_TRUE(FOpen);
    FOpen = false;
    ASSERT_EQ(NewPositions.size(), FShadow.size());
    std::vector<TPlaylistBookmark> moved(FShadow.size());
    for (size_t i = 0; i < FShadow.size(); ++i)
      moved[NewPositions[i]] = FShadow[i];
    FShadow = moved;
    EXPECT_EQ(Marks(), FShadow);
  }
  void CurrentRowChanged(int Row) override {
    EXPECT_FALSE(FOpen);
    EXPECT_EQ(Row, FTable.CurrentRow());
  }

  int Resets = 0;
  int Reorders = 0;

 private:
  std::vector<TPlaylistBookmark> Marks() const {
    std::vector<TPlaylistBookmark> m;
    for (int i = 0; i < FTable.RowCount(); ++i)
      m.push_back(FTable.BookmarkAt(i));
    return m;
  }
  void Snapshot() { FShadow = Marks(); }

  TPlaylistTable& FTable;
  std::vector<TPlaylistBookmark> FShadow;
  bool FOpen = false;
  int FFirst = 0, FLast = 0;
};

TEST(PlaylistLimits, TextIsCutByCharactersWithoutSplittingOne) {
  TPlaylistTable t;
  PlaylistRecord r;
  r.Title = Repeat("歌", 250);  // 750 bytes
  r.Album = Repeat("a", 200);   // exactly the limit: kept
  r.Artist = "x" + Repeat("é", 120);
  r.Filename = Repeat("/目录", 100);  // 300 characters
  t.Append(r);
  const PlaylistRecord& s = t.Row(0);
  EXPECT_EQ(*s.Title, Repeat("歌", 200));
  EXPECT_EQ(*s.Album, Repeat("a", 200));
  EXPECT_EQ(*s.Artist, "x" + Repeat("é", 99));
  EXPECT_EQ(Utf8Length(*s.Filename), 255u);
  EXPECT_TRUE(IsValidUtf8(*s.Filename));
}

TEST(PlaylistLimits, EmptyAndNullValuesStayApart) {
  TPlaylistTable t;
  PlaylistRecord r;
  r.Title = "";
  t.Append(r);
  EXPECT_TRUE(t.Row(0).Title.has_value());
  EXPECT_FALSE(t.Row(0).Album.has_value());
  EXPECT_FALSE(t.Row(0).Track.has_value());
}

// Rows chosen so each index gives a different order; nulls come first,
// capitals before small letters (case-sensitive), equal keys keep the
// insertion order.
struct IndexCase {
  const char* Index;
  std::vector<int32_t> Order;
};

class PlaylistIndexOrder : public ::testing::TestWithParam<IndexCase> {};

void FillSample(TPlaylistTable& t) {
  t.Append(Rec(1, "beta", "Zed", 2, "Ann", 200, "/m/c.flac"));
  t.Append(Rec(2, "Alpha", "Zed", 1, "Ann", 100, "/m/a.flac"));
  t.Append(Rec(3, "alpha", "Abc", 3, "Bob", 300, "/m/b.flac"));
  t.Append(Rec(4, nullptr, "Abc", std::nullopt, "Ann", std::nullopt, "/m/B.flac"));
  t.Append(Rec(5, "Beta", nullptr, 1, nullptr, 100, nullptr));
  t.Append(Rec(6, "beta", "Abc", 1, "Bob", 50, "/m/d.flac"));
}

TEST_P(PlaylistIndexOrder, RowsFollowTheIndexKeys) {
  TPlaylistTable t;
  FillSample(t);
  ASSERT_TRUE(t.SetIndexName(GetParam().Index));
  EXPECT_EQ(t.IndexName(), GetParam().Index);
  EXPECT_EQ(Ids(t), GetParam().Order);
}

INSTANTIATE_TEST_SUITE_P(AllIndexes, PlaylistIndexOrder,
                         ::testing::Values(IndexCase{"PL_IDX_ID", {1, 2, 3, 4, 5, 6}},
                                           IndexCase{"PL_IDX_Filename", {5, 4, 2, 3, 1, 6}},
                                           IndexCase{"PL_IDX_Track", {4, 2, 5, 6, 1, 3}},
                                           IndexCase{"PL_IDX_Title", {4, 2, 5, 3, 1, 6}},
                                           IndexCase{"PL_IDX_Album", {5, 4, 6, 3, 2, 1}},
                                           IndexCase{"PL_IDX_Artist", {5, 4, 2, 1, 6, 3}},
                                           IndexCase{"PL_IDX_Time", {4, 6, 2, 5, 1, 3}},
                                           IndexCase{"", {1, 2, 3, 4, 5, 6}}),
                         [](const auto& Info) {
                           return std::string(*Info.param.Index ? Info.param.Index
                                                                : "InsertionOrder");
                         });

TEST(PlaylistOrder, TitleClickNamesTheIndexAfterTheField) {
  EXPECT_EQ(PlaylistIndexForField(pfTitle), FindPlaylistIndex("PL_IDX_Title"));
  EXPECT_EQ(PlaylistIndexForField(pfAlbum), FindPlaylistIndex("PL_IDX_Album"));
  EXPECT_EQ(PlaylistIndexForField(pfArtist), FindPlaylistIndex("PL_IDX_Artist"));
  for (int f = 0; f < kPlaylistFieldCount; ++f)
    EXPECT_NE(PlaylistIndexForField(f), kNoIndex);
}

TEST(PlaylistOrder, UnknownIndexNameChangesNothing) {
  TPlaylistTable t;
  FillSample(t);
  t.SetIndexName("PL_IDX_Title");
  EXPECT_FALSE(t.SetIndexName("PL_IDX_Genre"));
  EXPECT_FALSE(t.SetIndexName("pl_idx_title"));
  EXPECT_EQ(t.IndexName(), "PL_IDX_Title");
}

TEST(PlaylistOrder, ChoosingTheSameIndexAgainDoesNotReorder) {
  TPlaylistTable t;
  FillSample(t);
  TShadowObserver shadow(t);
  t.SetIndexName("PL_IDX_Title");
  t.SetIndexName("PL_IDX_Title");
  EXPECT_EQ(shadow.Reorders, 1);
  EXPECT_EQ(Ids(t), (std::vector<int32_t>{4, 2, 5, 3, 1, 6}));
}

TEST(PlaylistOrder, RowsAddedAfterSortingGoToTheirPlaceAfterEqualKeys) {
  TPlaylistTable t;
  FillSample(t);
  TShadowObserver shadow(t);
  t.SetIndexName("PL_IDX_Title");
  const int pos = t.Append(Rec(7, "beta"));
  EXPECT_EQ(Ids(t), (std::vector<int32_t>{4, 2, 5, 3, 1, 6, 7}));
  EXPECT_EQ(pos, 6);
  EXPECT_EQ(t.CurrentRow(), 6);  // the new row is current
  t.Append(Rec(8, "Alpha"));
  EXPECT_EQ(Ids(t), (std::vector<int32_t>{4, 2, 8, 5, 3, 1, 6, 7}));
  // Back to insertion order: the rows as they were added.
  t.SetIndex(kNoIndex);
  EXPECT_EQ(Ids(t), (std::vector<int32_t>{1, 2, 3, 4, 5, 6, 7, 8}));
}

TEST(PlaylistCursor, CursorAndBookmarksStayOnTheirRowsThroughSorting) {
  TPlaylistTable t;
  FillSample(t);
  TShadowObserver shadow(t);
  t.SetCurrentRow(2);                              // ID 3
  const TPlaylistBookmark mark = t.BookmarkAt(4);  // ID 5
  t.SetIndexName("PL_IDX_Time");
  EXPECT_EQ(t.Current()->ID, 3);
  ASSERT_GE(t.FindBookmark(mark), 0);
  EXPECT_EQ(t.Row(t.FindBookmark(mark)).ID, 5);
  EXPECT_TRUE(t.GotoBookmark(mark));
  EXPECT_EQ(t.Current()->ID, 5);
  EXPECT_EQ(t.GetBookmark(), mark);
}

TEST(PlaylistCursor, NextAndPriorStopAtTheEnds) {
  TPlaylistTable t;
  EXPECT_FALSE(t.Next());
  EXPECT_FALSE(t.Prior());
  EXPECT_EQ(t.Current(), nullptr);
  t.Append(Rec(1));
  t.Append(Rec(2));
  t.First();
  EXPECT_FALSE(t.Prior());
  EXPECT_TRUE(t.Next());
  EXPECT_EQ(t.Current()->ID, 2);
  EXPECT_FALSE(t.Next());
  EXPECT_EQ(t.Current()->ID, 2);
}

TEST(PlaylistDelete, RowAfterTheDeletedOneBecomesCurrent) {
  TPlaylistTable t;
  FillSample(t);
  TShadowObserver shadow(t);
  t.SetCurrentRow(1);
  EXPECT_TRUE(t.DeleteCurrent());
  EXPECT_EQ(t.Current()->ID, 3);
  t.Last();
  t.DeleteCurrent();  // the last row: the new last row is current
  EXPECT_EQ(t.Current()->ID, 5);
  t.SetCurrentRow(3);  // ID 5
  t.Delete(0);         // a row before the cursor
  EXPECT_EQ(t.Current()->ID, 5);
  EXPECT_EQ(Ids(t), (std::vector<int32_t>{3, 4, 5}));
}

TEST(PlaylistDelete, DeletingFromAnEmptyTableDoesNothing) {
  TPlaylistTable t;
  EXPECT_FALSE(t.DeleteCurrent());
  t.DeleteRows({0, 3});
  EXPECT_EQ(t.CurrentRow(), -1);
}

TEST(PlaylistDelete, SelectedRowsGoAndTheRowAfterTheLastOneBecomesCurrent) {
  TPlaylistTable t;
  FillSample(t);
  TShadowObserver shadow(t);
  t.SetCurrentRow(0);
  t.DeleteRows({3, 1, 2, 9, -1, 1});  // unordered, duplicate, out of range
  EXPECT_EQ(Ids(t), (std::vector<int32_t>{1, 5, 6}));
  EXPECT_EQ(t.Current()->ID, 5);
  EXPECT_EQ(shadow.Resets, 0);
  t.DeleteRows({1, 2});
  EXPECT_EQ(Ids(t), (std::vector<int32_t>{1}));
  EXPECT_EQ(t.Current()->ID, 1);
}

TEST(PlaylistDelete, ManyScatteredRowsAreRemovedInOnePass) {
  TPlaylistTable t;
  for (int i = 1; i <= 1000; ++i)
    t.Append(Rec(i));
  TShadowObserver shadow(t);
  std::vector<int> odd;
  for (int p = 1; p < 1000; p += 2)
    odd.push_back(p);
  t.DeleteRows(odd);
  ASSERT_EQ(t.RowCount(), 500);
  for (int i = 0; i < 500; ++i)
    ASSERT_EQ(t.Row(i).ID, 2 * i + 1);
  EXPECT_EQ(shadow.Resets, 1);
  EXPECT_EQ(t.CurrentRow(), 499);  // nothing after the last deleted row
}

TEST(PlaylistBookmarks, BookmarkOfADeletedRowNeverMatchesALaterRow) {
  TPlaylistTable t;
  t.Append(Rec(1));
  t.Append(Rec(2));
  const TPlaylistBookmark gone = t.BookmarkAt(1);
  t.Delete(1);
  EXPECT_FALSE(t.BookmarkValid(gone));
  t.Append(Rec(3));
  t.Clear();
  t.Load({Rec(1), Rec(2), Rec(3)});
  EXPECT_FALSE(t.BookmarkValid(gone));
  EXPECT_FALSE(t.GotoBookmark(gone));
  EXPECT_FALSE(t.BookmarkValid(kNoBookmark));
}

TEST(PlaylistIds, CounterIsNotResetByDeletingOrEmptying) {
  TPlaylistTable t;
  for (int i = 0; i < 3; ++i)
    t.Append(Rec(static_cast<int32_t>(t.NextAudioID())));
  t.DeleteRows({1, 2});
  t.Clear();
  EXPECT_EQ(t.NextAudioID(), 4u);
  EXPECT_EQ(t.AudioID(), 4u);
}

TEST(PlaylistIds, FindIdLocatesTheRowInTheCurrentOrder) {
  TPlaylistTable t;
  FillSample(t);
  t.SetIndexName("PL_IDX_Title");
  EXPECT_EQ(t.FindID(3), 3);
  EXPECT_EQ(t.FindID(42), -1);
}

TEST(PlaylistLoad, LoadReplacesRowsInGivenOrderWithoutIndex) {
  TPlaylistTable t;
  FillSample(t);
  t.SetIndexName("PL_IDX_Title");
  TShadowObserver shadow(t);
  t.Load({Rec(9, "z"), Rec(8, "a")});
  EXPECT_EQ(t.IndexName(), "");
  EXPECT_EQ(Ids(t), (std::vector<int32_t>{9, 8}));
  EXPECT_EQ(t.CurrentRow(), 0);
  t.Load({});
  EXPECT_EQ(t.CurrentRow(), -1);
}

TEST(PlaylistTime, FormatAndParseAgree) {
  const struct {
    int32_t Seconds;
    const char* Text;
  } cases[] = {
      {0, "0:00:00"}, {59, "0:00:59"}, {205, "0:03:25"}, {3725, "1:02:05"}, {86399, "23:59:59"}};
  for (const auto& c : cases) {
    EXPECT_EQ(FormatPlaylistTime(c.Seconds), c.Text);
    int32_t back = -1;
    EXPECT_TRUE(ParsePlaylistTime(c.Text, back)) << c.Text;
    EXPECT_EQ(back, c.Seconds);
  }
  int32_t s = 0;
  EXPECT_TRUE(ParsePlaylistTime(" 3:25 ", s));
  EXPECT_EQ(s, 3 * 3600 + 25 * 60);
  for (const char* bad : {"", "3", "1:2:3:4", "1:60:00", "0:00:60", "a:00:00", "-1:00:00",
                          "1:000:00", "1::00", "0:03:25x"}) {
    EXPECT_FALSE(ParsePlaylistTime(bad, s)) << bad;
  }
}

}  // namespace
}  // namespace lirvo
