#include "platform/xls/ColumnWidth.h"

#include <algorithm>

namespace xls {

namespace {
constexpr int kPadding = 128; // half a digit, split on both sides
}

int displayWidth(const QString &text)
{
    int width = 0;
    for (QChar c : text) {
        const char16_t u = c.unicode();
        if (c.isLowSurrogate())
            continue;
        width += (u >= 0x1100 && (u <= 0x115F || (u >= 0x2E80 && u <= 0xA4CF) || (u >= 0xAC00 && u <= 0xD7A3)
                                  || (u >= 0xF900 && u <= 0xFAFF) || (u >= 0xFE30 && u <= 0xFE4F)
                                  || (u >= 0xFF00 && u <= 0xFF60) || (u >= 0xFFE0 && u <= 0xFFE6)))
                     || c.isHighSurrogate()
                     ? 2
                     : 1;
    }
    return width;
}

uint16_t fittedColumnWidth(int characters)
{
    if (characters <= 0)
        return 0;
    const int width = (characters + 1) * 256 + kPadding;
    return uint16_t(std::min<int>(width, kMaxColumnWidth));
}

} // namespace xls
