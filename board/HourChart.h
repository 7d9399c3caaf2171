#pragma once

#include "board/BoardData.h"

#include <QByteArray>

// Output per hour today as SVG made here. Up to kBarsUpTo stations: a row of 24 bars
// per station on one scale, with the scale's numbers, gridlines and unit; more: a
// compact station × hour heat map with its legend. The current hour is marked in
// both. Names and numbers are written as XML-escaped text; the picture holds no script.
namespace board {

constexpr size_t kBarsUpTo = 12;

// currentHour: hours since local midnight now (outside 0–24: no marker).
QByteArray hourChartSvg(const std::vector<Station> &stations, int currentHour);

// The top of a scale that holds most: 1, 2 or 5 times a power of ten.
qint64 niceScaleTop(qint64 most);

} // namespace board
