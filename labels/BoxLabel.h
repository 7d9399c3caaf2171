#pragma once

#include "labels/Label.h"
#include "packing/Box.h"

#include <vector>

namespace labels {

// The outer label of a box with these rows, as it is printed when the box is written
// and as a reprint prints it again: its middle labels, its pack count and, of GS1
// packs, the block and symbol of what it holds. sscc: the outer label is an SSCC.
Label outerLabelOf(const std::vector<BoxRow> &rows, const QString &station, const QDateTime &at, bool sscc);

} // namespace labels
