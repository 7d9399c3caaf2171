#pragma once

#include <string>

namespace xls {

struct Workbook;

// The bytes of the "Workbook" stream (BIFF8) of a workbook; the first sheet is active.
std::string workbookStream(const Workbook &book);

} // namespace xls
