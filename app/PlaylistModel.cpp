#include "PlaylistModel.h"

#include <QPersistentModelIndex>

using lirvo::kPlaylistFieldCount;
using lirvo::PlaylistRecord;

TPlaylistModel::TPlaylistModel(lirvo::TPlaylistTable& Table, QObject* parent)
    : QAbstractTableModel(parent), FTable(Table) {
  FTable.SetObserver(this);
}

TPlaylistModel::~TPlaylistModel() {
  if (FTable.Observer() == this) FTable.SetObserver(nullptr);
}

QString TPlaylistModel::ColumnCaption(int Field) {
  switch (Field) {
    case lirvo::pfID:
      return QStringLiteral("ID");
    case lirvo::pfFilename:
      return QStringLiteral("Filename");
    case lirvo::pfTrack:
      return QStringLiteral("音轨");
    case lirvo::pfTitle:
      return QStringLiteral("标题");
    case lirvo::pfAlbum:
      return QStringLiteral("专辑");
    case lirvo::pfArtist:
      return QStringLiteral("艺术家");
    case lirvo::pfTime:
      return QStringLiteral("时间");
    default:
      return QString();
  }
}

int TPlaylistModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : FTable.RowCount();
}

int TPlaylistModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : kPlaylistFieldCount;
}

QVariant TPlaylistModel::data(const QModelIndex& index, int role) const {
  if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid)) {
    return QVariant();
  }
  const PlaylistRecord& rec = FTable.Row(index.row());
  switch (role) {
    case Qt::DisplayRole: {
      const std::optional<std::string> text = lirvo::PlaylistFieldText(rec, index.column());
      if (!text) return QVariant();
      return QString::fromUtf8(text->data(), static_cast<qsizetype>(text->size()));
    }
    case Qt::TextAlignmentRole:
      // Numbers line up on the right, as a table of figures does.
      if (index.column() == lirvo::pfID || index.column() == lirvo::pfTrack) {
        return QVariant::fromValue(Qt::Alignment(Qt::AlignRight | Qt::AlignVCenter));
      }
      return QVariant();
    case PlayingRole:
      return FCurrentID != 0 && rec.ID == FCurrentID;
    default:
      return QVariant();
  }
}

QVariant TPlaylistModel::headerData(int section, Qt::Orientation orientation, int role) const {
  // The rows' header is the row indicator: no numbers.
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return QVariant();
  if (section < 0 || section >= kPlaylistFieldCount) return QVariant();
  return ColumnCaption(section);
}

Qt::ItemFlags TPlaylistModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
}

void TPlaylistModel::SetCurrentID(int32_t Id) {
  if (Id == FCurrentID) return;
  const int32_t old = FCurrentID;
  FCurrentID = Id;
  RepaintRowsWithId(old);
  RepaintRowsWithId(Id);
}

void TPlaylistModel::RepaintRowsWithId(int32_t Id) {
  if (Id == 0) return;
  for (int row = 0; row < FTable.RowCount(); ++row) {
    if (FTable.Row(row).ID == Id) {
      emit dataChanged(index(row, 0), index(row, kPlaylistFieldCount - 1), {PlayingRole});
    }
  }
}

void TPlaylistModel::RowsAboutToBeInserted(int First, int Last) {
  FChanging = true;
  beginInsertRows(QModelIndex(), First, Last);
}

void TPlaylistModel::RowsInserted() {
  endInsertRows();
  FChanging = false;
}

void TPlaylistModel::RowsAboutToBeRemoved(int First, int Last) {
  FChanging = true;
  beginRemoveRows(QModelIndex(), First, Last);
}

void TPlaylistModel::RowsRemoved() {
  endRemoveRows();
  FChanging = false;
}

void TPlaylistModel::TableAboutToBeReset() {
  FChanging = true;
  beginResetModel();
}

void TPlaylistModel::TableReset() {
  endResetModel();
  FChanging = false;
}

void TPlaylistModel::OrderAboutToChange() {
  FChanging = true;
  emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
}

void TPlaylistModel::OrderChanged(const std::vector<int>& NewPositions) {
  // Selections and the current index are persistent indexes: move each to
  // its row's new place.
  const QModelIndexList from = persistentIndexList();
  QModelIndexList to;
  to.reserve(from.size());
  for (const QModelIndex& old : from) {
    const size_t row = static_cast<size_t>(old.row());
    to.append(row < NewPositions.size() ? index(NewPositions[row], old.column()) : QModelIndex());
  }
  changePersistentIndexList(from, to);
  emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
  FChanging = false;
}

void TPlaylistModel::CurrentRowChanged(int Row) {
  emit currentRowChanged(Row);
}
