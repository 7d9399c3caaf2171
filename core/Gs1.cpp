#include "core/Gs1.h"

namespace gs1 {

namespace {

bool digitsOnly(const QString &s)
{
    for (QChar c : s)
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    return !s.isEmpty();
}

} // namespace

int checkDigit(const QString &digits)
{
    if (!digitsOnly(digits))
        return -1;
    int sum = 0;
    for (qsizetype i = 0; i < digits.size(); ++i) {
        const int d = digits[digits.size() - 1 - i].unicode() - '0';
        sum += (i % 2 == 0) ? 3 * d : d;
    }
    return (10 - sum % 10) % 10;
}

bool isSsccPrefix(const QString &prefix)
{
    return digitsOnly(prefix) && prefix.size() >= 7 && prefix.size() <= 13;
}

std::optional<QString> sscc(const QString &prefix, int64_t number)
{
    if (!isSsccPrefix(prefix) || number < 0)
        return std::nullopt;
    const QString serial = QString::number(number).rightJustified(17 - prefix.size(), QLatin1Char('0'));
    if (serial.size() != 17 - prefix.size())
        return std::nullopt;
    const QString body = prefix + serial;
    return body + QString::number(checkDigit(body));
}

bool isSscc(const QString &text)
{
    return text.size() == 18 && digitsOnly(text) && checkDigit(text.left(17)) == text[17].unicode() - '0';
}

} // namespace gs1
