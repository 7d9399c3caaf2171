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

} // namespace xls
