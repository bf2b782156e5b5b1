#pragma once
// The playlist grid's columns as the settings file keeps them: captured from
// the grid's header and applied back to it. UI thread only.

#include "app/logic/playlist/ColumnLayout.h"

class QHeaderView;

// The grid's columns in display order: field (logical index), caption (the
// model's title), width (0 for a hidden column) and visibility.
lirvo::TColumnLayout CaptureGridColumns(const QHeaderView& Header);
// Moves, sizes, shows or hides the columns the layout names to its order,
// after which come the columns it does not name; entries for fields the grid
// does not have are skipped, a width of 0 keeps the column's width, and a
// caption is offered to the model (which may keep its own).
void ApplyGridColumns(QHeaderView& Header, const lirvo::TColumnLayout& Layout);
