#pragma once

#include <QString>
#include "platform/SheetLimits.h"
#include <cstdint>

namespace xls {

// A column is at most 255 characters wide: 255 × 256 in 1/256 of a digit's width.
constexpr uint16_t kMaxColumnWidth = sheet::kWidestColumnCharacters * 256;

// Width of a text in digit widths: East Asian characters take two.
int displayWidth(const QString &text);

// The width that shows a text of that many digit widths with a little room on
// either side, as spreadsheet programs leave; 0 for nothing; never above the maximum.
uint16_t fittedColumnWidth(int characters);

} // namespace xls
