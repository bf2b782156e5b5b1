#pragma once
// dsPlaylist: shows the playlist table (cdPlaylist) in the grid, read-only.
// The table tells the model about every change before and after it happens,
// and the model brackets each one for the views (row inserts and removals,
// resets, the new order after a title click), so selections and the current
// index follow their rows. UI thread only.

#include <QAbstractTableModel>
#include <QString>
#include <cstdint>

#include "app/logic/playlist/Playlist.h"

class TPlaylistModel : public QAbstractTableModel, private lirvo::IPlaylistObserver {
  Q_OBJECT
 public:
  // True for every cell of the row being played (its ID is CurrentID()).
  static constexpr int PlayingRole = Qt::UserRole + 1;

  // Observes Table until the model goes; Table must outlive the model.
  explicit TPlaylistModel(lirvo::TPlaylistTable& Table, QObject* parent = nullptr);
  ~TPlaylistModel() override;

  lirvo::TPlaylistTable& Table() const { return FTable; }

  // FCurrentID of the window: the ID of the row being played, 0 for none.
  // The rows it leaves and enters are repainted.
  int32_t CurrentID() const { return FCurrentID; }
  void SetCurrentID(int32_t Id);

  // True while the table is in the middle of a structural change; a view
  // must not move the table's cursor then.
  bool IsChanging() const { return FChanging; }

  // The column title of a field: "ID", "Filename", "音轨", "标题", "专辑",
  // "艺术家", "时间".
  static QString ColumnCaption(int Field);

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;

 signals:
  // The table's cursor is on Row now (-1: empty table).
  void currentRowChanged(int Row);

 private:
  void RowsAboutToBeInserted(int First, int Last) override;
  void RowsInserted() override;
  void RowsAboutToBeRemoved(int First, int Last) override;
  void RowsRemoved() override;
  void TableAboutToBeReset() override;
  void TableReset() override;
  void OrderAboutToChange() override;
  void OrderChanged(const std::vector<int>& NewPositions) override;
  void CurrentRowChanged(int Row) override;

  void RepaintRowsWithId(int32_t Id);

  lirvo::TPlaylistTable& FTable;
  int32_t FCurrentID = 0;
  bool FChanging = false;
};
