#pragma once

#include "platform/xls/ByteSink.h"

#include <cstdint>
#include <vector>

namespace xls {

struct Sheet;

// One worksheet substream, starting at the sink's current position. Text cells
// take their shared-string indexes from sstIndexes in row-major order.
void writeWorksheet(ByteSink &out, const Sheet &sheet, const std::vector<uint32_t> &sstIndexes, bool selected);

} // namespace xls
