#pragma once

#include "platform/SheetLimits.h"
#include "packing/Box.h"

#include <QString>
#include <QStringList>
#include <array>
#include <cstdint>
#include <vector>

// A box in a day's workbook, and back: each of its rows fills one of the first sheet's
// first three columns (A the outer label, B a middle label, C an inner pack's
// barcode); a box starts at its outer label and runs to the row above the next one.
// Written by the export, read by the reconciliation with the plant record and by
// the pack search: the one place that knows the layout.
namespace boxsheet {

constexpr int kColumns = sheet::kBoxColumns;
// Sheet row 1 is above the first box of a day (a new workbook's first row).
constexpr int32_t kFirstBoxRow = 2;

// The column that holds a box's outer label, where every box starts.
constexpr int kOuterLabelColumn = int(BoxRow::OuterLabel);

using Cells = std::array<QString, kColumns>;

// The cells of the sheet row a box row is written in.
Cells cellsOf(const BoxRow &row);

// A box as a sheet holds it: its first sheet row (from 1) and its rows.
struct SheetBox
{
    int32_t firstRow = 0;
    std::vector<BoxRow> rows;
};

// Every box of a sheet, in order, from its first columns as the workbook reader gives
// them (a list per column, shorter lists ending in empty cells). Below an outer label,
// a row with a middle label is that label; any other row is a pack, also one whose
// barcode cell is empty (a cell a person cleared): the box keeps every row it was
// written with. Rows above the first outer label belong to no box.
std::vector<SheetBox> boxesIn(const std::vector<QStringList> &columns);

// Whether the sheet holds exactly these rows from that sheet row (from 1) on, cells
// past the columns' ends being empty (a box may end in an empty barcode).
bool holdsAt(const std::vector<QStringList> &columns, int32_t firstRow, const std::vector<BoxRow> &rows);
// The sheet rows its first columns use: the longest column.
qsizetype usedRows(const std::vector<QStringList> &columns);

} // namespace boxsheet
