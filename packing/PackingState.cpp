#include "packing/PackingState.h"

#include "core/Gs1.h"

#include "core/Checked.h"

#include <cstdlib>

QString paddedNumber(int32_t number, int16_t width)
{
    const int maskLength = (width >= 1 && width <= 10) ? width : 11;
    const int64_t magnitude = std::llabs(int64_t(number));
    QString digits = QString::number(magnitude).rightJustified(maskLength, QLatin1Char('0'));
    return number < 0 ? QLatin1Char('-') + digits : digits;
}

void PackingState::takeJob(const PackingJob &job)
{
    static_cast<PackingJob &>(*this) = job;
    buildLabels();
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

QString PackingState::outerLabelFor(int32_t number) const
{
    if (!bSscc)
        return sOuterPrefix + paddedNumber(number, iOuterDigits) + sOuterSuffix;
    // Start and the intake refuse what cannot make an SSCC. Should one slip through, the
    // text must not read as some other box's SSCC: never 18 digits.
    return gs1::sscc(sOuterPrefix, number).value_or(sOuterPrefix + QLatin1Char('-') + QString::number(number));
}

QString PackingState::ssccProblem(int32_t number) const
{
    if (!bSscc)
        return {};
    if (!gs1::isSsccPrefix(sOuterPrefix))
        return QStringLiteral("“外箱前缀”须为 SSCC 的扩展位和 GS1 厂商代码：7 到 13 位数字，现为“%1”。").arg(sOuterPrefix);
    if (!sOuterSuffix.isEmpty())
        return QStringLiteral("外箱号为 SSCC 时“外箱后缀”须为空，现为“%1”。").arg(sOuterSuffix);
    if (!gs1::sscc(sOuterPrefix, number))
        return QStringLiteral("“外箱序号”%1 放不进 SSCC：前缀 %2 位后只剩 %3 位序号。")
            .arg(number).arg(sOuterPrefix.size()).arg(17 - sOuterPrefix.size());
    return {};
}
