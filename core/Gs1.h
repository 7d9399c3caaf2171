#pragma once

#include <QString>
#include <cstdint>
#include <optional>

// GS1 numbers: the check digit of a GS1 key, and the Serial Shipping Container Code
// an outer box is labelled with when the plant ships to GS1 customers.
namespace gs1 {

// The check digit of a string of digits (the key without it): weights 3 and 1 from
// the right. -1 when the text is empty or holds anything but ASCII digits.
int checkDigit(const QString &digits);

// The extension digit and company prefix of an SSCC: 7 to 13 ASCII digits.
bool isSsccPrefix(const QString &prefix);

// The 18-digit SSCC: the prefix, the running number zero-padded to fill 17 digits,
// the check digit. Nothing when the prefix is not one, or the number is negative or
// does not fit the digits left.
std::optional<QString> sscc(const QString &prefix, int64_t number);

// Whether an 18-digit text is an SSCC with a right check digit.
bool isSscc(const QString &text);

} // namespace gs1
