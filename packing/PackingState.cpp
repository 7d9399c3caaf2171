#include "packing/PackingState.h"

#include "core/Checked.h"

#include <cstdlib>

QString paddedNumber(int32_t number, int16_t width)
{
    const int maskLength = (width >= 1 && width <= 10) ? width : 11;
    const int64_t magnitude = std::llabs(int64_t(number));
    QString digits = QString::number(magnitude).rightJustified(maskLength, QLatin1Char('0'));
    return number < 0 ? QLatin1Char('-') + digits : digits;
}

void PackingState::buildLabels()
{
    sMiddleNo = paddedNumber(lMiddleNo, iMiddleDigits);
    sOuterNo = paddedNumber(lOuterNo, iOuterDigits);
}

void PackingState::advanceMiddle()
{
    lMiddleNo = checked::add32(lMiddleNo, 1);
}

void PackingState::advanceOuter()
{
    lOuterNo = checked::add32(lOuterNo, 1);
}

PackingState &packingState()
{
    static PackingState state;
    return state;
}
