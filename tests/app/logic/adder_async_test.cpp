// The add on a worker thread: it must give the table exactly what the
// synchronous add gives, report progress on the UI thread, and stop for good
// when cancelled or destroyed, even with calls still queued.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/logic/playlist/PlaylistAdder.h"
#include "common/TestPaths.h"
#include "tests/app/logic/AdderTestSupport.h"

using namespace lirvo;
using namespace lirvo::test;
using namespace std::chrono_literals;

namespace {

std::vector<PlaylistRecord> Rows(const TPlaylistTable& T) {
  std::vector<PlaylistRecord> out;
  for (int i = 0; i < T.RowCount(); ++i)
    out.push_back(T.Row(i));
  return out;
}

// A tree of Count small WAV files in a few subfolders, plus a sheet and
// some files that add nothing.
std::string MakeTree(const std::string& Name, int Count) {
  const std::string dir = ScratchDir(Name);
  for (const char* sub : {"/one", "/two", "/two/inner"})
    ::mkdir((dir + sub).c_str(), 0755);
  const char* subs[] = {"", "/one", "/two", "/two/inner"};
  for (int i = 0; i < Count; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "/f%04d.wav", i);
    WriteWav(dir + subs[i % 4] + name, 8000, 1, 8, 8000 + i);
  }
  WriteWav(dir + "/one/image.wav", 1000, 1, 8, 60 * 1000);
  WriteText(dir + "/one/image.cue",
            "FILE \"image.wav\" WAVE\n TRACK 01 AUDIO\n  INDEX 01 00:00:00\n TRACK 02 AUDIO\n"
            "  INDEX 01 00:20:00\n");
  WriteText(dir + "/two/readme.txt", "x");
  WriteText(dir + "/two/broken.flac", "x");
  return dir;
}

// Drains Q until Done or the time runs out.
bool DrainUntil(TTestQueue& Q, const std::function<bool()>& Done,
                std::chrono::milliseconds Limit = 60s) {
  const auto end = std::chrono::steady_clock::now() + Limit;
  while (!Done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    if (!Q.RunOne()) std::this_thread::sleep_for(1ms);
  }
  return true;
}

TEST(AsyncAdder, GivesTheSameRowsAndIdsAsTheSynchronousAdd) {
  const std::string dir = MakeTree("adder-async-same", 60);
  const std::string extra = ScratchDir("adder-async-extra") + "/single.wav";
  WriteWav(extra, 8000, 1, 16, 80);
  const std::vector<std::string> drop = {dir, extra};

  TPlaylistTable sync_table;
  sync_table.SetAudioID(5);
  TPlaylistAdder(sync_table).AddPaths(drop);
  ASSERT_EQ(sync_table.RowCount(), 60 + 1 + 2 + 1);  // files, image, its two tracks, single

  TPlaylistTable table;
  table.SetAudioID(5);
  TTestQueue queue;
  std::vector<TAddProgress> progress;
  int done = 0;
  TAddProgress final_progress;
  const auto ui = std::this_thread::get_id();
  bool off_ui_thread = false;
  TAsyncAdder adder(table, drop, queue.Poster(),
                    {[&](const TAddProgress& P) {
                       off_ui_thread |= std::this_thread::get_id() != ui;
                       progress.push_back(P);
                     },
                     [&](const TAddProgress& P) {
                       off_ui_thread |= std::this_thread::get_id() != ui;
                       ++done;
                       final_progress = P;
                     }});
  ASSERT_TRUE(DrainUntil(queue, [&] { return adder.Finished(); }));
  while (queue.RunOne()) {
  }
  EXPECT_FALSE(off_ui_thread);
  EXPECT_EQ(Rows(table), Rows(sync_table));
  EXPECT_EQ(done, 1);
  // 60 files, sheet and image, two that add nothing, the single file.
  EXPECT_EQ(final_progress.FilesExamined, 60u + 2 + 2 + 1);
  EXPECT_EQ(final_progress.RowsAdded, 64u);
  EXPECT_EQ(final_progress.CurrentPath, extra);
  ASSERT_FALSE(progress.empty());
  for (size_t i = 1; i < progress.size(); ++i) {
    EXPECT_GE(progress[i].FilesExamined, progress[i - 1].FilesExamined);
    EXPECT_GE(progress[i].RowsAdded, progress[i - 1].RowsAdded);
  }
}

TEST(AsyncAdder, EmptyDropStillReportsDone) {
  TPlaylistTable table;
  TTestQueue queue;
  int done = 0;
  TAsyncAdder adder(table, {"/nonexistent/path/for/test"}, queue.Poster(),
                    {nullptr, [&](const TAddProgress& P) {
                       ++done;
                       EXPECT_EQ(P.FilesExamined, 0u);
                     }});
  ASSERT_TRUE(DrainUntil(
      queue, [&] { return adder.Finished(); }, 10s));
  EXPECT_EQ(done, 1);
  EXPECT_EQ(table.RowCount(), 0);
}

class AsyncAdderStop : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { Tree = new std::string(MakeTree("adder-async-big", 2000)); }
  static void TearDownTestSuite() { delete Tree; }
  static std::string* Tree;

  // Waits until the worker has filled its quota of queued batches and so
  // must be blocked waiting for the UI thread, in the middle of the tree.
  static bool WaitForFullQueue(TTestQueue& Q) {
    const auto end = std::chrono::steady_clock::now() + 60s;
    while (Q.Size() < static_cast<size_t>(TAsyncAdder::kMaxBatchesInFlight)) {
      if (std::chrono::steady_clock::now() > end) return false;
      std::this_thread::sleep_for(1ms);
    }
    return true;
  }
};
std::string* AsyncAdderStop::Tree = nullptr;

TEST_F(AsyncAdderStop, CancelMidwayStopsRowsAndCallbacksAndDoesNotDeadlock) {
  TPlaylistTable table;
  TTestQueue queue;
  int progress_calls = 0, done_calls = 0;
  TAsyncAdder adder(
      table, {*Tree}, queue.Poster(),
      {[&](const TAddProgress&) { ++progress_calls; }, [&](const TAddProgress&) { ++done_calls; }});
  ASSERT_TRUE(WaitForFullQueue(queue));
  // Drain one batch: it lands; the worker gets room for one more.
  ASSERT_TRUE(queue.RunOne());
  const int rows_before = table.RowCount();
  EXPECT_GT(rows_before, 0);
  EXPECT_EQ(progress_calls, 1);
  adder.Cancel();  // must return although the worker waits for the UI thread
  EXPECT_TRUE(adder.Cancelled());
  while (queue.RunOne()) {
  }
  EXPECT_EQ(table.RowCount(), rows_before);
  EXPECT_EQ(progress_calls, 1);
  EXPECT_EQ(done_calls, 0);
  EXPECT_FALSE(adder.Finished());
  EXPECT_LT(rows_before, 2000);
}

TEST_F(AsyncAdderStop, QueuedBatchesAfterDestructionAreHarmless) {
  TPlaylistTable table;
  TTestQueue queue;
  int calls = 0;
  {
    TAsyncAdder adder(
        table, {*Tree}, queue.Poster(),
        {[&](const TAddProgress&) { ++calls; }, [&](const TAddProgress&) { ++calls; }});
    ASSERT_TRUE(WaitForFullQueue(queue));
  }
  // The adder is gone; its queued batches run now and must do nothing.
  EXPECT_GE(queue.Size(), static_cast<size_t>(TAsyncAdder::kMaxBatchesInFlight));
  while (queue.RunOne()) {
  }
  EXPECT_EQ(calls, 0);
  EXPECT_EQ(table.RowCount(), 0);
}

TEST_F(AsyncAdderStop, CancelFromProgressCallbackEndsTheAdd) {
  TPlaylistTable table;
  TTestQueue queue;
  std::unique_ptr<TAsyncAdder> adder;
  int calls = 0;
  adder = std::make_unique<TAsyncAdder>(table, std::vector<std::string>{*Tree}, queue.Poster(),
                                        TAsyncAdder::TEvents{[&](const TAddProgress&) {
                                                               ++calls;
                                                               adder->Cancel();
                                                             },
                                                             nullptr});
  ASSERT_TRUE(DrainUntil(queue, [&] { return calls > 0; }));
  while (queue.RunOne()) {
  }
  EXPECT_EQ(calls, 1);
  EXPECT_TRUE(adder->Cancelled());
  adder.reset();
}

TEST_F(AsyncAdderStop, BatchesStayWithinTheirRowLimit) {
  TPlaylistTable table;
  TTestQueue queue;
  uint64_t last_rows = 0, largest = 0;
  TAsyncAdder adder(table, {*Tree}, queue.Poster(),
                    {[&](const TAddProgress& P) {
                       largest = std::max(largest, P.RowsAdded - last_rows);
                       last_rows = P.RowsAdded;
                     },
                     nullptr});
  ASSERT_TRUE(DrainUntil(queue, [&] { return adder.Finished(); }));
  EXPECT_EQ(table.RowCount(), 2000 + 3);
  // Every file here gives at most two rows.
  EXPECT_LE(largest, static_cast<uint64_t>(TAsyncAdder::kBatchRows + 1));
}

}  // namespace
