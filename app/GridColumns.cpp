#include "GridColumns.h"

#include <QAbstractItemModel>
#include <QHeaderView>
#include <algorithm>
#include <vector>

lirvo::TColumnLayout CaptureGridColumns(const QHeaderView& Header) {
  lirvo::TColumnLayout layout;
  const QAbstractItemModel* model = Header.model();
  for (int visual = 0; visual < Header.count(); ++visual) {
    const int logical = Header.logicalIndex(visual);
    lirvo::TColumnSetting column;
    column.Field = logical;
    if (model) {
      column.Caption = model->headerData(logical, Header.orientation()).toString().toStdString();
    }
    column.Visible = !Header.isSectionHidden(logical);
    // A hidden section reports no width; its own is kept by the header.
    column.Width = column.Visible ? Header.sectionSize(logical) : 0;
    layout.push_back(std::move(column));
  }
  return layout;
}

void ApplyGridColumns(QHeaderView& Header, const lirvo::TColumnLayout& Layout) {
  QAbstractItemModel* model = Header.model();
  std::vector<bool> placed(static_cast<size_t>(std::max(Header.count(), 0)), false);
  int target = 0;
  for (const lirvo::TColumnSetting& column : Layout) {
    const int logical = column.Field;
    if (logical < 0 || logical >= Header.count() || placed[static_cast<size_t>(logical)]) continue;
    placed[static_cast<size_t>(logical)] = true;
    const int from = Header.visualIndex(logical);
    if (from != target) Header.moveSection(from, target);
    ++target;
    if (column.Visible) Header.setSectionHidden(logical, false);
    if (column.Width > 0) Header.resizeSection(logical, column.Width);
    if (!column.Visible) Header.setSectionHidden(logical, true);
    if (model && !column.Caption.empty()) {
      const QString caption = QString::fromStdString(column.Caption);
      if (model->headerData(logical, Header.orientation()).toString() != caption) {
        model->setHeaderData(logical, Header.orientation(), caption);
      }
    }
  }
}
