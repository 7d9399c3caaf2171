#pragma once

#include <QString>
#include <cstdint>
#include <optional>

// Settings and field values travel as text; these are the only conversions.
namespace textnum {

// A decimal number with optional sign, fraction and exponent, blanks around it allowed.
bool isNumeric(const QString &text);
std::optional<double> parse(const QString &text);

// Nearest whole number, halves to the even neighbour. Non-numbers raise a type
// mismatch, values outside the width an overflow.
int16_t toInt16(const QString &text);
int32_t toInt32(const QString &text);

// The same, without raising: nothing when the text does not convert.
std::optional<int16_t> tryInt16(const QString &text);
std::optional<int32_t> tryInt32(const QString &text);

// The nearest whole number (halves to even) of a numeric text, unbounded by any
// station width; nothing for non-numbers and magnitudes beyond 64 bits.
std::optional<int64_t> tryWhole(const QString &text);

// What the operator is told about a value that must lie in lo..hi: "必须在 lo 到 hi
// 之间" for a number outside it, "必须是 lo 到 hi 之间的整数" for a text that is no number.
QString rangeRule(const QString &text, int64_t lo, int64_t hi);

// Plain decimal digits, a leading minus for negatives.
inline QString fromInteger(int64_t value) { return QString::number(value); }

} // namespace textnum
