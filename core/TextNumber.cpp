#include "core/TextNumber.h"

#include "core/Checked.h"
#include "core/RuntimeError.h"

#include <QRegularExpression>
#include <charconv>
#include <cfenv>
#include <cmath>

namespace textnum {

namespace {

const QRegularExpression &numberPattern()
{
    static const QRegularExpression re(
        QStringLiteral("^[ \\t]*[+-]?(\\d+(\\.\\d*)?|\\.\\d+)([eE][+-]?\\d+)?[ \\t]*$"));
    return re;
}

// Rounds half to even regardless of the process's current rounding mode.
int64_t roundHalfEven(double value, bool &fits)
{
    fits = std::isfinite(value) && std::fabs(value) < 9.0e18;
    if (!fits)
        return 0;
    const int saved = std::fegetround();
    std::fesetround(FE_TONEAREST);
    const double r = std::nearbyint(value);
    std::fesetround(saved);
    return int64_t(r);
}

template <typename Fit>
auto convert(const QString &text, const QString &source, Fit fit)
{
    const std::optional<double> value = parse(text);
    if (!value)
        throw RuntimeError::typeMismatch(source, text);
    bool fits = false;
    const int64_t whole = roundHalfEven(*value, fits);
    if (!fits)
        throw RuntimeError::overflow(source);
    return fit(whole, source);
}

} // namespace

bool isNumeric(const QString &text)
{
    return numberPattern().match(text).hasMatch();
}

std::optional<double> parse(const QString &text)
{
    if (!isNumeric(text))
        return std::nullopt;
    // from_chars ignores the process locale, so "2.5" reads the same everywhere.
    QByteArray digits = text.trimmed().toLatin1();
    if (digits.startsWith('+'))
        digits.remove(0, 1);
    double value = 0;
    const auto [end, ec] = std::from_chars(digits.constData(), digits.constData() + digits.size(), value);
    if (ec == std::errc::result_out_of_range) {
        // A tiny magnitude (negative exponent) is zero; a huge one fits no width.
        if (digits.toLower().contains("e-"))
            return 0.0;
        return digits.startsWith('-') ? -HUGE_VAL : HUGE_VAL;
    }
    if (ec != std::errc() || end != digits.constData() + digits.size())
        return std::nullopt;
    return value;
}

int16_t toInt16(const QString &text)
{
    return convert(text, QStringLiteral("CInt"), checked::fit16);
}

int32_t toInt32(const QString &text)
{
    return convert(text, QStringLiteral("CLng"), checked::fit32);
}

std::optional<int64_t> tryWhole(const QString &text)
{
    const std::optional<double> value = parse(text);
    if (!value)
        return std::nullopt;
    bool fits = false;
    const int64_t whole = roundHalfEven(*value, fits);
    if (!fits)
        return std::nullopt;
    return whole;
}

std::optional<int16_t> tryInt16(const QString &text)
{
    try {
        return toInt16(text);
    } catch (const RuntimeError &) {
        return std::nullopt; // the caller asked for "no value" instead of the failure
    }
}

std::optional<int32_t> tryInt32(const QString &text)
{
    try {
        return toInt32(text);
    } catch (const RuntimeError &) {
        return std::nullopt; // the caller asked for "no value" instead of the failure
    }
}

} // namespace textnum

namespace textnum {

QString rangeRule(const QString &text, int64_t lo, int64_t hi)
{
    // An integer out of range is still an integer: only its range is wrong.
    if (tryWhole(text))
        return QStringLiteral("必须在 %1 到 %2 之间").arg(lo).arg(hi);
    return QStringLiteral("必须是 %1 到 %2 之间的整数").arg(lo).arg(hi);
}

} // namespace textnum
