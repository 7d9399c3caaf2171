#pragma once

#include "platform/xls/ByteSink.h"

#include <cstdint>
#include <string>

namespace xls {

// The cell formats the writer uses: XF 15 is the default cell format (General),
// XF 16 the text format "@" with the quote-prefix flag, for label and barcode cells.
constexpr uint16_t kGeneralXf = 15;
constexpr uint16_t kTextXf = 16;

// FONT, XF and STYLE records of the globals substream.
void writeStyles(ByteSink &out);

// The whole XF record (header and data) of the text format the station's cells use,
// so an appender can find it in a workbook or add it.
std::string textXfRecord();

} // namespace xls
