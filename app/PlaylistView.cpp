#include "PlaylistView.h"

#include <QKeyEvent>
#include <QLayout>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <vector>

#include "PlaylistModel.h"

namespace {

// Column widths after a reset, by field; 0 keeps the default width.
constexpr int kColumnWidths[lirvo::kPlaylistFieldCount] = {40, 0, 40, 200, 150, 150, 60};

}  // namespace

// --- TPlayingRowDelegate ------------------------------------------------------------

void TPlayingRowDelegate::initStyleOption(QStyleOptionViewItem* option,
                                          const QModelIndex& index) const {
  QStyledItemDelegate::initStyleOption(option, index);
  if (!(option->state & QStyle::State_Selected) &&
      index.data(TPlaylistModel::PlayingRole).toBool()) {
    option->backgroundBrush = QColor(kPlayingRowColor);
  }
}

// --- TRowIndicatorHeader ------------------------------------------------------------

TRowIndicatorHeader::TRowIndicatorHeader(QWidget* parent) : QHeaderView(Qt::Vertical, parent) {
  setSectionResizeMode(QHeaderView::Fixed);
  setSectionsClickable(false);
  setHighlightSections(false);
  setFixedWidth(kWidth);
}

void TRowIndicatorHeader::SetIndicatorRow(int Row) {
  if (Row == FRow) return;
  FRow = Row;
  viewport()->update();
}

void TRowIndicatorHeader::paintSection(QPainter* painter, const QRect& rect,
                                       int logicalIndex) const {
  // The style sheet's section drawing can leave a clip of the padded
  // contents (nothing, at this width) on the painter: keep it to itself.
  painter->save();
  QHeaderView::paintSection(painter, rect, logicalIndex);
  painter->restore();
  if (logicalIndex != FRow) return;
  painter->save();
  painter->setClipRect(rect);
  painter->setRenderHint(QPainter::Antialiasing);
  const int h = qMin(rect.height() / 2, rect.width() - 4);
  const QPointF centre = QRectF(rect).center();
  QPainterPath triangle;
  triangle.moveTo(centre.x() - h / 4.0, centre.y() - h / 2.0);
  triangle.lineTo(centre.x() + h / 4.0 + 1, centre.y());
  triangle.lineTo(centre.x() - h / 4.0, centre.y() + h / 2.0);
  triangle.closeSubpath();
  painter->fillPath(triangle, palette().color(QPalette::WindowText));
  painter->restore();
}

// --- TPlaylistView ------------------------------------------------------------------

TPlaylistView::TPlaylistView(QWidget* parent) : QTableView(parent) {
  setObjectName(QStringLiteral("dbgSongs"));
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setSelectionMode(QAbstractItemView::ExtendedSelection);
  setTabKeyNavigation(false);  // Tab moves to the next control
  setShowGrid(true);
  setWordWrap(false);
  setCornerButtonEnabled(false);
  setSortingEnabled(false);  // titles choose the table's index instead
  setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
  setItemDelegate(new TPlayingRowDelegate(this));

  FIndicator = new TRowIndicatorHeader(this);
  setVerticalHeader(FIndicator);

  QHeaderView* titles = horizontalHeader();
  titles->setSectionsClickable(true);
  titles->setSectionsMovable(true);
  titles->setSectionResizeMode(QHeaderView::Interactive);
  titles->setHighlightSections(false);
  titles->setSortIndicatorShown(false);
  titles->setStretchLastSection(false);
  titles->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  titles->setAttribute(Qt::WA_Hover);  // hot-tracking of the titles
  connect(titles, &QHeaderView::sectionClicked, this, &TPlaylistView::dbgSongsTitleClick);

  // A right click anywhere in the grid, titles and indicator included.
  titles->viewport()->installEventFilter(this);
  FIndicator->viewport()->installEventFilter(this);

  KeepSelectionColoursWithoutFocus();
  FitRowHeight();
}

void TPlaylistView::KeepSelectionColoursWithoutFocus() {
  QPalette p = palette();
  for (QPalette::ColorRole role : {QPalette::Highlight, QPalette::HighlightedText}) {
    p.setBrush(QPalette::Inactive, role, p.brush(QPalette::Active, role));
  }
  setPalette(p);
}

void TPlaylistView::FitRowHeight() {
  // Compact rows as in a list of tracks, following the font in use.
  const int height = fontMetrics().height() + 4;
  FIndicator->setMinimumSectionSize(1);
  FIndicator->setDefaultSectionSize(height);
}

void TPlaylistView::changeEvent(QEvent* event) {
  QTableView::changeEvent(event);
  if (event->type() == QEvent::FontChange) FitRowHeight();
}

void TPlaylistView::SetPlaylistModel(TPlaylistModel* Model) {
  if (FModel) disconnect(FModel, nullptr, this, nullptr);
  FModel = Model;
  setModel(Model);
  if (!Model) return;
  connect(Model, &TPlaylistModel::currentRowChanged, this, &TPlaylistView::TableCurrentRowChanged);
  connect(selectionModel(), &QItemSelectionModel::currentRowChanged, this,
          &TPlaylistView::ViewCurrentRowChanged);
  ResetColumns();
  TableCurrentRowChanged(Model->Table().CurrentRow());
}

void TPlaylistView::ResetColumns() {
  QHeaderView* titles = horizontalHeader();
  // Field order first, then every column shown at the default width.
  for (int logical = 0; logical < titles->count(); ++logical) {
    const int visual = titles->visualIndex(logical);
    if (visual != logical) titles->moveSection(visual, logical);
  }
  for (int logical = 0; logical < titles->count(); ++logical) {
    titles->setSectionHidden(logical, false);
    titles->resizeSection(logical, titles->defaultSectionSize());
    if (logical < lirvo::kPlaylistFieldCount && kColumnWidths[logical] > 0) {
      titles->resizeSection(logical, kColumnWidths[logical]);
    }
  }
  if (titles->count() > lirvo::pfFilename) titles->setSectionHidden(lirvo::pfFilename, true);
}

void TPlaylistView::dbgSongsTitleClick(int logicalIndex) {
  if (!FModel) return;
  const int index = lirvo::PlaylistIndexForField(logicalIndex);
  // The same title again changes nothing; there is no descending order.
  if (index != lirvo::kNoIndex) FModel->Table().SetIndex(index);
}

void TPlaylistView::SelectAllItems() {
  if (!FModel || FModel->rowCount() == 0) return;
  const QItemSelection all(FModel->index(0, 0),
                           FModel->index(FModel->rowCount() - 1, FModel->columnCount() - 1));
  selectionModel()->select(all, QItemSelectionModel::Select | QItemSelectionModel::Rows);
}

void TPlaylistView::DeleteSelectedItems() {
  if (!FModel) return;
  std::vector<int> rows;
  for (const QItemSelectionRange& range : selectionModel()->selection()) {
    for (int row = range.top(); row <= range.bottom(); ++row)
      rows.push_back(row);
  }
  if (rows.empty()) {
    FModel->Table().DeleteCurrent();
    return;
  }
  selectionModel()->clearSelection();
  FModel->Table().DeleteRows(std::move(rows));
}

void TPlaylistView::ClearPlaylist() {
  if (FModel) FModel->Table().Clear();
}

void TPlaylistView::ViewCurrentRowChanged(const QModelIndex& current, const QModelIndex&) {
  FIndicator->SetIndicatorRow(current.isValid() ? current.row() : -1);
  // While the table changes, Qt moves the current index on its own; the
  // table says where its cursor ends up once the change is over.
  if (!FModel || FModel->IsChanging() || !current.isValid()) return;
  if (current.row() != FModel->Table().CurrentRow()) FModel->Table().SetCurrentRow(current.row());
}

void TPlaylistView::TableCurrentRowChanged(int Row) {
  if (!FModel || Row < 0) {
    FIndicator->SetIndicatorRow(-1);
    return;
  }
  const QModelIndex current = currentIndex();
  if (current.isValid() && current.row() == Row) {
    FIndicator->SetIndicatorRow(Row);
    return;
  }
  // Keep the column the user is in; else the leftmost column on screen.
  int column = current.isValid() ? current.column() : columnAt(0);
  if (column < 0) column = horizontalHeader()->logicalIndex(0);
  const QModelIndex target = FModel->index(Row, qMax(column, 0));
  selectionModel()->setCurrentIndex(target, QItemSelectionModel::NoUpdate);
  scrollTo(target, QAbstractItemView::EnsureVisible);
  FIndicator->SetIndicatorRow(Row);
}

void TPlaylistView::keyPressEvent(QKeyEvent* event) {
  const bool ctrl = event->modifiers() & Qt::ControlModifier;
  if (ctrl && event->key() == Qt::Key_A) {
    SelectAllItems();
  } else if (ctrl && event->key() == Qt::Key_Delete) {
    ClearPlaylist();
  } else if (!ctrl && event->key() == Qt::Key_Delete) {
    DeleteSelectedItems();
  } else {
    QTableView::keyPressEvent(event);
    return;
  }
  event->accept();
}

void TPlaylistView::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::RightButton) {
    SelectAllItems();
    event->accept();
    return;
  }
  QTableView::mousePressEvent(event);
}

bool TPlaylistView::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::MouseButtonPress &&
      static_cast<QMouseEvent*>(event)->button() == Qt::RightButton) {
    SelectAllItems();
    return true;
  }
  return QTableView::eventFilter(watched, event);
}

TPlaylistView* InstallPlaylistView(QTableView*& dbgSongs, TPlaylistModel* Model) {
  QWidget* parent = dbgSongs ? dbgSongs->parentWidget() : nullptr;
  auto* view = new TPlaylistView(parent);
  if (dbgSongs) {
    view->setObjectName(dbgSongs->objectName());
    if (parent && parent->layout()) delete parent->layout()->replaceWidget(dbgSongs, view);
    delete dbgSongs;
  }
  view->SetPlaylistModel(Model);
  dbgSongs = view;
  return view;
}
