#pragma once

#include "platform/xls/ByteSink.h"

#include <QString>
#include <vector>

namespace xls {

class SharedStrings;

// The workbook globals substream. Returns where each BOUNDSHEET keeps its sheet's
// stream offset, to be filled in once the sheets are laid out.
std::vector<size_t> writeGlobals(ByteSink &out, const std::vector<QString> &sheetNames,
                                 const SharedStrings &strings);

// The BOF record that opens a substream: 0x0005 globals, 0x0010 worksheet.
void writeBof(ByteSink &out, uint16_t substreamType);
void writeEof(ByteSink &out);

} // namespace xls
