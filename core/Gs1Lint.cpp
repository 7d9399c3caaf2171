#include "core/Gs1Lint.h"

#include "core/Gs1.h"
#include "core/Gs1Scan.h"

#include <QSet>

namespace gs1 {

namespace {

const QString kCset82 = QStringLiteral("!\"%&'()*+,-./0123456789:;<=>?ABCDEFGHIJKLMNOPQRSTUVWXYZ_abcdefghijklmnopqrstuvwxyz");
const QString kCset32 = QStringLiteral("23456789ABCDEFGHJKLMNPQRSTUVWXYZ");

bool digit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

bool allDigits(const QString &s)
{
    for (QChar c : s)
        if (!digit(c))
            return false;
    return !s.isEmpty();
}

int number(const QString &s)
{
    return allDigits(s) ? s.toInt() : -1;
}

QSet<QString> setOf(const char *const *codes, int count)
{
    QSet<QString> set;
    for (int i = 0; i < count; ++i)
        set.insert(QString::fromLatin1(codes[i]));
    return set;
}

bool country(const QString &numeric)
{
    static const QSet<QString> codes = setOf(kIso3166Numeric, kIso3166NumericSize);
    return codes.contains(numeric);
}

bool countryAlpha2(const QString &alpha)
{
    static const QSet<QString> codes = setOf(kIso3166Alpha2, kIso3166Alpha2Size);
    return codes.contains(alpha);
}

bool currency(const QString &numeric)
{
    static const QSet<QString> codes = setOf(kIso4217Numeric, kIso4217NumericSize);
    return codes.contains(numeric);
}

bool hhmi(const QString &s)
{
    return s.size() == 4 && number(s.left(2)) >= 0 && number(s.left(2)) <= 23 && number(s.mid(2)) >= 0 && number(s.mid(2)) <= 59;
}

bool pcenc(const QString &s)
{
    for (qsizetype i = 0; i < s.size(); ++i)
        if (s[i] == QLatin1Char('%')) {
            if (i + 2 >= s.size() || !isxdigit(s[i + 1].toLatin1()) || !isxdigit(s[i + 2].toLatin1()))
                return false;
            i += 2;
        }
    return true;
}

bool iban(const QString &s)
{
    if (s.size() < 5 || !s[0].isUpper() || !s[1].isUpper() || !digit(s[2]) || !digit(s[3]))
        return false;
    if (!countryAlpha2(s.left(2)))
        return false;
    const QString moved = s.mid(4) + s.left(4);
    int remainder = 0;
    for (QChar c : moved) {
        int value;
        if (digit(c))
            value = c.unicode() - '0';
        else if (c >= QLatin1Char('A') && c <= QLatin1Char('Z'))
            value = c.unicode() - 'A' + 10;
        else
            return false;
        remainder = (value >= 10 ? remainder * 100 + value : remainder * 10 + value) % 97;
    }
    return remainder == 1;
}

} // namespace

bool inCset82(QChar c)
{
    return c.unicode() < 128 && kCset82.contains(c);
}

bool inCset39(QChar c)
{
    const char16_t u = c.unicode();
    return (u >= 'A' && u <= 'Z') || digit(c) || u == '#' || u == '-' || u == '/';
}

bool inCset64(QChar c)
{
    const char16_t u = c.unicode();
    return (u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z') || digit(c) || u == '-' || u == '_' || u == '=';
}

QString checkCharacters(const QString &body)
{
    // Each character's place in CSET 82, weighted by the primes from the right (2 for
    // the last), summed modulo 1021 and written as two characters of CSET 32.
    static const int primes[] = {2, 3, 5, 7, 11, 13, 17, 19, 23, 29, 31, 37, 41, 43, 47, 53, 59, 61, 67, 71, 73, 79, 83, 89, 97, 101};
    if (body.size() > qsizetype(sizeof primes / sizeof primes[0]))
        return {};
    int sum = 0;
    for (qsizetype i = 0; i < body.size(); ++i) {
        const qsizetype value = kCset82.indexOf(body[body.size() - 1 - i]);
        if (value < 0)
            return {};
        sum += int(value) * primes[i];
    }
    sum %= 1021;
    return QString(kCset32[sum / 32]) + kCset32[sum % 32];
}

LintResult lint(Lint l, const QString &p, const QDate &today)
{
    const auto result = [](bool ok) { return LintResult{ok, {}}; };
    switch (l) {
    case Lint::none:
        return {};
    case Lint::csum: {
        const int expected = checkDigit(p.chopped(1));
        return {expected >= 0 && expected == p.back().unicode() - '0', QString::number(expected)};
    }
    case Lint::csumalpha: {
        if (p.size() < 3)
            return {false, {}};
        const QString expected = checkCharacters(p.chopped(2));
        return {!expected.isEmpty() && p.right(2) == expected, expected};
    }
    case Lint::gcppos1:
    case Lint::gcppos2: {
        // A company prefix starts with GS1's prefix, two digits at least, where the
        // key's format puts it.
        const QString prefix = p.mid(l == Lint::gcppos1 ? 0 : 1, 2);
        return result(prefix.size() == 2 && allDigits(prefix));
    }
    case Lint::hasnondigit:
        return result(!allDigits(p));
    case Lint::yymmd0:
        return result(dateOf(p, today).isValid());
    case Lint::yymmdd:
        return result(p.right(2) != QLatin1String("00") && dateOf(p, today).isValid());
    case Lint::yyyymmdd:
        return result(p.size() == 8 && allDigits(p) && QDate(p.left(4).toInt(), p.mid(4, 2).toInt(), p.mid(6).toInt()).isValid());
    case Lint::hhmi:
        return result(hhmi(p));
    case Lint::hh:
        return result(number(p) >= 0 && number(p) <= 23);
    case Lint::mi:
    case Lint::ss:
        return result(number(p) >= 0 && number(p) <= 59);
    case Lint::iso3166:
        return result(country(p));
    case Lint::iso3166999:
        return result(p == QLatin1String("999") || country(p));
    case Lint::iso3166alpha2:
        return result(countryAlpha2(p));
    case Lint::iso4217:
        return result(currency(p));
    case Lint::iso5218:
        return result(p == QLatin1String("0") || p == QLatin1String("1") || p == QLatin1String("2") || p == QLatin1String("9"));
    case Lint::nonzero:
        return result(number(p) != 0);
    case Lint::zero:
        return result(p == QLatin1String("0"));
    case Lint::nozeroprefix:
        return result(p.size() == 1 || !p.startsWith(QLatin1Char('0')));
    case Lint::winding:
        return result(p == QLatin1String("0") || p == QLatin1String("1") || p == QLatin1String("9"));
    case Lint::pieceoftotal: {
        const int piece = number(p.left(p.size() / 2)), total = number(p.mid(p.size() / 2));
        return result(piece >= 1 && total >= 1 && piece <= total);
    }
    case Lint::yesno:
        return result(p == QLatin1String("0") || p == QLatin1String("1"));
    case Lint::hyphen:
        return result(p == QLatin1String("-"));
    case Lint::importeridx:
        return result(p.size() == 1 && (inCset64(p[0]) && p[0] != QLatin1Char('=')));
    case Lint::latitude:
        return result(allDigits(p) && p.toLongLong() <= 1800000000LL);
    case Lint::longitude:
        return result(allDigits(p) && p.toLongLong() <= 3600000000LL);
    case Lint::pcenc:
        return result(pcenc(p));
    case Lint::iban:
        return result(iban(p));
    case Lint::mediatype: {
        const int type = number(p);
        return result((type >= 1 && type <= 10) || type >= 80);
    }
    case Lint::posinseqslash: {
        if (p.size() != 3 || p[1] != QLatin1Char('/'))
            return result(false);
        const int at = number(p.left(1)), of = number(p.right(1));
        return result(at >= 1 && of >= 1 && at <= of);
    }
    case Lint::packagetype:
    case Lint::couponcode:
    case Lint::couponposoffer:
        // Freight package codes and North American coupons: never on a pack this
        // station packs. Their data is still read by its length and characters.
        return {};
    }
    return {};
}

} // namespace gs1
