#include "core/Checked.h"

#include "core/RuntimeError.h"

#include <limits>

namespace checked {

int16_t fit16(int64_t value, const QString &source)
{
    if (value < std::numeric_limits<int16_t>::min() || value > std::numeric_limits<int16_t>::max())
        throw RuntimeError::overflow(source);
    return int16_t(value);
}

int32_t fit32(int64_t value, const QString &source)
{
    if (value < std::numeric_limits<int32_t>::min() || value > std::numeric_limits<int32_t>::max())
        throw RuntimeError::overflow(source);
    return int32_t(value);
}

int16_t mod16(int16_t a, int16_t b)
{
    if (b == 0)
        throw RuntimeError::divisionByZero(QStringLiteral("Mod"));
    return int16_t(int32_t(a) % int32_t(b));
}

} // namespace checked
