// The file browser pane on a folder tree of its own: masks and the filter
// row, the selection rules of the file list (Ctrl+A, right button), picking
// files by double-click, entering folders, the URLs handed to a drag, the
// drive box and the sizes kept in the settings.

#include <gtest/gtest.h>

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QListView>
#include <QMimeData>
#include <QPushButton>
#include <QSignalSpy>
#include <QSplitter>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>
#include <memory>

#include "DriveRoots.h"
#include "FileBrowserPane.h"
#include "FileMask.h"

// Readable failure messages.
static void PrintTo(const QString& text, std::ostream* os) {
  *os << '"' << text.toStdString() << '"';
}

namespace {

const QString kDefaultMask = QStringLiteral("*.wav;*.cue;*.flac;*.ape;*.mp3;*.wma");

void Touch(const QString& path) {
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
}

class FileBrowserTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(tmp.isValid());
    root = QDir::cleanPath(tmp.path());
    music = root + QStringLiteral("/music");
    QDir dir(root);
    for (const char* folder : {"music/Sub1", "music/sub2", "music/.hidden", "other"})
      ASSERT_TRUE(dir.mkpath(QString::fromLatin1(folder)));
    for (const char* name : {"a.flac", "B.FLAC", "c.wav", "d.Mp3", "e.cue", "f.cue", "g.txt",
                             "h.ape", "i.wma", "notes", ".hidden.flac"})
      Touch(music + u'/' + QString::fromLatin1(name));
    Touch(music + QStringLiteral("/Sub1/x.flac"));
    pane = std::make_unique<TFileBrowserPane>(QStringList{root, QStringLiteral("/")});
    pane->SetCurrentFolder(music);
  }

  void Show() {
    pane->resize(185, 500);
    pane->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(pane.get()));
  }

  QPoint FileEntry(const QString& name) {
    const int row = static_cast<int>(pane->FileNames().indexOf(name));
    EXPECT_GE(row, 0) << name.toStdString();
    return pane->filelist->visualRect(pane->filelist->model()->index(row, 0)).center();
  }

  QPoint FolderEntry(const QString& text) {
    QAbstractItemModel* model = pane->dirlist->model();
    for (int row = 0; row < model->rowCount(); ++row) {
      const QModelIndex index = model->index(row, 0);
      if (index.data().toString() == text) return pane->dirlist->visualRect(index).center();
    }
    ADD_FAILURE() << "no folder entry " << text.toStdString();
    return {};
  }

  QStringList FolderEntries() {
    QStringList texts;
    QAbstractItemModel* model = pane->dirlist->model();
    for (int row = 0; row < model->rowCount(); ++row)
      texts.append(model->index(row, 0).data().toString());
    return texts;
  }

  // A double-click as the system delivers it: press and release, then the
  // second press as a double-click event.
  static void DoubleClick(QWidget* viewport, const QPoint& pos) {
    QTest::mouseClick(viewport, Qt::LeftButton, {}, pos);
    QTest::mouseDClick(viewport, Qt::LeftButton, {}, pos);
  }

  void RightClick(const QPoint& pos) {
    QTest::mouseClick(pane->filelist->viewport(), Qt::RightButton, {}, pos);
  }

  QStringList Paths(std::initializer_list<const char*> names) {
    QStringList paths;
    for (const char* name : names)
      paths.append(music + u'/' + QString::fromLatin1(name));
    return paths;
  }

  QTemporaryDir tmp;
  QString root;
  QString music;
  std::unique_ptr<TFileBrowserPane> pane;
};

struct MaskCase {
  const char* mask;
  const char* name;
  bool matches;
};

TEST(FileMaskTest, PatternsMatchWholeNamesWithoutRegardToCase) {
  const MaskCase cases[] = {
      {"*.flac", "Track.FLAC", true},
      {"*.flac", "track.flac.bak", false},  // the whole name must match
      {"*.wav;*.cue", "x.cue", true},
      {" *.txt ; *.wav ", "x.txt", true},  // blanks around patterns do not count
      {"?.cue", "e.cue", true},
      {"?.cue", "ee.cue", false},
      {"*.*", "notes", true},          // every file, also without extension
      {"[a].flac", "[a].flac", true},  // brackets are plain characters
      {"[a].flac", "a.flac", false},
      {"a+b(1)*.wav", "a+b(1) live.wav", true},
      {"", "x.flac", false},  // no pattern matches nothing
      {";;", "x.flac", false},
  };
  for (const MaskCase& c : cases) {
    EXPECT_EQ(TFileMask(QString::fromLatin1(c.mask)).Matches(QString::fromLatin1(c.name)),
              c.matches)
        << c.mask << " / " << c.name;
  }
  EXPECT_EQ(TFileMask().Text(), kDefaultMask);
}

TEST_F(FileBrowserTest, DefaultMaskShowsOnlyVisibleMusicFilesWhateverTheirCase) {
  EXPECT_EQ(pane->Mask(), kDefaultMask);
  EXPECT_EQ(pane->edtFilter->text(), kDefaultMask);
  EXPECT_EQ(pane->FileNames(), (QStringList{"a.flac", "B.FLAC", "c.wav", "d.Mp3", "e.cue", "f.cue",
                                            "h.ape", "i.wma"}));
}

TEST_F(FileBrowserTest, FilterButtonAndEnterApplyTheBoxAndAnEmptyBoxRestoresTheDefault) {
  pane->edtFilter->setText(QStringLiteral("*.flac"));
  pane->btnApplyFilter->click();
  EXPECT_EQ(pane->Mask(), QStringLiteral("*.flac"));
  EXPECT_EQ(pane->FileNames(), (QStringList{"a.flac", "B.FLAC"}));

  pane->edtFilter->setText(QStringLiteral("*.TXT; *.wav"));
  QTest::keyClick(pane->edtFilter, Qt::Key_Return);
  EXPECT_EQ(pane->FileNames(), (QStringList{"c.wav", "g.txt"}));

  for (const char* empty : {"", "   "}) {
    pane->edtFilter->setText(QString::fromLatin1(empty));
    pane->btnApplyFilter->click();
    EXPECT_EQ(pane->Mask(), kDefaultMask) << '"' << empty << '"';
    EXPECT_EQ(pane->FileNames().size(), 8);
  }
}

TEST_F(FileBrowserTest, CtrlASelectsEveryEntry) {
  Show();
  QTest::keyClick(pane->filelist, Qt::Key_A, Qt::ControlModifier);
  EXPECT_EQ(pane->SelectedFiles().size(), pane->FileNames().size());
}

TEST_F(FileBrowserTest, RightClickOnAnEntryAddsEveryEntryOfItsTypeToTheSelection) {
  Show();
  QTest::mouseClick(pane->filelist->viewport(), Qt::LeftButton, {}, FileEntry("c.wav"));
  RightClick(FileEntry("e.cue"));
  EXPECT_EQ(pane->SelectedFiles(), Paths({"c.wav", "e.cue", "f.cue"}));
  // The right button does not move the current entry.
  EXPECT_EQ(pane->filelist->currentIndex().data().toString(), QStringLiteral("c.wav"));

  RightClick(FileEntry("a.flac"));  // ".flac" also finds ".FLAC"
  EXPECT_EQ(pane->SelectedFiles(), Paths({"a.flac", "B.FLAC", "c.wav", "e.cue", "f.cue"}));
}

TEST_F(FileBrowserTest, RightClickBelowTheLastEntrySelectsEveryEntry) {
  Show();
  const QPoint last = FileEntry("i.wma");
  ASSERT_LT(last.y() + 40, pane->filelist->viewport()->height());
  RightClick(last + QPoint(0, 40));
  EXPECT_EQ(pane->SelectedFiles().size(), 8);
}

TEST_F(FileBrowserTest, RightClickOnANameWithoutExtensionDoesNotSelectEverything) {
  Show();
  pane->SetMask(QStringLiteral("*"));
  RightClick(FileEntry("notes"));
  EXPECT_EQ(pane->SelectedFiles(), Paths({"notes"}));
}

TEST_F(FileBrowserTest, DoubleClickOnAFileEmitsItsFullPath) {
  Show();
  QSignalSpy chosen(pane.get(), &TFileBrowserPane::filesChosen);
  DoubleClick(pane->filelist->viewport(), FileEntry("d.Mp3"));
  ASSERT_EQ(chosen.size(), 1);
  EXPECT_EQ(chosen.at(0).at(0).toStringList(), Paths({"d.Mp3"}));
  EXPECT_EQ(pane->CurrentFolder(), music);
}

TEST_F(FileBrowserTest, DoubleClickOnAFolderEntersItAndListsItsFiles) {
  Show();
  // From the drive down to the current folder, then its visible subfolders.
  EXPECT_EQ(FolderEntries(), (QStringList{root, "music", "Sub1", "sub2"}));
  EXPECT_EQ(pane->SelectedFolder(), music);

  QSignalSpy changed(pane.get(), &TFileBrowserPane::currentFolderChanged);
  DoubleClick(pane->dirlist->viewport(), FolderEntry("Sub1"));
  EXPECT_EQ(pane->CurrentFolder(), music + QStringLiteral("/Sub1"));
  EXPECT_EQ(changed.size(), 1);
  EXPECT_EQ(pane->FileNames(), QStringList{"x.flac"});
  EXPECT_EQ(FolderEntries(), (QStringList{root, "music", "Sub1"}));

  // Back up through the chain.
  DoubleClick(pane->dirlist->viewport(), FolderEntry(root));
  EXPECT_EQ(pane->CurrentFolder(), root);
  EXPECT_EQ(FolderEntries(), (QStringList{root, "music", "other"}));
}

TEST_F(FileBrowserTest, DragDataHoldsTheSelectedFilesInListOrderOrTheSelectedFolder) {
  Show();
  EXPECT_TRUE(pane->filelist->dragEnabled());
  EXPECT_TRUE(pane->dirlist->dragEnabled());
  // Picked in reverse order; the playlist adds them in list order.
  QTest::mouseClick(pane->filelist->viewport(), Qt::LeftButton, {}, FileEntry("h.ape"));
  QTest::mouseClick(pane->filelist->viewport(), Qt::LeftButton, Qt::ControlModifier,
                    FileEntry("a.flac"));
  QAbstractItemModel* files = pane->filelist->model();
  EXPECT_EQ(files->supportedDragActions(), Qt::CopyAction);  // a move would delete the rows
  std::unique_ptr<QMimeData> data(
      files->mimeData(pane->filelist->selectionModel()->selectedIndexes()));
  ASSERT_TRUE(data);
  EXPECT_TRUE(data->hasFormat(QStringLiteral("text/uri-list")));
  EXPECT_EQ(data->urls(), (QList<QUrl>{QUrl::fromLocalFile(music + QStringLiteral("/a.flac")),
                                       QUrl::fromLocalFile(music + QStringLiteral("/h.ape"))}));

  QTest::mouseClick(pane->dirlist->viewport(), Qt::LeftButton, {}, FolderEntry("sub2"));
  EXPECT_EQ(pane->CurrentFolder(), music);  // a single click only selects
  QAbstractItemModel* folders = pane->dirlist->model();
  data.reset(folders->mimeData(pane->dirlist->selectionModel()->selectedIndexes()));
  ASSERT_TRUE(data);
  EXPECT_EQ(data->urls(), QList<QUrl>{QUrl::fromLocalFile(music + QStringLiteral("/sub2"))});
}

TEST_F(FileBrowserTest, DriveBoxListsTheGivenRootsAndFollowsTheCurrentFolder) {
  pane->SetDriveRoots({music, root, root + QStringLiteral("/other")});
  ASSERT_EQ(pane->dirvelist->count(), 3);
  EXPECT_EQ(pane->dirvelist->itemText(1), root);
  // The innermost drive holding the folder is shown, and the folder list
  // starts there.
  pane->SetCurrentFolder(music + QStringLiteral("/Sub1"));
  EXPECT_EQ(pane->dirvelist->currentText(), music);
  EXPECT_EQ(FolderEntries().first(), music);

  emit pane->dirvelist->activated(2);
  EXPECT_EQ(pane->CurrentFolder(), root + QStringLiteral("/other"));
  EXPECT_EQ(pane->dirvelist->currentIndex(), 2);
  EXPECT_TRUE(pane->FileNames().isEmpty());
}

TEST_F(FileBrowserTest, AVanishedFolderFallsBackToItsNearestExistingAncestor) {
  pane->SetCurrentFolder(music + QStringLiteral("/gone/deeper"));
  EXPECT_EQ(pane->CurrentFolder(), music);
  EXPECT_EQ(pane->FileNames().size(), 8);
}

TEST_F(FileBrowserTest, LayoutSizesAndTheFolderListHeightForTheSettings) {
  Show();
  EXPECT_EQ(pane->objectName(), QStringLiteral("pnlLeft"));
  EXPECT_EQ(pane->dirlist->height(), 97);
  EXPECT_EQ(pane->FileViewPos(), 97);
  EXPECT_EQ(pane->splFileView->handleWidth(), 6);
  EXPECT_EQ(pane->pFileFilter->height(), 24);
  EXPECT_EQ(pane->btnApplyFilter->text(), QStringLiteral("查找"));
  EXPECT_EQ(pane->btnApplyFilter->size(), QSize(48, 20));
  EXPECT_EQ(pane->btnApplyFilter->geometry().left(), pane->pFileFilter->width() - 48 - 2);
  EXPECT_EQ(pane->edtFilter->width(), pane->pFileFilter->width() - 48 - 6);
  EXPECT_EQ(pane->filelist->visualRect(pane->filelist->model()->index(0, 0)).height(), 14);
  EXPECT_EQ(pane->filelist->selectionMode(), QAbstractItemView::ExtendedSelection);

  pane->SetFileViewPos(150);
  QCoreApplication::processEvents();
  EXPECT_EQ(pane->dirlist->height(), 150);
  pane->SetFileViewPos(0);  // not a stored value: ignored
  EXPECT_EQ(pane->FileViewPos(), 150);

  pane->SetSplitterSizes({0, 10000});
  QCoreApplication::processEvents();
  EXPECT_EQ(pane->dirlist->height(), 1);  // shrinks to a pixel, never vanishes

  // A row narrower than the button plus 6 pixels leaves no edit box.
  pane->setMinimumWidth(1);  // as the window's splitter lets it shrink
  pane->resize(40, 500);
  QCoreApplication::processEvents();
  EXPECT_EQ(pane->edtFilter->width(), 0);
}

TEST(DriveRootsTest, MountTableKeepsFileSystemsWithUserFilesOnly) {
  const QByteArray table =
      "proc /proc proc rw 0 0\n"
      "sysfs /sys sysfs rw 0 0\n"
      "/dev/sda1 / ext4 rw 0 0\n"
      "tmpfs /tmp tmpfs rw 0 0\n"
      "tmpfs /run/user/1000 tmpfs rw 0 0\n"
      "cgroup2 /sys/fs/cgroup cgroup2 rw 0 0\n"
      "/dev/sdb1 /run/media/u/USB\\040Disk vfat rw 0 0\n"
      "/dev/sda2 /boot/efi vfat rw 0 0\n"
      "server:/music /srv/music nfs4 rw 0 0\n"
      "gvfsd-fuse /run/user/1000/gvfs fuse.gvfsd-fuse rw 0 0\n"
      "/dev/loop0 /snap/core/1 squashfs ro 0 0\n"
      "/dev/sda3 /home ext4 rw 0 0\n"
      "/dev/sda3 /home ext4 rw 0 0\n"  // mounted twice: listed once
      "/dev/sdc1 /mnt/back\\134slash ext4 rw 0 0\n"
      "garbage\n"
      "\n";
  EXPECT_EQ(MountRootsFromTable(table), (QStringList{"/", "/tmp", "/run/media/u/USB Disk",
                                                     "/srv/music", "/home", "/mnt/back\\slash"}));
}

TEST(DriveRootsTest, SystemDrivesStartWithHomeAndAlwaysReachTheRoot) {
  const QStringList roots = SystemDriveRoots();
  ASSERT_FALSE(roots.isEmpty());
  EXPECT_EQ(roots.first(), QDir::homePath());
  EXPECT_TRUE(roots.contains(QStringLiteral("/")));
  EXPECT_FALSE(roots.contains(QStringLiteral("/proc")));
}

}  // namespace
