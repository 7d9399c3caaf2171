#pragma once

#include <cstdint>
#include <QString>

// Arithmetic on the station's 16-bit and 32-bit values never wraps: a result
// outside the width or a division by zero raises a RuntimeError.
namespace checked {

int16_t fit16(int64_t value, const QString &source = QStringLiteral("Integer"));
int32_t fit32(int64_t value, const QString &source = QStringLiteral("Long"));

inline int16_t add16(int16_t a, int16_t b) { return fit16(int64_t(a) + b); }
inline int16_t sub16(int16_t a, int16_t b) { return fit16(int64_t(a) - b); }
inline int32_t add32(int32_t a, int32_t b) { return fit32(int64_t(a) + b); }

// Remainder of a signed division; the sign follows the dividend.
int16_t mod16(int16_t a, int16_t b);

} // namespace checked
