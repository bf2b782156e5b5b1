// The main window playing and filling its playlist: drops onto the grid (from
// the desktop and from the file browser) add rows in the background, the
// transport buttons and keys drive the window's own outputs playing into
// capture devices of the test, and the status line says what happens.

#include <gtest/gtest.h>

#include <QAbstractItemModel>
#include <QApplication>
#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QHeaderView>
#include <QLineEdit>
#include <QListView>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableView>
#include <QTest>
#include <QUrl>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ClickLabel.h"
#include "FileBrowserPane.h"
#include "MainFormPlayer.h"
#include "PlaylistModel.h"
#include "PlaylistView.h"
#include "QtUiDispatcher.h"
#include "UnitMain.h"
#include "app/logic/playlist/PlaylistAdder.h"
#include "audio/core/UiDispatcher.h"
#include "audio/outputs/AuASIO.h"
#include "audio/outputs/DSAudioOut.h"
#include "common/ExternalTools.h"
#include "common/TestPaths.h"
#include "tests/app/ui/MainFormSandbox.h"
#include "tests/audio/outputs/DsTestSupport.h"

using namespace lirvo;
using namespace lirvo::test;
using namespace std::chrono_literals;

namespace {

const QString kNothingToPlay = QStringLiteral("没有要播放的曲目");
const QString kPlayingPrefix = QStringLiteral("正在播放：");

// Runs the event loop and the outputs' queued calls until Done or Timeout.
bool PumpUntil(const std::function<bool()>& Done, std::chrono::milliseconds Timeout = 10s) {
  const auto deadline = std::chrono::steady_clock::now() + Timeout;
  while (!Done()) {
    if (std::chrono::steady_clock::now() >= deadline) return Done();
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    CheckSynchronize(2ms);
  }
  return true;
}

void PumpFor(std::chrono::milliseconds Duration) {
  const auto deadline = std::chrono::steady_clock::now() + Duration;
  while (std::chrono::steady_clock::now() < deadline) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    CheckSynchronize(2ms);
  }
}

std::string MakeTone(const std::string& Path, double Seconds, int Hz) {
  RunCapture("sox -n -r 44100 -c 2 -b 16 " + Quote(Path) + " synth " + std::to_string(Seconds) +
             " sine " + std::to_string(Hz) + " vol 0.5 2>&1");
  return Path;
}

class MainFormPlayTest : public ::testing::Test {
 protected:
  // Paced: the shared output plays in real time through the test sound
  // server; otherwise it plays as fast as it can into a capture file.
  // A second capture device (device 1) writes to SecondCapturePath.
  void Open(const std::string& Name, bool Paced = false) {
    Dir = ScratchDir(Name);
    CapturePath = Dir + "/capture.raw";
    SecondCapturePath = Dir + "/second.raw";
    std::filesystem::remove(CapturePath);
    std::filesystem::remove(SecondCapturePath);
    TMainFormServices services = sandbox.Services();
    TDsDeviceEntry second = CaptureDevice(SecondCapturePath);
    second.Name = "Second";
    second.Pcm = "lirvocap2";
    const std::string::size_type at = second.Config.find("lirvocap");
    second.Config.replace(at, 8, "lirvocap2");
    services.DSoundDevices = std::vector<TDsDeviceEntry>{CaptureDevice(CapturePath, Paced), second};
    form = std::make_unique<TLVPMainForm>(services);
    // Which rows started, in order: the grid marks each one as it starts.
    QObject::connect(form->Player().Model(), &QAbstractItemModel::dataChanged, [this] {
      const int32_t id = form->Player().Model()->CurrentID();
      if (id != 0 && (Started.empty() || Started.back() != id)) Started.push_back(id);
    });
  }

  void TearDown() override {
    if (form) form->StopAudioOut();
    form.reset();
  }

  int32_t AddRow(const std::string& File, const std::string& Title) {
    PlaylistRecord r;
    r.ID = static_cast<int32_t>(form->Playlist().NextAudioID());
    r.Filename = File;
    r.Title = Title;
    r.Artist = "Artist";
    r.Album = "Album";
    form->Playlist().Append(r);
    return *r.ID;
  }
  std::string Tone(const std::string& Name, double Seconds, int Hz) {
    return MakeTone(Dir + "/" + Name, Seconds, Hz);
  }

  lirvo::TPlaybackController& Ctl() { return form->Player().Controller(); }
  QString Status() const { return form->lblDisp->text(); }
  bool StatusIs(const QString& Text, bool Error) const {
    return Status() == Text && form->StatusIsError() == Error;
  }
  bool WaitForStatus(const QString& Text, bool Error = false,
                     std::chrono::milliseconds Timeout = 10s) {
    return PumpUntil([&] { return StatusIs(Text, Error); }, Timeout);
  }
  bool AllIdle() const {
    return form->DSound().Status() == tosIdle && form->ASIO().Status() == tosIdle;
  }

  // Drops Paths onto the grid as the desktop would, and waits for the rows.
  void DropOnGrid(const QStringList& Paths) {
    QMimeData data;
    QList<QUrl> urls;
    for (const QString& p : Paths)
      urls.append(QUrl::fromLocalFile(p));
    data.setUrls(urls);
    QWidget* target = form->dbgSongs->viewport();
    const QPointF pos(target->width() / 2.0, target->height() / 2.0);
    QDragEnterEvent enter(pos.toPoint(), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &enter);
    ASSERT_TRUE(enter.isAccepted()) << "the grid refused a drop of local files";
    QDropEvent drop(pos, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &drop);
    ASSERT_TRUE(drop.isAccepted());
    ASSERT_TRUE(PumpUntil([&] { return !form->Player().Adding(); }, 20s))
        << "the add did not finish";
  }

  TQtUiDispatcher dispatcher;
  TMainFormSandbox sandbox;
  std::string Dir;
  std::string CapturePath;
  std::string SecondCapturePath;
  std::unique_ptr<TLVPMainForm> form;
  std::vector<int32_t> Started;  // IDs of the rows started, in order
};

// --- Adding -------------------------------------------------------------------

// The whole fixtures folder dropped from the desktop gives exactly the rows
// the adder reads file by file, in the same order, shown in the grid; the
// status line is given back afterwards.
TEST_F(MainFormPlayTest, DroppingAFolderAddsItsFilesWithTagsAndDurationsInTheBackground) {
  Open("window-drop-folder");
  const std::string folder = FixturePath("audio");
  QSignalSpy finished(&form->Player(), &TMainFormPlayer::addingFinished);
  DropOnGrid({QString::fromStdString(folder)});
  EXPECT_EQ(finished.count(), 1);

  TPlaylistTable expected;
  TPlaylistAdder(expected).AddDir(folder);
  ASSERT_GT(expected.RowCount(), 10);
  const TPlaylistTable& table = form->Playlist();
  ASSERT_EQ(table.RowCount(), expected.RowCount());
  for (int i = 0; i < table.RowCount(); ++i)
    EXPECT_EQ(table.Row(i), expected.Row(i)) << i;
  EXPECT_EQ(form->dbgSongs->model()->rowCount(), table.RowCount());

  // A few rows known from their tags.
  auto rowOf = [&](const std::string& File) -> const PlaylistRecord* {
    for (int i = 0; i < table.RowCount(); ++i)
      if (table.Row(i).Filename == FixturePath("audio/" + File)) return &table.Row(i);
    return nullptr;
  };
  const PlaylistRecord* mp3 = rowOf("duplicate_id3v2.mp3");
  ASSERT_NE(mp3, nullptr);
  EXPECT_EQ(mp3->Title, "TitleXXXX");
  EXPECT_EQ(mp3->Artist, "ArtistXXXX");
  EXPECT_EQ(mp3->Album, "AlbumXXXX");
  EXPECT_EQ(mp3->Track, 7);
  const PlaylistRecord* wma = rowOf("silence-1.wma");
  ASSERT_NE(wma, nullptr);
  EXPECT_EQ(wma->Title, "test");
  const PlaylistRecord* wav = rowOf("alaw.wav");
  ASSERT_NE(wav, nullptr);
  EXPECT_EQ(wav->Title, "alaw");
  EXPECT_FALSE(wav->Artist.has_value());
  EXPECT_TRUE(wav->Time.has_value());
  // IDs continue from 1 in the order added.
  for (int i = 0; i < table.RowCount(); ++i)
    EXPECT_EQ(table.Row(i).ID, i + 1);

  EXPECT_TRUE(StatusIs(QStringLiteral("Lirvo音乐播放器 2.4"), false))
      << "the progress text stayed: " << Status().toStdString();
}

// A large drop shows its progress on the status line while the rows arrive
// in batches, and the grid holds them all at the end.
TEST_F(MainFormPlayTest, ALargeDropShowsItsProgressWhileTheRowsArrive) {
  Open("window-drop-many");
  const std::string folder = Dir + "/many";
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);
  constexpr int kFiles = 250;
  for (int i = 0; i < kFiles; ++i) {
    // 0.1 s of 8 kHz 16-bit mono silence.
    const uint32_t data = 1600;
    std::string h = "RIFF";
    auto u32 = [&](uint32_t v) {
      for (int b = 0; b < 4; ++b)
        h.push_back(static_cast<char>(v >> (8 * b)));
    };
    auto u16 = [&](uint16_t v) {
      h.push_back(static_cast<char>(v));
      h.push_back(static_cast<char>(v >> 8));
    };
    u32(36 + data);
    h += "WAVEfmt ";
    u32(16);
    u16(1);
    u16(1);
    u32(8000);
    u32(16000);
    u16(2);
    u16(16);
    h += "data";
    u32(data);
    h.append(data, '\0');
    char name[32];
    std::snprintf(name, sizeof name, "/f%03d.wav", i);
    std::ofstream(folder + name, std::ios::binary) << h;
  }
  QStringList seen;
  QObject::connect(form->Player().Model(), &QAbstractItemModel::rowsInserted,
                   [&] { seen.append(Status()); });
  DropOnGrid({QString::fromStdString(folder)});
  EXPECT_EQ(form->Playlist().RowCount(), kFiles);
  EXPECT_GT(seen.size(), 1) << "the rows did not arrive in batches";
  EXPECT_TRUE(seen.filter(QStringLiteral("正在添加")).size() >= 1)
      << "no progress on the status line: " << seen.join(u'|').toStdString();
  EXPECT_FALSE(form->StatusIsError());
}

// A CUE sheet gives one row per track; two drops made while the first is
// still being read keep their order.
TEST_F(MainFormPlayTest, ACueSheetAddsOneRowPerTrackAndDropsKeepTheirOrder) {
  REQUIRE_TOOL("sox");
  Open("window-drop-cue");
  Tone("image.wav", 3, 440);
  std::ofstream(Dir + "/disc.cue") << "PERFORMER \"Band\"\nTITLE \"Disc\"\n"
                                      "FILE \"image.wav\" WAVE\n"
                                      "  TRACK 01 AUDIO\n    TITLE \"One\"\n    INDEX 01 00:00:00\n"
                                      "  TRACK 02 AUDIO\n    TITLE \"Two\"\n    INDEX 01 00:01:00\n"
                                      "  TRACK 03 AUDIO\n    TITLE \"Three\"\n"
                                      "    PERFORMER \"Guest\"\n    INDEX 01 00:02:00\n";
  const std::string single = Tone("single.wav", 0.5, 550);

  form->Player().AddPaths({QString::fromStdString(Dir + "/disc.cue")});
  DropOnGrid({QString::fromStdString(single)});

  const TPlaylistTable& table = form->Playlist();
  ASSERT_EQ(table.RowCount(), 4);
  const char* titles[] = {"One", "Two", "Three"};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(table.Row(i).Filename, Dir + "/disc.cue");
    EXPECT_EQ(table.Row(i).Track, i + 1);
    EXPECT_EQ(table.Row(i).Title, titles[i]);
    EXPECT_EQ(table.Row(i).Album, "Disc");
    EXPECT_EQ(table.Row(i).Artist, i == 2 ? "Guest" : "Band");
    EXPECT_EQ(table.Row(i).Time, 1);
  }
  EXPECT_EQ(table.Row(3).Title, "single");
}

// The file browser's selection dragged onto the grid, its folder list's
// folder, and its double-click all reach the playlist.
TEST_F(MainFormPlayTest, FilesFromTheBrowserReachThePlaylist) {
  REQUIRE_TOOL("sox");
  Open("window-browser");
  const QString music = sandbox.Path("music");
  QDir(music).mkpath(QStringLiteral("sub"));
  MakeTone((music + "/a.wav").toStdString(), 0.2, 440);
  MakeTone((music + "/b.flac").toStdString(), 0.2, 440);
  MakeTone((music + "/sub/c.wav").toStdString(), 0.2, 440);
  form->FileBrowser->SetCurrentFolder(music);
  ASSERT_EQ(form->FileBrowser->FileNames(), (QStringList{"a.wav", "b.flac"}));

  EXPECT_TRUE(form->Player().dbgSongsDragOver(nullptr, form->filelist));
  EXPECT_TRUE(form->Player().dbgSongsDragOver(nullptr, form->dirlist));
  EXPECT_FALSE(form->Player().dbgSongsDragOver(nullptr, form->edtFilter));

  form->filelist->selectAll();
  form->Player().dbgSongsDragDrop(nullptr, form->filelist);
  ASSERT_TRUE(PumpUntil([&] { return !form->Player().Adding(); }));
  ASSERT_EQ(form->Playlist().RowCount(), 2);
  EXPECT_EQ(form->Playlist().Row(1).Title, "b");

  // The folder list's selected folder.
  QAbstractItemModel* folders = form->dirlist->model();
  for (int i = 0; i < folders->rowCount(); ++i)
    if (folders->index(i, 0).data().toString() == QStringLiteral("sub"))
      form->dirlist->setCurrentIndex(folders->index(i, 0));
  ASSERT_FALSE(form->FileBrowser->SelectedFolder().isEmpty());
  form->Player().dbgSongsDragDrop(nullptr, form->dirlist);
  ASSERT_TRUE(PumpUntil([&] { return !form->Player().Adding(); }));
  ASSERT_EQ(form->Playlist().RowCount(), 3);
  EXPECT_EQ(form->Playlist().Row(2).Title, "c");

  // Double-click in the file list.
  form->filelist->setCurrentIndex(form->filelist->model()->index(0, 0));
  form->FileBrowser->filelistDblClick();
  ASSERT_TRUE(PumpUntil([&] { return !form->Player().Adding(); }));
  ASSERT_EQ(form->Playlist().RowCount(), 4);
  EXPECT_EQ(form->Playlist().Row(3).Title, "a");
}

// --- Playing --------------------------------------------------------------------

// "播放" plays the current row on the device the settings chose; its end
// starts the next row; after the last one the list stops with the message in
// the normal colour and the progress bar back at 0.
TEST_F(MainFormPlayTest, PlayRunsToTheEndOfATrackAndStartsTheNextRow) {
  REQUIRE_TOOL("sox");
  Open("window-play-sequence");
  const int32_t a = AddRow(Tone("a.wav", 0.2, 440), "A");
  const int32_t b = AddRow(Tone("b.flac", 0.2, 550), "B");
  form->Playlist().SetCurrentRow(0);

  QTest::mouseClick(form->btnPlay, Qt::LeftButton);
  ASSERT_TRUE(WaitForStatus(kNothingToPlay)) << Status().toStdString();
  EXPECT_EQ(Started, (std::vector<int32_t>{a, b}));
  EXPECT_EQ(Ctl().FCurrentID, b);
  EXPECT_EQ(form->AudioOut(), &form->DSound());
  EXPECT_EQ(form->Playlist().CurrentRow(), 1);
  EXPECT_EQ(form->pbPlayProgress->value(), 0);
  EXPECT_TRUE(AllIdle());
  // Both tracks reached the device: 0.4 s of 16-bit stereo at least.
  EXPECT_GE(ReadFileBytes(CapturePath).size(), 2u * 17640u * 2u);
}

// At either end of the list "下一首" and "上一首" start nothing and say so in
// the normal colour; "播放" on an empty list says it in red.
TEST_F(MainFormPlayTest, NextAndPriorAtTheEndsAndPlayOnAnEmptyListShowTheMessage) {
  REQUIRE_TOOL("sox");
  Open("window-ends");
  const int32_t a = AddRow(Tone("a.wav", 0.1, 440), "A");
  form->Playlist().SetCurrentRow(0);
  QTest::mouseClick(form->btnPlay, Qt::LeftButton);
  ASSERT_TRUE(WaitForStatus(kNothingToPlay));
  ASSERT_EQ(Started, (std::vector<int32_t>{a}));

  for (QPushButton* button : {form->btnNext, form->btnPrior}) {
    QTest::mouseClick(form->btnStop, Qt::LeftButton);
    ASSERT_TRUE(StatusIs(QStringLiteral("播放停止"), false));
    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_TRUE(StatusIs(kNothingToPlay, false)) << button->text().toStdString();
    EXPECT_TRUE(AllIdle());
  }
  EXPECT_EQ(Started.size(), 1u);

  form->Player().View()->ClearPlaylist();
  QTest::mouseClick(form->btnPlay, Qt::LeftButton);
  EXPECT_TRUE(StatusIs(kNothingToPlay, true));
  EXPECT_TRUE(AllIdle());
}

// Sorted by "标题", the end of a track plays the next title, not the next
// row of the order the rows were added in.
TEST_F(MainFormPlayTest, SortedByTitleTheEndOfATrackPlaysTheNextTitle) {
  REQUIRE_TOOL("sox");
  Open("window-sorted");
  const int32_t c = AddRow(Tone("c.wav", 0.1, 440), "C");
  const int32_t a = AddRow(Tone("a.wav", 0.1, 550), "A");
  const int32_t b = AddRow(Tone("b.wav", 0.1, 660), "B");
  emit form->dbgSongs->horizontalHeader()->sectionClicked(pfTitle);
  ASSERT_EQ(form->Playlist().Row(0).Title, "A");
  form->Playlist().SetCurrentRow(0);

  QTest::mouseClick(form->btnPlay, Qt::LeftButton);
  ASSERT_TRUE(WaitForStatus(kNothingToPlay));
  EXPECT_EQ(Started, (std::vector<int32_t>{a, b, c}));
}

// The playing row deleted, "下一首" plays the row after the cursor's row.
TEST_F(MainFormPlayTest, DeletingThePlayingRowThenNextPlaysTheRowAfterTheCursor) {
  REQUIRE_TOOL("sox");
  Open("window-delete-playing");
  const int32_t a = AddRow(Tone("a.wav", 0.1, 440), "A");
  AddRow(Tone("b.wav", 0.1, 550), "B");
  const int32_t c = AddRow(Tone("c.wav", 0.1, 660), "C");
  form->Playlist().SetCurrentRow(0);
  form->miPlay->trigger();
  QTest::mouseClick(form->btnStop, Qt::LeftButton);
  ASSERT_EQ(Ctl().FCurrentID, a);

  // Deleting the current row (the playing one) puts the cursor on B.
  form->miDelete->trigger();
  ASSERT_EQ(form->Playlist().RowCount(), 2);
  ASSERT_EQ(form->Playlist().Current()->Title, "B");
  Started.clear();
  QTest::mouseClick(form->btnNext, Qt::LeftButton);
  ASSERT_FALSE(Started.empty());
  EXPECT_EQ(Started.front(), c);
}

// Pause, then "播放": the paused row is stopped and starts again from its
// beginning.
TEST_F(MainFormPlayTest, PauseThenPlayRestartsTheRow) {
  REQUIRE_TOOL("sox");
  LIRVO_REQUIRE_PULSE();
  Open("window-pause", /*Paced=*/true);
  const std::string file = Tone("a.wav", 3, 440);
  const int32_t a = AddRow(file, "A");
  AddRow(Tone("b.wav", 0.2, 550), "B");
  form->Playlist().SetCurrentRow(0);
  QTest::mouseClick(form->btnPlay, Qt::LeftButton);
  PumpFor(400ms);
  ASSERT_EQ(form->DSound().Status(), tosPlaying);

  QTest::mouseClick(form->btnPause, Qt::LeftButton);
  EXPECT_EQ(form->DSound().Status(), tosPaused);
  EXPECT_TRUE(StatusIs(QStringLiteral("暂停播放：A / Artist / Album"), false));

  QTest::mouseClick(form->btnPlay, Qt::LeftButton);
  EXPECT_EQ(form->DSound().Status(), tosPlaying);
  EXPECT_TRUE(StatusIs(kPlayingPrefix + QStringLiteral("A / Artist / Album"), false));
  EXPECT_EQ(Ctl().FCurrentID, a);
  PumpFor(400ms);
  QTest::mouseClick(form->btnStop, Qt::LeftButton);
  EXPECT_EQ(Started, (std::vector<int32_t>{a}));

  // The capture device starts its file afresh at each run: the restarted run
  // holds the file from its first frame.
  const std::vector<uint8_t> cap = ReadFileBytes(CapturePath);
  const std::vector<uint8_t> pcm =
      RunCapture("sox " + Quote(file) + " -t raw -e signed -b 16 -L - 2>/dev/null");
  const size_t check = std::min<size_t>(cap.size(), 44100 / 4 * 4);
  ASSERT_GE(check, 4096u) << "too little reached the device after the restart";
  EXPECT_TRUE(std::equal(cap.begin(), cap.begin() + check, pcm.begin()))
      << "the row went on instead of starting again";
}

// The track's time beside the transport: it counts while the track plays,
// stands while paused and is gone after a stop.
TEST_F(MainFormPlayTest, TheTrackTimeCountsStandsWhilePausedAndGoesWithTheStop) {
  REQUIRE_TOOL("sox");
  LIRVO_REQUIRE_PULSE();
  Open("window-time", /*Paced=*/true);
  AddRow(Tone("a.wav", 5, 440), "A");
  form->Playlist().SetCurrentRow(0);
  EXPECT_EQ(form->lblTime->text(), "");
  QTest::mouseClick(form->btnPlay, Qt::LeftButton);
  // The length is known once the chain has opened the file on the playback
  // thread; the clock shows it from its next second on.
  ASSERT_TRUE(PumpUntil([&] { return form->lblTime->text() == "0:01 / 0:05"; }, 5s))
      << form->lblTime->text().toStdString();

  QTest::mouseClick(form->btnPause, Qt::LeftButton);
  const QString paused = form->lblTime->text();
  EXPECT_TRUE(paused.endsWith(" / 0:05")) << paused.toStdString();
  PumpFor(1500ms);
  EXPECT_EQ(form->lblTime->text(), paused);

  QTest::mouseClick(form->btnStop, Qt::LeftButton);
  EXPECT_EQ(form->lblTime->text(), "");
}

// Two rows of one format from the window: the device receives the first
// track and then the second with nothing between; the status line and the
// grid's cursor move to the second row when it is heard, and a stop while the
// next one is prepared plays none of it.
TEST_F(MainFormPlayTest, TheNextRowFollowsWithoutAGapAndTheWindowFollowsWhatIsHeard) {
  REQUIRE_TOOL("sox");
  LIRVO_REQUIRE_PULSE();
  Open("window-continuous", /*Paced=*/true);
  const std::string fa = Tone("a.wav", 1.2, 440), fb = Tone("b.wav", 0.6, 550);
  const int32_t a = AddRow(fa, "A");
  const int32_t b = AddRow(fb, "B");
  form->Playlist().SetCurrentRow(0);
  QTest::mouseClick(form->btnPlay, Qt::LeftButton);
  PumpFor(600ms);
  EXPECT_TRUE(StatusIs(kPlayingPrefix + QStringLiteral("A / Artist / Album"), false));
  EXPECT_EQ(form->Playlist().CurrentRow(), 0);
  ASSERT_TRUE(PumpUntil(
      [&] { return StatusIs(kPlayingPrefix + QStringLiteral("B / Artist / Album"), false); }, 10s));
  EXPECT_EQ(form->Playlist().CurrentRow(), 1);
  EXPECT_EQ(Ctl().FCurrentID, b);
  ASSERT_TRUE(PumpUntil([&] { return AllIdle(); }, 10s));
  EXPECT_EQ(Started, (std::vector<int32_t>{a, b}));
  auto pcm = [](const std::string& F) {
    return RunCapture("sox " + Quote(F) + " -t raw -e signed -b 16 -L - 2>/dev/null");
  };
  std::vector<uint8_t> both = pcm(fa);
  const std::vector<uint8_t> pb = pcm(fb);
  both.insert(both.end(), pb.begin(), pb.end());
  // The capture starts afresh with each run: both rows in it, one after the
  // other, is one run.
  const std::vector<uint8_t> cap = ReadFileBytes(CapturePath);
  ASSERT_GE(cap.size(), both.size());
  EXPECT_TRUE(std::equal(both.begin(), both.end(), cap.begin())) << "a gap or a loss between rows";

  // Stopped half-way through A, with B prepared: nothing of B.
  form->Playlist().SetCurrentRow(0);
  QTest::mouseClick(form->btnPlay, Qt::LeftButton);
  PumpFor(500ms);
  QTest::mouseClick(form->btnStop, Qt::LeftButton);
  PumpFor(300ms);
  const std::vector<uint8_t> stopped = ReadFileBytes(CapturePath);
  EXPECT_EQ(std::search(stopped.begin(), stopped.end(), pb.begin(), pb.begin() + 256),
            stopped.end())
      << "the prepared row was heard after the stop";
  EXPECT_EQ(Ctl().FCurrentID, a);
}

// A click on the progress bar seeks there; Alt+Right and Alt+Left move by
// 10 s; the bar and the time follow at once.
TEST_F(MainFormPlayTest, TheProgressBarAndTheSeekKeysMoveWithinTheTrack) {
  REQUIRE_TOOL("sox");
  LIRVO_REQUIRE_PULSE();
  Open("window-seek", /*Paced=*/true);
  AddRow(Tone("a.wav", 40, 440), "A");
  form->Playlist().SetCurrentRow(0);
  form->show();
  form->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
  QTest::mouseClick(form->btnPlay, Qt::LeftButton);
  ASSERT_TRUE(PumpUntil([&] { return !form->lblTime->text().isEmpty(); }, 5s));
  QProgressBar* bar = form->pbPlayProgress;
  EXPECT_GE(bar->height(), 10) << "too thin to hit";
  QTest::mouseClick(bar, Qt::LeftButton, Qt::NoModifier,
                    QPoint(bar->width() * 6 / 10, bar->height() / 2));
  EXPECT_GE(bar->value(), 59);
  EXPECT_LE(bar->value(), 61);
  EXPECT_TRUE(form->lblTime->text().startsWith("0:24 / 0:40"))
      << form->lblTime->text().toStdString();

  form->dbgSongs->setFocus();
  QTest::keyClick(form->dbgSongs, Qt::Key_Right, Qt::AltModifier);
  EXPECT_TRUE(form->lblTime->text().startsWith("0:34 / 0:40"))
      << form->lblTime->text().toStdString();
  QTest::keyClick(form->dbgSongs, Qt::Key_Left, Qt::AltModifier);
  QTest::keyClick(form->dbgSongs, Qt::Key_Left, Qt::AltModifier);
  EXPECT_TRUE(form->lblTime->text().startsWith("0:14 / 0:40"))
      << form->lblTime->text().toStdString();
  EXPECT_EQ(form->DSound().Status(), tosPlaying);
  QTest::mouseClick(form->btnStop, Qt::LeftButton);
}

// Enter and Space typed into the filter box belong to the box: Enter applies
// the filter and plays nothing, Space is typed and pauses nothing.
TEST_F(MainFormPlayTest, EnterAndSpaceInTheFilterBoxDoNotPlayOrPause) {
  REQUIRE_TOOL("sox");
  Open("window-filter-keys");
  AddRow(Tone("a.wav", 0.1, 440), "A");
  form->Playlist().SetCurrentRow(0);
  form->show();
  form->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
  form->edtFilter->setFocus();
  ASSERT_TRUE(form->edtFilter->hasFocus());

  form->edtFilter->setText(QStringLiteral("*.flac"));
  QTest::keyClick(form->edtFilter, Qt::Key_Return);
  PumpFor(100ms);
  EXPECT_EQ(form->FileBrowser->Mask(), QStringLiteral("*.flac"));
  EXPECT_EQ(Ctl().FCurrentID, 0) << "Enter in the filter box played";
  EXPECT_TRUE(Started.empty());

  QTest::keyClick(form->edtFilter, Qt::Key_Space);
  EXPECT_EQ(form->edtFilter->text(), QStringLiteral("*.flac "));
  EXPECT_TRUE(AllIdle());

  // Elsewhere, Enter plays.
  form->dbgSongs->setFocus();
  QTest::keyClick(form->dbgSongs, Qt::Key_Return);
  EXPECT_FALSE(Started.empty());
}

// The window closes while a track plays: playback stops before the playlist
// is written, and the rows added are in the file.
TEST_F(MainFormPlayTest, ClosingWhilePlayingStopsAndSavesThePlaylist) {
  REQUIRE_TOOL("sox");
  Open("window-close");
  AddRow(Tone("a.wav", 0.3, 440), "A");
  form->Playlist().SetCurrentRow(0);
  form->miPlay->trigger();
  form->close();
  EXPECT_TRUE(AllIdle());
  const QByteArray saved = sandbox.ReadFile("player dir/lirvo.xpl");
  EXPECT_TRUE(saved.contains("a.wav")) << saved.toStdString();
}

// Closing while a folder is being read: no row arrives after the playlist
// was written, and a new add afterwards runs to its end.
TEST_F(MainFormPlayTest, ClosingWhileAddingStopsTheAddBeforeSaving) {
  Open("window-close-adding");
  form->Player().AddPaths({QString::fromStdString(FixturePath("audio"))});
  form->Player().AddPaths({QString::fromStdString(FixturePath("audio"))});
  form->close();
  EXPECT_FALSE(form->Player().Adding());
  const int rows = form->Playlist().RowCount();
  PumpFor(300ms);
  EXPECT_EQ(form->Playlist().RowCount(), rows) << "rows arrived after the close";

  QSignalSpy finished(&form->Player(), &TMainFormPlayer::addingFinished);
  form->Player().AddPaths({QString::fromStdString(FixturePath("audio/alaw.wav"))});
  ASSERT_TRUE(PumpUntil([&] { return finished.count() == 1; }));
  EXPECT_EQ(form->Playlist().RowCount(), rows + 1);
}

// The engine and the device the settings file chose are the ones that play.
TEST_F(MainFormPlayTest, EngineAndDeviceFromTheSettingsAreTheOnesThatPlay) {
  REQUIRE_TOOL("sox");
  sandbox.WriteSettings("[System]\nAudioEngine=0\nDSoundDevice=1\n");
  Open("window-settings-device");
  ASSERT_EQ(form->DSoundDeviceList().size(), 2);
  EXPECT_EQ(form->DSound().DeviceNumber(), 1);
  AddRow(Tone("a.wav", 0.2, 440), "A");
  form->Playlist().SetCurrentRow(0);
  QTest::mouseClick(form->btnPlay, Qt::LeftButton);
  ASSERT_TRUE(WaitForStatus(kNothingToPlay));
  EXPECT_GE(ReadFileBytes(SecondCapturePath).size(), 17640u * 2u);
  EXPECT_TRUE(ReadFileBytes(CapturePath).empty());
  form.reset();

  // The direct engine: the chain runs on the ASIO output (whose test driver
  // cannot open, so the run fails and says so in red).
  sandbox.WriteSettings("[System]\nAudioEngine=1\n");
  Open("window-settings-engine");
  EXPECT_EQ(form->AudioEngine(), aeASIO);
  EXPECT_EQ(Ctl().FAudioEngine, aeASIO);
  AddRow(Tone("a.wav", 0.2, 440), "A");
  form->Playlist().SetCurrentRow(0);
  QTest::mouseClick(form->btnPlay, Qt::LeftButton);
  ASSERT_TRUE(PumpUntil([&] { return form->StatusIsError(); }));
  EXPECT_EQ(form->AudioOut(), static_cast<TAuOutput*>(&form->ASIO()));
  EXPECT_TRUE(ReadFileBytes(CapturePath).empty());
}

// A device that fails during a track stops the list there with the
// device's error in red.
TEST_F(MainFormPlayTest, AFailingDeviceStopsTheListWithItsErrorInRed) {
  REQUIRE_TOOL("sox");
  Open("window-device-error");
  AddRow(Tone("a.wav", 0.1, 440), "A");
  AddRow(Tone("b.wav", 0.1, 550), "B");
  form->Playlist().SetCurrentRow(0);
  form->DSound().SetDeviceNumber(7);
  QTest::mouseClick(form->btnPlay, Qt::LeftButton);
  ASSERT_TRUE(PumpUntil([&] { return form->StatusIsError(); }));
  PumpFor(200ms);
  EXPECT_TRUE(StatusIs(QStringLiteral("Invalid device number"), true)) << Status().toStdString();
  EXPECT_EQ(Started.size(), 1u);
  EXPECT_EQ(form->Playlist().CurrentRow(), 0);
}

}  // namespace

// "重启系统" while a track plays: playback has stopped and both files are
// written by the time the system is asked to reboot.
TEST_F(MainFormPlayTest, RebootWhilePlayingStopsThenSavesThenAsksTheSystem) {
  REQUIRE_TOOL("sox");
  LIRVO_REQUIRE_PULSE();
  Open("window-reboot", /*Paced=*/true);
  AddRow(Tone("long.wav", 5, 440), "Long");
  form->Playlist().SetCurrentRow(0);
  form->miPlay->trigger();
  PumpFor(300ms);
  ASSERT_EQ(form->DSound().Status(), tosPlaying);

  QFile::remove(QString::fromStdString(sandbox.SettingsFile()));
  QFile::remove(QString::fromStdString(sandbox.PlaylistFile()));
  bool idleAtCall = false, savedAtCall = false;
  sandbox.Runner->OnCall = [&](const lirvo::test::TRecordingRunner::TCall&) {
    idleAtCall = AllIdle();
    savedAtCall = QFile::exists(QString::fromStdString(sandbox.SettingsFile())) &&
                  QFile::exists(QString::fromStdString(sandbox.PlaylistFile()));
  };
  form->miReboot->trigger();
  sandbox.Runner->OnCall = nullptr;
  ASSERT_EQ(sandbox.Runner->Calls.size(), 1u);
  EXPECT_EQ(sandbox.Runner->Calls[0].Program, "busctl");
  EXPECT_TRUE(idleAtCall) << "the system was asked while the track still played";
  EXPECT_TRUE(savedAtCall);
  EXPECT_TRUE(sandbox.ReadFile("player dir/lirvo.xpl").contains("long.wav"));
}
