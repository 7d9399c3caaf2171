#pragma once

#include "board/BoardData.h"

#include <QByteArray>

// Output per hour today as SVG made here: one row of 24 bars per station, on one
// scale so that stations compare at a glance. Names and numbers are written as
// XML-escaped text; the picture holds no script.
namespace board {

QByteArray hourChartSvg(const std::vector<Station> &stations);

} // namespace board
