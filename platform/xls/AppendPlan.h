#pragma once

#include "platform/SheetLimits.h"
#include "platform/xls/FirstSheet.h"
#include "platform/xls/SstTable.h"

#include <QString>
#include <array>
#include <cstdint>
#include <vector>

namespace xls {

// One sheet row of a box: the texts of columns A, B and C ("" for an empty cell).
using SheetRow = std::array<QString, sheet::kBoxColumns>;

// What appending a box changes, worked out before a byte is written: where its rows
// go and in which blocks, the shared strings its texts take, and the widths of
// columns A to C.
struct AppendPlan
{
    uint32_t firstNew = 0; // sheet row (from 0) of the box's first row
    uint32_t lastNew = 0;
    uint16_t xf = 0;       // the text format of the new cells
    bool merging = false;  // the box's first rows join the sheet's last block
    size_t blocksAfter = 0; // DBCELLs of the first sheet afterwards

    // Per row and column the shared string, or -1 for an empty (blank) cell.
    std::vector<std::array<long, sheet::kBoxColumns>> sstIndex;
    std::vector<QString> newStrings; // after the table's last one
    uint32_t unique = 0;             // the table's counts afterwards
    uint32_t total = 0;

    // Widths for columns A to C, 0 where a column stays as it is.
    std::array<uint16_t, sheet::kBoxColumns> wanted{};
    bool widen = false;
};

// Raises a RuntimeError when the rows do not fit the sheet or a text a cell.
AppendPlan planAppend(const std::vector<SheetRow> &rows, const FirstSheet &sheet, const SstTable &sst, uint16_t textXf);

} // namespace xls
