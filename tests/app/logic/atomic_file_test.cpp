// Replacing a file whole: the content, the mode the new file gets, links at
// the path, a missing or blocked folder, and no temporary file left behind
// whichever way the write ends.

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <set>
#include <string>

#include "app/logic/common/AtomicFile.h"
#include "common/TestPaths.h"

namespace lirvo {
namespace {

namespace fs = std::filesystem;

void WriteText(const fs::path& Path, const std::string& Text, mode_t Mode = 0644) {
  std::ofstream(Path, std::ios::binary) << Text;
  ::chmod(Path.c_str(), Mode);
}

std::string ReadText(const fs::path& Path) {
  std::ifstream in(Path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

mode_t ModeOf(const fs::path& Path) {
  struct stat st {};
  return ::stat(Path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

std::set<std::string> Names(const fs::path& Dir) {
  std::set<std::string> names;
  for (const auto& e : fs::directory_iterator(Dir))
    names.insert(e.path().filename().string());
  return names;
}

// What stands at the path before the write.
enum class TBefore { Nothing, File0600, LinkToFile };

struct TCase {
  const char* Name;
  TBefore Before;
  std::optional<mode_t> Mode;
  bool FollowLink;
  // After the write: the mode of the file written, whether the path is
  // still a link, and what the link's old target holds.
  mode_t ExpectedMode;
  bool StillLink;
  const char* TargetAfter;  // nullptr: no target
};

class AtomicFileCases : public ::testing::TestWithParam<TCase> {};

TEST_P(AtomicFileCases, WritesTheWholeContentWithTheRightModeAndLeavesNoTemporaryFile) {
  const TCase& c = GetParam();
  const fs::path dir = test::ScratchDir(std::string("atomic-") + c.Name);
  const fs::path path = dir / "file";
  const fs::path target = dir / "target";
  switch (c.Before) {
    case TBefore::Nothing:
      break;
    case TBefore::File0600:
      WriteText(path, "old", 0600);
      break;
    case TBefore::LinkToFile:
      WriteText(target, "old", 0640);
      fs::create_symlink(target, path);
      break;
  }
  TAtomicWriteOptions options;
  options.Mode = c.Mode;
  options.FollowLink = c.FollowLink;

  const TAtomicWriteResult result = WriteFileAtomically(path.string(), "new content\n", options);

  ASSERT_TRUE(result) << result.Error.message();
  EXPECT_FALSE(result.FolderFailed);
  EXPECT_EQ(ReadText(path), "new content\n");
  EXPECT_EQ(fs::is_symlink(path), c.StillLink);
  const fs::path written = c.StillLink ? target : path;
  EXPECT_EQ(ModeOf(written), c.ExpectedMode);
  if (c.TargetAfter) {
    EXPECT_EQ(ReadText(target), c.TargetAfter);
  }
  std::set<std::string> expected{"file"};
  if (c.Before == TBefore::LinkToFile) expected.insert("target");
  EXPECT_EQ(Names(dir), expected);
}

INSTANTIATE_TEST_SUITE_P(
    AtomicFile, AtomicFileCases,
    ::testing::Values(TCase{"NewFileGetsTheUsualMode", TBefore::Nothing, std::nullopt, true, 0644,
                            false, nullptr},
                      TCase{"ReplacedFileKeepsItsMode", TBefore::File0600, std::nullopt, true, 0600,
                            false, nullptr},
                      TCase{"ModeAskedForWins", TBefore::File0600, mode_t{0755}, true, 0755, false,
                            nullptr},
                      TCase{"FollowedLinkStaysAndItsTargetIsReplaced", TBefore::LinkToFile,
                            std::nullopt, true, 0640, true, "new content\n"},
                      TCase{"LinkNotFollowedIsReplacedAndItsTargetKept", TBefore::LinkToFile,
                            mode_t{0755}, false, 0755, false, "old"}),
    [](const ::testing::TestParamInfo<TCase>& Info) { return std::string(Info.param.Name); });

TEST(AtomicFile, MissingFolderIsMadeOnlyWhenAskedFor) {
  const fs::path dir = test::ScratchDir("atomic-folder");
  const fs::path made = dir / "a" / "b" / "file";
  ASSERT_TRUE(WriteFileAtomically(made.string(), "x"));
  EXPECT_EQ(ReadText(made), "x");

  TAtomicWriteOptions options;
  options.CreateFolder = false;
  const fs::path missing = dir / "missing" / "file";
  const TAtomicWriteResult result = WriteFileAtomically(missing.string(), "x", options);
  EXPECT_FALSE(result);
  EXPECT_EQ(result.Error, std::errc::no_such_file_or_directory);
  EXPECT_FALSE(result.FolderFailed);
  EXPECT_FALSE(fs::exists(dir / "missing"));
}

TEST(AtomicFile, FolderBlockedByAFileIsReportedAndTheFileKept) {
  const fs::path dir = test::ScratchDir("atomic-blocked");
  WriteText(dir / "blocker", "a file where a folder should be");
  const TAtomicWriteResult result = WriteFileAtomically((dir / "blocker" / "file").string(), "x");
  EXPECT_FALSE(result);
  EXPECT_TRUE(result.FolderFailed);
  EXPECT_EQ(ReadText(dir / "blocker"), "a file where a folder should be");
  EXPECT_EQ(Names(dir), std::set<std::string>{"blocker"});
}

}  // namespace
}  // namespace lirvo
