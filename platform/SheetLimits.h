#pragma once

#include <cstdint>

// What one worksheet of an Excel 97–2003 workbook can hold, and the columns a box
// fills: defined here once for the station, its tools and the record layer.
namespace sheet {

constexpr int32_t kRows = 65536;
constexpr int32_t kColumns = 256; // A to IV
constexpr int kWidestColumnCharacters = 255;
// A: the outer label, B: the middle label, C: the inner pack's barcode.
constexpr int kBoxColumns = 3;

} // namespace sheet
