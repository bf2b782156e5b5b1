// The playlist file: exact bytes against a golden file, round trips of
// awkward text, the reader's rules for lines, quotes, nulls and headers,
// damaged files kept as ".xpl.bad", and the atomic save.

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

#include "app/logic/playlist/PlaylistFile.h"
#include "audio/core/AuException.h"
#include "common/TestPaths.h"

namespace lirvo {
namespace {

namespace fs = std::filesystem;

std::string ReadBytes(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteBytes(const fs::path& p, const std::string& bytes) {
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out << bytes;
}

const fs::path kGolden = fs::path(LIRVO_TESTS_SOURCE_DIR) / "app" / "logic" / "data" / "small.xpl";

// The header of every file this program writes, as text lines.
const char kDefinitions[] =
    "\"@@FILE VERSION@@\",\"251\"\r\n"
    "\"@@TABLEDEF START@@\"\r\n"
    "\"ID=Integer,0,\"\"ID\"\",\"\"\"\",10,Data,\"\"\"\"\"\r\n"
    "\"Filename=String,255,\"\"Filename\"\",\"\"\"\",255,Data,\"\"\"\"\"\r\n"
    "\"Track=Integer,0,\"\"Track\"\",\"\"\"\",10,Data,\"\"\"\"\"\r\n"
    "\"Title=String,200,\"\"Title\"\",\"\"\"\",200,Data,\"\"\"\"\"\r\n"
    "\"Album=String,200,\"\"Album\"\",\"\"\"\",200,Data,\"\"\"\"\"\r\n"
    "\"Artist=String,100,\"\"Artist\"\",\"\"\"\",100,Data,\"\"\"\"\"\r\n"
    "\"Time=Time,0,\"\"Time\"\",\"\"\"\",18,Data,\"\"\"\"\"\r\n"
    "\"@@INDEXDEF START@@\"\r\n"
    "\"@@INDEXDEF END@@\"\r\n"
    "\"@@TABLEDEF END@@\"\r\n"
    "\"ID\",\"Filename\",\"Track\",\"Title\",\"Album\",\"Artist\",\"Time\",\r\n";

PlaylistRecord Row(int32_t id, std::string file, std::optional<std::string> title) {
  PlaylistRecord r;
  r.ID = id;
  r.Filename = std::move(file);
  r.Title = std::move(title);
  return r;
}

// The three rows of the golden file.
std::vector<PlaylistRecord> GoldenRows() {
  PlaylistRecord wav = Row(1, "/music/a.wav", "a");
  wav.Time = 205;
  PlaylistRecord flac = Row(2, "/music/专辑/02 b.flac", "Say \"Hi\", 100%");
  flac.Track = 2;
  flac.Album = "专辑";
  flac.Artist = "";
  flac.Time = 3725;
  PlaylistRecord cue = Row(7, "/music/c.cue", "line1\r\nline2");
  cue.Track = 10;
  cue.Artist = "X";
  return {wav, flac, cue};
}

std::vector<PlaylistRecord> Rows(const TPlaylistTable& t) {
  std::vector<PlaylistRecord> rows;
  for (int i = 0; i < t.RowCount(); ++i)
    rows.push_back(t.Row(i));
  return rows;
}

bool AnyFileExists(const std::string&) {
  return true;
}

std::string ExpectParseError(const std::string& text) {
  try {
    ParsePlaylistText(text);
  } catch (const EAuException& e) {
    return e.what();
  }
  ADD_FAILURE() << "no error for:\n" << text;
  return {};
}

// --- Writing ------------------------------------------------------------------------

TEST(PlaylistFileFormat, SavedBytesMatchTheHandWrittenGoldenFile) {
  TPlaylistTable t;
  for (const PlaylistRecord& r : GoldenRows())
    t.Append(r);
  const std::string golden = ReadBytes(kGolden);
  ASSERT_FALSE(golden.empty()) << kGolden;
  EXPECT_EQ(PlaylistToText(t), golden);

  std::ostringstream out;
  WritePlaylist(out, t);
  EXPECT_EQ(out.str(), golden);

  const fs::path dir = test::ScratchDir("playlist_golden");
  SavePlaylistFile((dir / "lirvo.xpl").string(), t);
  EXPECT_EQ(ReadBytes(dir / "lirvo.xpl"), golden);
}

TEST(PlaylistFileFormat, GoldenFileReadsBackIntoTheSameRows) {
  std::ifstream in(kGolden, std::ios::binary);
  EXPECT_EQ(ReadPlaylist(in), GoldenRows());
}

TEST(PlaylistFileFormat, EmptyFieldsAreAdjacentCommasAndReadBackAsNull) {
  TPlaylistTable t;
  PlaylistRecord r;  // every field null
  t.Append(r);
  r.ID = 3;
  r.Title = "";  // empty but not null
  t.Append(r);
  const std::string text = PlaylistToText(t);
  EXPECT_TRUE(text.ends_with("\"Time\",\r\n,,,,,,,\r\n\"3\",,,\"\",,,,\r\n")) << text;
  const auto rows = ParsePlaylistText(text);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0], PlaylistRecord{});
  EXPECT_FALSE(rows[1].Track.has_value());
  ASSERT_TRUE(rows[1].Title.has_value());
  EXPECT_EQ(*rows[1].Title, "");
}

TEST(PlaylistFileFormat, AwkwardTextSurvivesARoundTrip) {
  const std::vector<std::string> titles = {
      "a, b",     "\"quoted\"", "100% %n %%", "two\nlines", "cr\rhere", "crlf\r\n",
      "中文标题", "",           "%",          "\"",         ",,,",      "trailing%",
      "%c%0",     "  spaces  ", "emoji 🎵",    "\t tab",
  };
  TPlaylistTable t;
  int id = 0;
  for (const std::string& title : titles) {
    PlaylistRecord r = Row(++id, "/a,\"b\"%/" + title, title);
    r.Album = title;
    r.Artist = title;
    t.Append(r);
  }
  t.Append(Row(++id, "/x", std::string("nul\0x", 5)));
  EXPECT_EQ(ParsePlaylistText(PlaylistToText(t)), Rows(t));
}

TEST(PlaylistFileFormat, TextLongerThanTheLimitIsCutOnReading) {
  std::string text = kDefinitions;
  text += "\"1\",\"/a\",,\"" + std::string(300, 'x') + "\",,,,\r\n";
  const auto rows = ParsePlaylistText(text);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].Title->size(), 200u);
}

// --- Reading ------------------------------------------------------------------------

TEST(PlaylistFileReader, LineEndsMayBeCrLfCrLfOrNul) {
  for (const std::string& end :
       std::vector<std::string>{"\r\n", "\n", "\r", std::string(1, '\0'), "\n\r"}) {
    std::string text = "\"@@FILE VERSION@@\",\"251\"" + end + "\"ID\",\"Filename\",\"Title\"," +
                       end + "\"1\",\"/a\",\"x\"," + end + end +
                       "\"2\",\"/b\",\"y\"";  // no final comma, no line end
    const auto rows = ParsePlaylistText(text);
    ASSERT_EQ(rows.size(), 2u) << int(end[0]);
    EXPECT_EQ(*rows[1].Title, "y");
  }
}

TEST(PlaylistFileReader, HeaderIsMatchedWithoutCaseAndUnknownColumnsAreSkipped) {
  // No definitions: the table's own fields are matched by their names.
  const std::string text =
      "\"title\",\"Genre\",\"FILENAME\",\"id\",\r\n"
      "\"T\",\"rock\",\"/f\",\"5\",\r\n"
      "\"U\",\r\n";  // fewer values: the rest stay empty
  const auto rows = ParsePlaylistText(text);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(*rows[0].Title, "T");
  EXPECT_EQ(*rows[0].Filename, "/f");
  EXPECT_EQ(rows[0].ID, 5);
  EXPECT_FALSE(rows[0].Album.has_value());
  EXPECT_EQ(*rows[1].Title, "U");
  EXPECT_FALSE(rows[1].Filename.has_value());
}

TEST(PlaylistFileReader, FileDefinitionsDecideWhichColumnIsWhichField) {
  // Fields defined in another order, one with a display label of its own and
  // one the table does not have.
  const std::string text =
      "\"@@TABLEDEF START@@\"\r\n"
      "\"Title=string,200,\"\"Name\"\",\"\"\"\",200,Data,\"\"\"\"\"\r\n"
      "\"Extra=Integer,0,\"\"Extra\"\",\"\"\"\",10,Data,\"\"\"\"\"\r\n"
      "\"Filename=STRING,255\"\r\n"
      "\"ID=Integer\"\r\n"
      "\"@@TABLEDEF END@@\"\r\n"
      "\"Name\",\"Extra\",\"Filename\",\"ID\",\r\n"
      "\"song\",\"12\",\"/s\",\"4\",\r\n";
  const auto rows = ParsePlaylistText(text);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(*rows[0].Title, "song");
  EXPECT_EQ(*rows[0].Filename, "/s");
  EXPECT_EQ(rows[0].ID, 4);
}

TEST(PlaylistFileReader, QuotesToggleAndAPercentAtTheEndIsDropped) {
  const std::string text = std::string(kDefinitions) +
                           "1,/a\"b,c\"d,,\"x\"\"y\"\"\"z%,,,\" 0:01:02 \",\r\n"
                           "\"2\",\"/b\",\"\",\"%q%\",,,\"\",\r\n";
  const auto rows = ParsePlaylistText(text);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].ID, 1);
  EXPECT_EQ(*rows[0].Filename, "/ab,cd");
  EXPECT_FALSE(rows[0].Track.has_value());
  EXPECT_EQ(*rows[0].Title, "x\"y\"z");
  EXPECT_EQ(rows[0].Time, 62);
  EXPECT_FALSE(rows[1].Track.has_value());  // an empty quoted integer is empty
  EXPECT_EQ(*rows[1].Title, "%q");          // an unknown escape is kept as it stands
  EXPECT_FALSE(rows[1].Time.has_value());
}

TEST(PlaylistFileReader, InvalidUtf8IsReplacedNotRejected) {
  const std::string text = std::string(kDefinitions) + "\"1\",\"/a\",,\"bad\xFF\xFEtext\",,,,\r\n";
  const auto rows = ParsePlaylistText(text);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(*rows[0].Title, "bad\xEF\xBF\xBD\xEF\xBF\xBDtext");
}

TEST(PlaylistFileReader, DamagedContentGivesTheDocumentedErrors) {
  const std::string def = "ID=Blob,0,\"ID\",\"\",10,Data,\"\"";
  EXPECT_EQ(ExpectParseError("\"@@TABLEDEF START@@\"\r\n\"ID=Blob,0,\"\"ID\"\",\"\"\"\",10,Data,"
                             "\"\"\"\"\"\r\n\"@@TABLEDEF END@@\"\r\n\"ID\",\r\n"),
            "Unknown field type (Blob) in CSV file. (" + def + ")");
  EXPECT_EQ(ExpectParseError("\"@@TABLEDEF START@@\"\r\n\"Nothing here\"\r\n"),
            "Unknown field type () in CSV file. (Nothing here)");
  EXPECT_EQ(ExpectParseError("\"Genre\",\"Year\",\r\n\"rock\",\"1999\",\r\n"),
            "Couldnt determine field count for load.");
  EXPECT_EQ(ExpectParseError(""), "Couldnt determine field count for load.");
  EXPECT_EQ(ExpectParseError("\"@@FILE VERSION@@\",\"251\"\r\n"),
            "Couldnt determine field count for load.");
  // Rows whose numbers or times cannot be read.
  ExpectParseError(std::string(kDefinitions) + "\"one\",\"/a\",,,,,,\r\n");
  ExpectParseError(std::string(kDefinitions) + "\"1\",\"/a\",\"99999999999\",,,,,\r\n");
  ExpectParseError(std::string(kDefinitions) + "\"1\",\"/a\",,,,,\"3 minutes\",\r\n");
  // Without a file name loading could not check the rows' files.
  ExpectParseError(
      "\"@@TABLEDEF START@@\"\r\n\"ID=Integer\"\r\n\"Title=String\"\r\n\"@@TABLEDEF END@@\"\r\n"
      "\"ID\",\"Title\",\r\n");
}

// --- Loading and saving files -----------------------------------------------------

class PlaylistFileIo : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = test::ScratchDir(::testing::UnitTest::GetInstance()->current_test_info()->name());
    path = (dir / "lirvo.xpl").string();
  }
  fs::path dir;
  std::string path;
};

TEST_F(PlaylistFileIo, TitleSortedListReloadsInTitleOrderWithIdsOneToN) {
  TPlaylistTable t;
  const char* titles[] = {"delta", "alpha", "charlie", "bravo"};
  for (const char* title : titles) {
    t.Append(Row(static_cast<int32_t>(t.NextAudioID() + 10), std::string("/m/") + title, title));
  }
  t.SetIndexName("PL_IDX_Title");
  SavePlaylistFile(path, t);

  TPlaylistTable loaded;
  loaded.SetIndexName("PL_IDX_Time");
  const TPlaylistLoadOutcome outcome = LoadPlaylistFile(path, loaded, AnyFileExists);
  EXPECT_EQ(outcome.Result, TPlaylistLoadResult::plrLoaded);
  EXPECT_EQ(loaded.IndexName(), "");
  ASSERT_EQ(loaded.RowCount(), 4);
  const char* expected[] = {"alpha", "bravo", "charlie", "delta"};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(*loaded.Row(i).Title, expected[i]);
    EXPECT_EQ(loaded.Row(i).ID, i + 1);
  }
  EXPECT_EQ(loaded.CurrentRow(), 0);
  EXPECT_EQ(loaded.NextAudioID(), 5u);
}

TEST_F(PlaylistFileIo, RowsWhoseFilesAreGoneAreDroppedBeforeNumbering) {
  const fs::path audio = dir / "there.flac";
  const fs::path cue = dir / "disc.cue";
  WriteBytes(audio, "x");
  WriteBytes(cue, "x");
  TPlaylistTable t;
  t.Append(Row(50, (dir / "gone.flac").string(), "gone"));
  t.Append(Row(51, audio.string(), "there"));
  t.Append(Row(52, cue.string(), "cue track 1"));
  t.Append(Row(53, dir.string(), "a folder is not a file"));
  PlaylistRecord noName;
  noName.ID = 54;
  t.Append(noName);
  t.Append(Row(55, cue.string(), "cue track 2"));
  SavePlaylistFile(path, t);

  TPlaylistTable loaded;
  const auto outcome = LoadPlaylistFile(path, loaded);
  EXPECT_EQ(outcome.Result, TPlaylistLoadResult::plrLoaded);
  EXPECT_EQ(outcome.DroppedRows, 3);
  ASSERT_EQ(loaded.RowCount(), 3);
  EXPECT_EQ(*loaded.Row(0).Title, "there");
  EXPECT_EQ(*loaded.Row(2).Title, "cue track 2");
  for (int i = 0; i < 3; ++i)
    EXPECT_EQ(loaded.Row(i).ID, i + 1);
}

TEST_F(PlaylistFileIo, MissingFileGivesAnEmptyTable) {
  TPlaylistTable t;
  t.Append(Row(1, "/a", "a"));
  const auto outcome = LoadPlaylistFile(path, t, AnyFileExists);
  EXPECT_EQ(outcome.Result, TPlaylistLoadResult::plrNoFile);
  EXPECT_TRUE(t.IsEmpty());
  EXPECT_FALSE(fs::exists(path + ".bad"));
}

TEST_F(PlaylistFileIo, DamagedFileIsKeptAsBadAndTheTableStartsEmpty) {
  WriteBytes(path + ".bad", "an older damaged list");
  const std::string damaged =
      "\"@@TABLEDEF START@@\"\r\n\"ID=Float,0\"\r\n\"@@TABLEDEF END@@\"\r\n\"ID\",\r\n\"1\",\r\n";
  WriteBytes(path, damaged);
  TPlaylistTable t;
  t.Append(Row(1, "/a", "a"));
  const auto outcome = LoadPlaylistFile(path, t, AnyFileExists);
  EXPECT_EQ(outcome.Result, TPlaylistLoadResult::plrDamaged);
  EXPECT_EQ(outcome.Error, "Unknown field type (Float) in CSV file. (ID=Float,0)");
  EXPECT_TRUE(outcome.KeptAside);
  EXPECT_TRUE(t.IsEmpty());
  EXPECT_FALSE(fs::exists(path));
  EXPECT_EQ(ReadBytes(path + ".bad"), damaged);  // the older one is replaced

  // The next save writes a fresh list; the kept one stays for the user.
  SavePlaylistFile(path, t);
  TPlaylistTable again;
  EXPECT_EQ(LoadPlaylistFile(path, again).Result, TPlaylistLoadResult::plrLoaded);
  EXPECT_EQ(ReadBytes(path + ".bad"), damaged);
}

TEST_F(PlaylistFileIo, UnreadablePlaylistPathIsSetAsideLikeADamagedFile) {
  fs::create_directory(path);  // something that is not a file
  TPlaylistTable t;
  const auto outcome = LoadPlaylistFile(path, t, AnyFileExists);
  EXPECT_EQ(outcome.Result, TPlaylistLoadResult::plrDamaged);
  EXPECT_TRUE(fs::is_directory(path + ".bad"));
  EXPECT_TRUE(t.IsEmpty());
}

TEST_F(PlaylistFileIo, SaveReplacesTheFileAndCreatesAMissingFolder) {
  const std::string nested = (dir / "config" / "lirvo" / "lirvo.xpl").string();
  TPlaylistTable t;
  t.Append(Row(1, "/a", "first"));
  SavePlaylistFile(nested, t);
  t.Append(Row(2, "/b", "second"));
  SavePlaylistFile(nested, t);
  std::ifstream in(nested, std::ios::binary);
  EXPECT_EQ(ReadPlaylist(in).size(), 2u);
  // Only the list itself is in the folder: no temporary file is left.
  int entries = 0;
  for ([[maybe_unused]] const auto& e : fs::directory_iterator(fs::path(nested).parent_path())) {
    ++entries;
  }
  EXPECT_EQ(entries, 1);
}

// Lowers the file size limit so writes fail part-way, as on a full disk.
class TFileSizeLimit {
 public:
  explicit TFileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &FOld);
    FOldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit lowered = FOld;
    lowered.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &lowered);
  }
  ~TFileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &FOld);
    std::signal(SIGXFSZ, FOldHandler);
  }

 private:
  rlimit FOld{};
  void (*FOldHandler)(int) = nullptr;
};

TEST_F(PlaylistFileIo, FailedWriteLeavesTheOldListWholeAndNoTemporaryFile) {
  TPlaylistTable small;
  small.Append(Row(1, "/a", "old list"));
  SavePlaylistFile(path, small);
  const std::string before = ReadBytes(path);

  TPlaylistTable big;
  for (int i = 0; i < 2000; ++i)
    big.Append(Row(i + 1, "/music/file" + std::to_string(i), "t"));
  std::string error;
  {
    TFileSizeLimit limit(16 * 1024);
    try {
      SavePlaylistFile(path, big);
    } catch (const EAuException& e) {
      error = e.what();
    }
  }
  EXPECT_NE(error.find("Cannot write the playlist file " + path), std::string::npos) << error;
  EXPECT_EQ(ReadBytes(path), before);
  std::set<std::string> names;
  for (const auto& e : fs::directory_iterator(dir))
    names.insert(e.path().filename().string());
  EXPECT_EQ(names, std::set<std::string>{"lirvo.xpl"});
}

TEST_F(PlaylistFileIo, SaveThroughALinkReplacesTheLinkedFile) {
  const fs::path real = dir / "real.xpl";
  WriteBytes(real, "old");
  fs::create_symlink(real, path);
  TPlaylistTable t;
  t.Append(Row(1, "/a", "a"));
  SavePlaylistFile(path, t);
  EXPECT_TRUE(fs::is_symlink(path));
  EXPECT_EQ(ReadBytes(real), PlaylistToText(t));
}

TEST_F(PlaylistFileIo, SaveIntoAFolderThatCannotBeMadeReportsTheFile) {
  WriteBytes(dir / "blocker", "a file where a folder should be");
  const std::string impossible = (dir / "blocker" / "lirvo.xpl").string();
  TPlaylistTable t;
  EXPECT_THROW(SavePlaylistFile(impossible, t), EAuException);
}

}  // namespace
}  // namespace lirvo
