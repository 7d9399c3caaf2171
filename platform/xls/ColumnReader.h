#pragma once

#include "platform/WorkbookReader.h"

// The workbook reader, implemented by the station's own record walker (not FreeXL:
// a damaged file in files/ must not bring the station down).
namespace xls {

using workbook::readFirstSheetColumn;
using workbook::readFirstSheetColumns;

} // namespace xls
