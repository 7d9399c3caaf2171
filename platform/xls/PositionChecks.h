#pragma once

#include "platform/xls/BiffStream.h"
#include "platform/xls/FirstSheet.h"

#include <vector>

namespace xls {

// Positions that are already wrong cannot be moved right: a workbook whose sheet
// directory, INDEX or DBCELL records point where they should not, or whose other
// sheets have cells outside their used range, is refused (a RuntimeError) rather
// than passed on with its faults.
void checkPositions(const BiffLayout &layout, const std::vector<size_t> &boundSheets, size_t firstSheetIndex,
                    const FirstSheet &firstSheet);

} // namespace xls
