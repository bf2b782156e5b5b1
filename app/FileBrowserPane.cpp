#include "FileBrowserPane.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QItemSelection>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListView>
#include <QMimeData>
#include <QMouseEvent>
#include <QPushButton>
#include <QSplitter>
#include <QStandardItemModel>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>

#include "DriveRoots.h"

namespace {

constexpr int kSplitterHandle = 6;
constexpr int kFolderListHeight = 97;
constexpr int kFilterRowHeight = 24;
constexpr int kFilterButtonWidth = 48;
constexpr int kFilterButtonHeight = 20;
constexpr int kFileItemHeight = 14;
constexpr int kFolderIndent = 8;  // pixels per level of the folder list
// Large enough that the other side of the splitter takes all remaining space
// until the first real resize distributes it.
constexpr int kRestOfSplitter = 100000;

constexpr int kPathRole = Qt::UserRole + 1;   // full path of an entry
constexpr int kLevelRole = Qt::UserRole + 2;  // depth of a folder below its drive

template <typename T>
T* Named(T* widget, const char* name) {
  widget->setObjectName(QString::fromLatin1(name));
  return widget;
}

bool IsUnder(const QString& path, const QString& folder) {
  if (folder == QStringLiteral("/")) return path.startsWith(u'/');
  return path == folder || path.startsWith(folder + u'/');
}

QString CleanAbsolute(const QString& path) {
  return QDir::cleanPath(QDir(path).absolutePath());
}

QString ParentOf(const QString& path) {
  return QDir::cleanPath(path + QStringLiteral("/.."));
}

// Entries of both lists carry their full path; dragging them hands the grid
// file URLs in list order. Only copies are offered: a move accepted by the
// target would make the view delete the dragged rows.
class TPathListModel : public QStandardItemModel {
 public:
  using QStandardItemModel::QStandardItemModel;

  QStringList mimeTypes() const override { return {QStringLiteral("text/uri-list")}; }

  QMimeData* mimeData(const QModelIndexList& indexes) const override {
    QModelIndexList sorted = indexes;
    std::sort(sorted.begin(), sorted.end(),
              [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
    QList<QUrl> urls;
    int lastRow = -1;
    for (const QModelIndex& index : sorted) {
      if (index.row() == lastRow) continue;
      lastRow = index.row();
      urls.append(QUrl::fromLocalFile(index.data(kPathRole).toString()));
    }
    if (urls.isEmpty()) return nullptr;
    auto* data = new QMimeData;
    data->setUrls(urls);
    return data;
  }

  Qt::DropActions supportedDragActions() const override { return Qt::CopyAction; }
  Qt::DropActions supportedDropActions() const override { return Qt::IgnoreAction; }
};

// Rows of a fixed height (the file list's 14 pixels) and folders indented by
// their depth, as a folder tree shows them.
class TPathItemDelegate : public QStyledItemDelegate {
 public:
  TPathItemDelegate(int rowHeight, QObject* parent)
      : QStyledItemDelegate(parent), FRowHeight(rowHeight) {}

  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override {
    QStyleOptionViewItem indented = option;
    indented.rect.setLeft(option.rect.left() + Indent(index));
    QStyledItemDelegate::paint(painter, indented, index);
  }

  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    size.rwidth() += Indent(index);
    if (FRowHeight > 0) size.setHeight(FRowHeight);
    return size;
  }

 private:
  static int Indent(const QModelIndex& index) {
    return index.data(kLevelRole).toInt() * kFolderIndent;
  }

  int FRowHeight;  // 0: the style's height
};

void SetUpListView(QListView* view, QAbstractItemModel* model, int rowHeight) {
  view->setModel(model);
  view->setItemDelegate(new TPathItemDelegate(rowHeight, view));
  view->setEditTriggers(QAbstractItemView::NoEditTriggers);
  view->setDragEnabled(true);
  view->setDragDropMode(QAbstractItemView::DragOnly);
  view->setDefaultDropAction(Qt::CopyAction);
  view->setUniformItemSizes(true);
  view->setMinimumHeight(1);
}

}  // namespace

TFileBrowserPane::TFileBrowserPane(QWidget* parent)
    : TFileBrowserPane(SystemDriveRoots(), parent) {}

TFileBrowserPane::TFileBrowserPane(const QStringList& driveRoots, QWidget* parent)
    : QWidget(parent) {
  setObjectName(QStringLiteral("pnlLeft"));
  BuildControls();
  SetDriveRoots(driveRoots);
  SetCurrentFolder(QString());
  edtFilter->setText(FMask.Text());
  edtFilter->setCursorPosition(0);  // show the start of the mask, not its end
}

void TFileBrowserPane::BuildControls() {
  FFolderModel = new TPathListModel(this);
  FFileModel = new TPathListModel(this);

  dirvelist = Named(new QComboBox(this), "dirvelist");
  dirvelist->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);

  splFileView = Named(new QSplitter(Qt::Vertical, this), "splFileView");
  splFileView->setHandleWidth(kSplitterHandle);
  splFileView->setChildrenCollapsible(false);  // a side shrinks to 1 pixel, never vanishes
  splFileView->setOpaqueResize(true);

  dirlist = Named(new QListView, "dirlist");
  SetUpListView(dirlist, FFolderModel, 0);
  dirlist->setSelectionMode(QAbstractItemView::SingleSelection);
  splFileView->addWidget(dirlist);
  splFileView->setStretchFactor(0, 0);

  auto* lower = new QWidget;
  lower->setMinimumHeight(1);
  pFileFilter = Named(new QWidget(lower), "pFileFilter");
  pFileFilter->setFixedHeight(kFilterRowHeight);
  // The row places its two children itself (pFileFilterResize).
  edtFilter = Named(new QLineEdit(pFileFilter), "edtFilter");
  btnApplyFilter = Named(new QPushButton(QStringLiteral("查找"), pFileFilter), "btnApplyFilter");
  btnApplyFilter->setFixedSize(kFilterButtonWidth, kFilterButtonHeight);
  pFileFilter->installEventFilter(this);

  filelist = Named(new QListView(lower), "filelist");
  SetUpListView(filelist, FFileModel, kFileItemHeight);
  filelist->setSelectionMode(QAbstractItemView::ExtendedSelection);
  filelist->installEventFilter(this);
  filelist->viewport()->installEventFilter(this);

  auto* lowerColumn = new QVBoxLayout(lower);
  lowerColumn->setContentsMargins(0, 0, 0, 0);
  lowerColumn->setSpacing(0);
  lowerColumn->addWidget(pFileFilter);
  lowerColumn->addWidget(filelist, 1);
  splFileView->addWidget(lower);
  splFileView->setStretchFactor(1, 1);
  splFileView->setSizes({kFolderListHeight, kRestOfSplitter});

  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(2);
  column->addWidget(dirvelist);
  column->addWidget(splFileView, 1);

  connect(btnApplyFilter, &QPushButton::clicked, this, &TFileBrowserPane::btnApplyFilterClick);
  // Inside the main window Enter is the "播放" shortcut, whose handler applies
  // the filter when this box has the focus; on its own the box does it.
  connect(edtFilter, &QLineEdit::returnPressed, this, &TFileBrowserPane::btnApplyFilterClick);
  connect(filelist, &QAbstractItemView::doubleClicked, this, &TFileBrowserPane::filelistDblClick);
  connect(dirlist, &QAbstractItemView::doubleClicked, this, &TFileBrowserPane::dirlistDblClick);
  connect(dirvelist, &QComboBox::activated, this, &TFileBrowserPane::dirvelistChange);
  pFileFilterResize();
}

void TFileBrowserPane::SetDriveRoots(const QStringList& roots) {
  FDriveRoots.clear();
  for (const QString& root : roots) {
    const QString clean = CleanAbsolute(root);
    if (!FDriveRoots.contains(clean)) FDriveRoots.append(clean);
  }
  FillDriveBox();
  if (!FCurrentFolder.isEmpty()) {
    // The folder list starts at the drive, which may have changed.
    FillFolderList();
    SelectDriveOfFolder();
  }
}

void TFileBrowserPane::FillDriveBox() {
  dirvelist->clear();
  for (const QString& root : FDriveRoots)
    dirvelist->addItem(root, root);
}

QString TFileBrowserPane::DriveOfFolder() const {
  QString best;
  for (const QString& root : FDriveRoots) {
    if (IsUnder(FCurrentFolder, root) && root.size() > best.size()) best = root;
  }
  return best.isEmpty() ? QStringLiteral("/") : best;
}

void TFileBrowserPane::SelectDriveOfFolder() {
  dirvelist->setCurrentIndex(dirvelist->findData(DriveOfFolder()));
}

void TFileBrowserPane::SetCurrentFolder(const QString& folder) {
  QString path = CleanAbsolute(folder.isEmpty() ? FDriveRoots.value(0, QDir::homePath()) : folder);
  while (!QFileInfo(path).isDir()) {
    const QString parent = ParentOf(path);
    if (parent == path) break;
    path = parent;
  }
  const bool changed = path != FCurrentFolder;
  FCurrentFolder = path;
  FillFolderList();
  FillFileList();
  SelectDriveOfFolder();
  if (changed) emit currentFolderChanged(FCurrentFolder);
}

void TFileBrowserPane::FillFolderList() {
  FFolderModel->clear();
  // The folders from the drive down to the current one, open...
  QStringList chain;
  const QString drive = DriveOfFolder();
  for (QString path = FCurrentFolder;; path = ParentOf(path)) {
    chain.prepend(path);
    if (path == drive || ParentOf(path) == path) break;
  }
  const QIcon openIcon = style()->standardIcon(QStyle::SP_DirOpenIcon);
  const QIcon closedIcon = style()->standardIcon(QStyle::SP_DirClosedIcon);
  auto addFolder = [&](const QString& path, const QString& text, int level, const QIcon& icon) {
    auto* item = new QStandardItem(icon, text);
    item->setData(path, kPathRole);
    item->setData(level, kLevelRole);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled);
    FFolderModel->appendRow(item);
  };
  for (int level = 0; level < chain.size(); ++level) {
    const QString& path = chain[level];
    addFolder(path, level == 0 ? path : QFileInfo(path).fileName(), level, openIcon);
  }
  // ...then its subfolders.
  const QDir current(FCurrentFolder);
  const QStringList subfolders =
      current.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name | QDir::IgnoreCase);
  for (const QString& name : subfolders) {
    addFolder(current.filePath(name), name, static_cast<int>(chain.size()), closedIcon);
  }
  dirlist->setCurrentIndex(FFolderModel->index(static_cast<int>(chain.size()) - 1, 0));
}

void TFileBrowserPane::FillFileList() {
  FFileModel->clear();
  const QDir current(FCurrentFolder);
  const QStringList names = current.entryList(QDir::Files, QDir::Name | QDir::IgnoreCase);
  for (const QString& name : names) {
    if (!FMask.Matches(name)) continue;
    auto* item = new QStandardItem(name);
    item->setData(current.filePath(name), kPathRole);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled);
    FFileModel->appendRow(item);
  }
}

void TFileBrowserPane::SetMask(const QString& mask) {
  FMask = TFileMask(mask);
  FillFileList();
}

int TFileBrowserPane::FileViewPos() const {
  return splFileView->sizes().value(0);
}

void TFileBrowserPane::SetFileViewPos(int height) {
  if (height <= 0) return;
  splFileView->setSizes({height, kRestOfSplitter});
}

QList<int> TFileBrowserPane::SplitterSizes() const {
  return splFileView->sizes();
}

void TFileBrowserPane::SetSplitterSizes(const QList<int>& sizes) {
  splFileView->setSizes(sizes);
}

QString TFileBrowserPane::FilePath(int row) const {
  return FFileModel->index(row, 0).data(kPathRole).toString();
}

QStringList TFileBrowserPane::FileNames() const {
  QStringList names;
  for (int row = 0; row < FFileModel->rowCount(); ++row)
    names.append(FFileModel->index(row, 0).data().toString());
  return names;
}

QStringList TFileBrowserPane::SelectedFiles() const {
  QModelIndexList rows = filelist->selectionModel()->selectedRows();
  std::sort(rows.begin(), rows.end(),
            [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
  QStringList paths;
  for (const QModelIndex& index : rows)
    paths.append(index.data(kPathRole).toString());
  return paths;
}

QString TFileBrowserPane::SelectedFolder() const {
  const QModelIndexList rows = dirlist->selectionModel()->selectedRows();
  return rows.isEmpty() ? QString() : rows.first().data(kPathRole).toString();
}

void TFileBrowserPane::btnApplyFilterClick() {
  const QString text = edtFilter->text();
  SetMask(text.trimmed().isEmpty() ? QString::fromLatin1(kDefaultFileListMask) : text);
}

void TFileBrowserPane::pFileFilterResize() {
  const int width = pFileFilter->width();
  btnApplyFilter->move(width - kFilterButtonWidth - 2,
                       (kFilterRowHeight - kFilterButtonHeight) / 2);
  const int editHeight = std::min(edtFilter->sizeHint().height(), kFilterRowHeight);
  edtFilter->setGeometry(0, (kFilterRowHeight - editHeight) / 2,
                         std::max(0, width - kFilterButtonWidth - 6), editHeight);
}

void TFileBrowserPane::filelistDblClick() {
  const QModelIndex current = filelist->currentIndex();
  if (!current.isValid()) return;
  emit filesChosen({FilePath(current.row())});
}

bool TFileBrowserPane::filelistKeyDown(const QKeyEvent* event) {
  const Qt::KeyboardModifiers mods =
      event->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier);
  if (event->key() == Qt::Key_A && mods == Qt::ControlModifier) {
    filelist->selectAll();
    return true;
  }
  return false;
}

void TFileBrowserPane::filelistMouseDown(const QPoint& pos) {
  const QModelIndex hit = filelist->indexAt(pos);
  if (!hit.isValid()) {
    filelist->selectAll();
    return;
  }
  // Every entry of the same type joins the selection. A name without an
  // extension stands for the other names without one (comparing by an empty
  // ending would select everything).
  const QString name = hit.data().toString();
  const qsizetype dot = name.lastIndexOf(u'.');
  const QString extension = dot < 0 ? QString() : name.mid(dot);
  QItemSelection sameType;
  for (int row = 0; row < FFileModel->rowCount(); ++row) {
    const QModelIndex index = FFileModel->index(row, 0);
    const QString other = index.data().toString();
    const bool same = extension.isEmpty() ? !other.contains(u'.')
                                          : other.endsWith(extension, Qt::CaseInsensitive);
    if (same) sameType.select(index, index);
  }
  filelist->selectionModel()->select(sameType, QItemSelectionModel::Select);
}

bool TFileBrowserPane::eventFilter(QObject* watched, QEvent* event) {
  if (watched == pFileFilter && event->type() == QEvent::Resize) {
    pFileFilterResize();
  } else if (watched == filelist && event->type() == QEvent::KeyPress) {
    if (filelistKeyDown(static_cast<QKeyEvent*>(event))) return true;
  } else if (watched == filelist->viewport()) {
    const QEvent::Type type = event->type();
    if (type == QEvent::MouseButtonPress || type == QEvent::MouseButtonDblClick ||
        type == QEvent::MouseButtonRelease) {
      const auto* mouse = static_cast<QMouseEvent*>(event);
      if (mouse->button() == Qt::RightButton) {
        // The right button only extends the selection: the view must not
        // also make the entry current or select it alone.
        if (type != QEvent::MouseButtonRelease) filelistMouseDown(mouse->position().toPoint());
        return true;
      }
    }
  }
  return QWidget::eventFilter(watched, event);
}

void TFileBrowserPane::dirvelistChange(int index) {
  if (index < 0) return;
  SetCurrentFolder(dirvelist->itemData(index).toString());
}

void TFileBrowserPane::dirlistDblClick(const QModelIndex& index) {
  if (!index.isValid()) return;
  SetCurrentFolder(index.data(kPathRole).toString());
}
