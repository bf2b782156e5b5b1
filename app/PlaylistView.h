#pragma once
// dbgSongs: the playlist grid. A read-only table view over TPlaylistModel
// with clickable column titles that choose the table's order (ascending
// only), a row indicator at the left, resizable and movable columns and
// whole-row multi-selection that stays visible without focus. The row being
// played is drawn on dark grey unless it is selected.
//
// The view keeps its current row and the table's cursor together: a click
// moves the cursor, and the controller moving the cursor moves the grid.
// UI thread only.

#include <QHeaderView>
#include <QStyledItemDelegate>
#include <QTableView>

class TPlaylistModel;

// Draws the row being played (the model's PlayingRole) on 0x666666 unless
// the cell is selected, which keeps the selection colours.
class TPlayingRowDelegate : public QStyledItemDelegate {
  Q_OBJECT
 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  static constexpr QRgb kPlayingRowColor = 0x666666;

 protected:
  void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override;
};

// The rows' header of the grid: no numbers, a small triangle on the current
// row.
class TRowIndicatorHeader : public QHeaderView {
  Q_OBJECT
 public:
  explicit TRowIndicatorHeader(QWidget* parent = nullptr);
  static constexpr int kWidth = 12;
  int IndicatorRow() const { return FRow; }
  void SetIndicatorRow(int Row);

 protected:
  void paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const override;

 private:
  int FRow = -1;
};

class TPlaylistView : public QTableView {
  Q_OBJECT
 public:
  explicit TPlaylistView(QWidget* parent = nullptr);

  // Shows Model (not owned) and resets the columns.
  void SetPlaylistModel(TPlaylistModel* Model);
  TPlaylistModel* PlaylistModel() const { return FModel; }

 public slots:
  // Adds every row to the selection (menu "全选", Ctrl+A, right mouse button).
  void SelectAllItems();
  // Deletes the selected rows, or the current row when none is selected,
  // and clears the selection (menu "删除", Del).
  void DeleteSelectedItems();
  // Deletes every row (menu "清除", Ctrl+Del).
  void ClearPlaylist();
  // Rebuilds the columns in field order with their default titles and
  // widths; Filename is hidden (miResetColumnsClick, menu "重置栏目").
  void ResetColumns();

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void changeEvent(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private slots:
  void dbgSongsTitleClick(int logicalIndex);
  void ViewCurrentRowChanged(const QModelIndex& current, const QModelIndex& previous);
  void TableCurrentRowChanged(int Row);

 private:
  void FitRowHeight();
  void KeepSelectionColoursWithoutFocus();

  TPlaylistModel* FModel = nullptr;
  TRowIndicatorHeader* FIndicator = nullptr;
};

// Puts a TPlaylistView over Model in place of the plain table view the
// window layout made (same parent, layout slot and object name), deletes
// the old view and points dbgSongs at the new one. Call it before anything
// is connected to the old view.
TPlaylistView* InstallPlaylistView(QTableView*& dbgSongs, TPlaylistModel* Model);
