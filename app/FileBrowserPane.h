#pragma once
// The left pane of the main window: a small file browser from which the user
// picks music. Top to bottom: the drive box, the folder list, a splitter, the
// filter row (mask box and "查找") and the file list of the current folder
// filtered by the mask. Files go to the playlist by double-click (filesChosen)
// or by dragging the selection onto the grid as a list of file URLs; the
// folder list drags its selected folder the same way. The drag source is the
// list widget itself (filelist or dirlist), so the grid can tell the two
// apart through QDropEvent::source().
//
// The pane lists folders on the UI thread: one folder at a time, the folder
// list and the file list, each read once when the folder or the mask changes.
// Every control is a child named as the window names it.

#include <QList>
#include <QString>
#include <QStringList>
#include <QWidget>

#include "FileMask.h"

class QComboBox;
class QKeyEvent;
class QLineEdit;
class QListView;
class QModelIndex;
class QPoint;
class QPushButton;
class QSplitter;
class QStandardItemModel;

class TFileBrowserPane : public QWidget {
  Q_OBJECT
 public:
  // Drives are the running system's (SystemDriveRoots); the pane starts in
  // the home folder.
  explicit TFileBrowserPane(QWidget* parent = nullptr);
  // Drives are the given folders, in this order; the pane starts in the
  // first. Tests use it to browse a tree of their own.
  explicit TFileBrowserPane(const QStringList& driveRoots, QWidget* parent = nullptr);

  // The controls, top to bottom.
  QComboBox* dirvelist = nullptr;
  QListView* dirlist = nullptr;
  QSplitter* splFileView = nullptr;
  QWidget* pFileFilter = nullptr;
  QLineEdit* edtFilter = nullptr;
  QPushButton* btnApplyFilter = nullptr;
  QListView* filelist = nullptr;

  const QStringList& DriveRoots() const { return FDriveRoots; }
  // Replaces the drives; the current folder stays.
  void SetDriveRoots(const QStringList& roots);

  const QString& CurrentFolder() const { return FCurrentFolder; }
  // Shows the folder, or its nearest existing ancestor when it is gone (a
  // folder stored in the settings may have been removed since); an empty
  // path means the first drive.
  void SetCurrentFolder(const QString& folder);

  // The file list's mask (not the text of the filter box).
  const QString& Mask() const { return FMask.Text(); }
  void SetMask(const QString& mask);

  // Height of the folder list in pixels, kept in the settings; a value that
  // is not positive is ignored.
  int FileViewPos() const;
  void SetFileViewPos(int height);
  QList<int> SplitterSizes() const;
  void SetSplitterSizes(const QList<int>& sizes);

  // Names shown in the file list, in list order.
  QStringList FileNames() const;
  // Full paths of the selected files, in list order (the order they are
  // added to the playlist).
  QStringList SelectedFiles() const;
  // Full path of the folder selected in the folder list; empty if none.
  QString SelectedFolder() const;

 signals:
  // Files picked by double-click, as full paths, to be added to the playlist.
  void filesChosen(const QStringList& paths);
  void currentFolderChanged(const QString& folder);

 public slots:
  // "查找", or Enter in the filter box: the box's text becomes the mask; an
  // empty (or blank) box brings back the default mask.
  void btnApplyFilterClick();
  // Keeps the button at the right edge of the filter row and gives the box
  // the rest, down to nothing.
  void pFileFilterResize();
  // Picks the file list's current entry, if there is one.
  void filelistDblClick();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private slots:
  void dirvelistChange(int index);
  void dirlistDblClick(const QModelIndex& index);

 private:
  void BuildControls();
  // Returns whether the key was handled.
  bool filelistKeyDown(const QKeyEvent* event);
  // Right button pressed at pos (viewport coordinates).
  void filelistMouseDown(const QPoint& pos);
  void FillDriveBox();
  void SelectDriveOfFolder();
  // The drive whose folder holds the current folder (the longest such);
  // "/" when none does.
  QString DriveOfFolder() const;
  void FillFolderList();
  void FillFileList();
  QString FilePath(int row) const;

  QStringList FDriveRoots;
  QString FCurrentFolder;
  TFileMask FMask;
  QStandardItemModel* FFolderModel = nullptr;
  QStandardItemModel* FFileModel = nullptr;
};
