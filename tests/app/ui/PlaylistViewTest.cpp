// The playlist grid over its model: bracketed changes, the column reset,
// sorting by a title click, selecting and deleting by mouse and keys, the
// current row kept in step with the table's cursor, and the colours of the
// playing and the selected rows.

#include <gtest/gtest.h>
#include <algorithm>
#include <cstdlib>

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QHeaderView>
#include <QImage>
#include <QLineEdit>
#include <QTest>
#include <QVBoxLayout>
#include <memory>
#include <set>

#include "PlaylistModel.h"
#include "PlaylistView.h"
#include "app/logic/playlist/Playlist.h"

namespace {

using lirvo::PlaylistRecord;
using lirvo::TPlaylistTable;

QStringList gModelTestFailures;

void CollectModelTestFailures(QtMsgType type, const QMessageLogContext& context,
                              const QString& message) {
  if (context.category && QByteArray(context.category) == "qt.modeltest") {
    gModelTestFailures.append(message);
  }
}

class PlaylistViewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    model = std::make_unique<TPlaylistModel>(table);
    view = std::make_unique<TPlaylistView>();
    view->SetPlaylistModel(model.get());
    view->resize(700, 300);
  }

  void Fill(int count) {
    const char* titles[] = {"delta", "alpha", "echo", "charlie", "bravo"};
    for (int i = 0; i < count; ++i) {
      PlaylistRecord r;
      r.ID = static_cast<int32_t>(table.NextAudioID());
      r.Filename = "/music/" + std::to_string(i) + ".flac";
      r.Title = titles[i % 5];
      r.Album = i % 2 ? "B" : "A";
      r.Track = count - i;
      r.Time = 60 * i;
      table.Append(r);
    }
  }

  void Show() {
    view->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(view.get()));
  }

  std::vector<int32_t> Ids() const {
    std::vector<int32_t> ids;
    for (int i = 0; i < table.RowCount(); ++i)
      ids.push_back(*table.Row(i).ID);
    return ids;
  }

  std::set<int32_t> SelectedIds() const {
    std::set<int32_t> ids;
    for (const QModelIndex& i : view->selectionModel()->selectedRows()) {
      ids.insert(*table.Row(i.row()).ID);
    }
    return ids;
  }

  QPoint CellCentre(int row, int column) const {
    return view->visualRect(model->index(row, column)).center();
  }

  // A pixel near the right end of a cell, away from its text.
  QColor CellBackground(int row, int column) const { return CellBackground(*view, row, column); }
  static QColor CellBackground(TPlaylistView& v, int row, int column) {
    const QRect r = v.visualRect(v.model()->index(row, column));
    const QImage image = v.viewport()->grab().toImage();
    return image.pixelColor(r.right() - 4, r.center().y());
  }

  void ClickTitle(int field) {
    QHeaderView* titles = view->horizontalHeader();
    const QPoint at(titles->sectionViewportPosition(field) + 8, titles->height() / 2);
    QTest::mouseClick(titles->viewport(), Qt::LeftButton, {}, at);
  }

  TPlaylistTable table;
  std::unique_ptr<TPlaylistModel> model;
  std::unique_ptr<TPlaylistView> view;
};

TEST_F(PlaylistViewTest, EveryTableChangeIsBracketedForTheViews) {
  gModelTestFailures.clear();
  const QtMessageHandler previous = qInstallMessageHandler(CollectModelTestFailures);
  {
    QAbstractItemModelTester tester(model.get(),
                                    QAbstractItemModelTester::FailureReportingMode::Warning);
    Fill(50);
    view->selectionModel()->select(model->index(3, 0),
                                   QItemSelectionModel::Select | QItemSelectionModel::Rows);
    table.SetIndexName("PL_IDX_Title");
    table.SetIndexName("PL_IDX_Album");
    table.DeleteRows({0, 1, 2, 10});
    std::vector<int> scattered;
    for (int r = 0; r < table.RowCount(); r += 2)
      scattered.push_back(r);
    table.DeleteRows(scattered);  // many blocks: one reset
    table.Delete(0);
    Fill(3);
    table.Load({PlaylistRecord{}, PlaylistRecord{}});
    table.Clear();
  }
  qInstallMessageHandler(previous);
  EXPECT_TRUE(gModelTestFailures.isEmpty()) << gModelTestFailures.join('\n').toStdString();
}

TEST_F(PlaylistViewTest, SelectionFollowsItsRowsWhenTheOrderChanges) {
  Fill(5);
  for (int row : {0, 2}) {
    view->selectionModel()->select(model->index(row, 0),
                                   QItemSelectionModel::Select | QItemSelectionModel::Rows);
  }
  const std::set<int32_t> before = SelectedIds();
  table.SetIndexName("PL_IDX_Title");
  EXPECT_EQ(SelectedIds(), before);
}

TEST_F(PlaylistViewTest, ColumnResetRestoresOrderCaptionsWidthsAndHidesFilename) {
  QHeaderView* titles = view->horizontalHeader();
  titles->moveSection(0, 5);
  titles->resizeSection(lirvo::pfTitle, 33);
  titles->setSectionHidden(lirvo::pfArtist, true);
  titles->setSectionHidden(lirvo::pfFilename, false);
  view->ResetColumns();

  const struct {
    int Field;
    const char* Caption;
    int Width;  // 0: the default width, hidden
  } columns[] = {{lirvo::pfID, "ID", 40},       {lirvo::pfFilename, "Filename", 0},
                 {lirvo::pfTrack, "音轨", 40},  {lirvo::pfTitle, "标题", 200},
                 {lirvo::pfAlbum, "专辑", 150}, {lirvo::pfArtist, "艺术家", 150},
                 {lirvo::pfTime, "时间", 60}};
  ASSERT_EQ(titles->count(), 7);
  for (const auto& c : columns) {
    EXPECT_EQ(titles->visualIndex(c.Field), c.Field);
    EXPECT_EQ(model->headerData(c.Field, Qt::Horizontal).toString(), QString::fromUtf8(c.Caption));
    EXPECT_EQ(titles->isSectionHidden(c.Field), c.Width == 0) << c.Caption;
    if (c.Width) {
      EXPECT_EQ(titles->sectionSize(c.Field), c.Width) << c.Caption;
    }
  }
  EXPECT_TRUE(titles->sectionsMovable());
  EXPECT_EQ(titles->sectionResizeMode(0), QHeaderView::Interactive);
  EXPECT_TRUE(view->verticalHeader()->isVisible() || !view->isVisible());
  EXPECT_EQ(view->editTriggers(), QAbstractItemView::NoEditTriggers);
  EXPECT_EQ(view->selectionBehavior(), QAbstractItemView::SelectRows);
  EXPECT_EQ(view->selectionMode(), QAbstractItemView::ExtendedSelection);
}

TEST_F(PlaylistViewTest, TitleClickSortsAscendingAndASecondClickChangesNothing) {
  Fill(5);
  Show();
  ClickTitle(lirvo::pfTitle);
  EXPECT_EQ(table.IndexName(), "PL_IDX_Title");
  const std::vector<int32_t> byTitle = {2, 5, 4, 1, 3};
  EXPECT_EQ(Ids(), byTitle);
  ClickTitle(lirvo::pfTitle);
  EXPECT_EQ(Ids(), byTitle);
  ClickTitle(lirvo::pfAlbum);  // album, then track
  EXPECT_EQ(table.IndexName(), "PL_IDX_Album");
  EXPECT_EQ(Ids(), (std::vector<int32_t>{5, 3, 1, 4, 2}));
}

TEST_F(PlaylistViewTest, RightButtonAnywhereInTheGridSelectsEveryRow) {
  Fill(4);
  Show();
  table.SetCurrentRow(1);
  const QPoint below(20, view->viewport()->height() - 5);  // under the last row
  const QPoint onTitles(50, view->horizontalHeader()->height() / 2);
  const std::pair<QWidget*, QPoint> places[] = {
      {view->viewport(), CellCentre(2, lirvo::pfTitle)},
      {view->viewport(), below},
      {view->horizontalHeader()->viewport(), onTitles},
      {view->verticalHeader()->viewport(), QPoint(5, CellCentre(0, 0).y())},
  };
  for (const auto& [widget, at] : places) {
    view->clearSelection();
    QTest::mouseClick(widget, Qt::RightButton, {}, at);
    EXPECT_EQ(view->selectionModel()->selectedRows().size(), 4);
    EXPECT_EQ(table.CurrentRow(), 1);  // the cursor stays
  }
}

TEST_F(PlaylistViewTest, KeysSelectAllDeleteSelectedAndEmptyTheTable) {
  Fill(6);
  Show();
  QTest::keyClick(view.get(), Qt::Key_A, Qt::ControlModifier);
  EXPECT_EQ(view->selectionModel()->selectedRows().size(), 6);

  view->clearSelection();
  for (int row : {1, 4}) {
    view->selectionModel()->select(model->index(row, 0),
                                   QItemSelectionModel::Select | QItemSelectionModel::Rows);
  }
  QTest::keyClick(view.get(), Qt::Key_Delete);
  EXPECT_EQ(Ids(), (std::vector<int32_t>{1, 3, 4, 6}));
  EXPECT_TRUE(view->selectionModel()->selectedRows().isEmpty());
  EXPECT_EQ(*table.Current()->ID, 6);  // the row after the last deleted one

  // No selection: the current row goes.
  table.SetCurrentRow(1);
  QTest::keyClick(view.get(), Qt::Key_Delete);
  EXPECT_EQ(Ids(), (std::vector<int32_t>{1, 4, 6}));

  QTest::keyClick(view.get(), Qt::Key_Delete, Qt::ControlModifier);
  EXPECT_TRUE(table.IsEmpty());
  QTest::keyClick(view.get(), Qt::Key_Delete);  // an empty table: nothing happens
  EXPECT_TRUE(table.IsEmpty());

  // IDs go on after the highest handed out before.
  Fill(1);
  EXPECT_EQ(*table.Row(0).ID, 7);
}

TEST_F(PlaylistViewTest, MenuCommandsWorkWithoutTheKeyboard) {
  Fill(3);
  view->SelectAllItems();
  EXPECT_EQ(view->selectionModel()->selectedRows().size(), 3);
  view->DeleteSelectedItems();
  EXPECT_TRUE(table.IsEmpty());
  Fill(2);
  view->ClearPlaylist();
  EXPECT_TRUE(table.IsEmpty());
  view->DeleteSelectedItems();
  view->SelectAllItems();
}

TEST_F(PlaylistViewTest, GridCurrentRowAndTableCursorFollowEachOther) {
  Fill(5);
  Show();
  table.SetCurrentRow(3);
  EXPECT_EQ(view->currentIndex().row(), 3);
  auto* indicator = static_cast<TRowIndicatorHeader*>(view->verticalHeader());
  EXPECT_EQ(indicator->IndicatorRow(), 3);

  QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, CellCentre(1, lirvo::pfTitle));
  EXPECT_EQ(table.CurrentRow(), 1);
  EXPECT_EQ(indicator->IndicatorRow(), 1);

  const int32_t id = *table.Current()->ID;
  table.SetIndexName("PL_IDX_Title");
  EXPECT_EQ(*table.Current()->ID, id);
  EXPECT_EQ(view->currentIndex().row(), table.CurrentRow());

  view->clearSelection();
  table.DeleteCurrent();
  EXPECT_EQ(view->currentIndex().row(), table.CurrentRow());
  table.Append(PlaylistRecord{});
  EXPECT_EQ(view->currentIndex().row(), table.CurrentRow());
  EXPECT_EQ(indicator->IndicatorRow(), table.CurrentRow());
}

// The arrow is really painted, under the player's style sheet too (whose
// padded header sections once clipped it away at this width).
TEST_F(PlaylistViewTest, RowIndicatorArrowIsVisibleOnTheCurrentRowOnly) {
  Fill(3);
  Show();
  table.SetCurrentRow(1);
  QHeaderView* header = view->verticalHeader();
  const QImage image = header->grab().toImage();
  auto brightest = [&](int Row) {
    const int top = header->sectionViewportPosition(Row);
    int best = 0;
    for (int y = top; y < top + header->sectionSize(Row) && y < image.height(); ++y)
      for (int x = 0; x < image.width(); ++x)
        best = std::max(best, qGray(image.pixel(x, y)));
    return best;
  };
  const int background = brightest(0);
  EXPECT_GT(brightest(1), background + 60) << "no arrow on the current row";
  EXPECT_LT(std::abs(brightest(2) - background), 20);
}

TEST_F(PlaylistViewTest, PlayingRowIsDarkGreyUnlessSelected) {
  Fill(4);
  Show();
  const QColor grey(0x66, 0x66, 0x66);
  const QColor normal = CellBackground(1, lirvo::pfTitle);
  EXPECT_NE(normal, grey);

  model->SetCurrentID(*table.Row(1).ID);
  for (int column : {lirvo::pfID, lirvo::pfTitle, lirvo::pfTime}) {
    EXPECT_EQ(CellBackground(1, column), grey) << column;
  }
  EXPECT_EQ(CellBackground(2, lirvo::pfTitle), normal);

  view->selectionModel()->select(model->index(1, 0),
                                 QItemSelectionModel::Select | QItemSelectionModel::Rows);
  const QColor highlight = view->palette().color(QPalette::Active, QPalette::Highlight);
  EXPECT_EQ(CellBackground(1, lirvo::pfTitle), highlight);

  // The mark follows the ID, not the position.
  view->clearSelection();
  table.SetIndexName("PL_IDX_Title");
  const int row = table.FindID(model->CurrentID());
  EXPECT_EQ(CellBackground(row, lirvo::pfTitle), grey);
  model->SetCurrentID(0);
  EXPECT_EQ(CellBackground(row, lirvo::pfTitle), normal);
}

TEST_F(PlaylistViewTest, SelectionKeepsItsColoursWithoutFocus) {
  Fill(3);
  QWidget window;
  auto* layout = new QVBoxLayout(&window);
  auto* edit = new QLineEdit(&window);
  auto* grid = new TPlaylistView(&window);
  grid->SetPlaylistModel(model.get());
  layout->addWidget(edit);
  layout->addWidget(grid);
  window.resize(700, 300);
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  grid->selectionModel()->select(model->index(0, 0),
                                 QItemSelectionModel::Select | QItemSelectionModel::Rows);
  edit->setFocus();
  const QColor highlight = grid->palette().color(QPalette::Active, QPalette::Highlight);
  EXPECT_FALSE(grid->hasFocus());
  EXPECT_EQ(CellBackground(*grid, 0, lirvo::pfTitle), highlight);

  QWidget other;
  other.show();
  other.activateWindow();
  if (QTest::qWaitForWindowActive(&other)) {
    EXPECT_FALSE(grid->isActiveWindow());
    EXPECT_EQ(CellBackground(*grid, 0, lirvo::pfTitle), highlight);
  }
}

TEST(PlaylistViewInstall, ReplacesThePlaceholderInItsLayout) {
  TPlaylistTable table;
  TPlaylistModel model(table);
  QWidget pane;
  auto* layout = new QVBoxLayout(&pane);
  QTableView* dbgSongs = new QTableView(&pane);
  dbgSongs->setObjectName(QStringLiteral("dbgSongs"));
  layout->addWidget(dbgSongs);
  QTableView* const placeholder = dbgSongs;

  TPlaylistView* view = InstallPlaylistView(dbgSongs, &model);
  EXPECT_EQ(dbgSongs, view);
  EXPECT_NE(dbgSongs, placeholder);
  EXPECT_EQ(view->parentWidget(), &pane);
  EXPECT_EQ(layout->indexOf(view), 0);
  EXPECT_EQ(layout->count(), 1);
  EXPECT_EQ(view->objectName(), QStringLiteral("dbgSongs"));
  EXPECT_EQ(view->model(), &model);
  EXPECT_EQ(pane.findChildren<QTableView*>().size(), 1);
}

}  // namespace
