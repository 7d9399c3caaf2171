#include "core/Gs1AiTable.h"

#include <QHash>
#include <array>
#include <QString>

namespace gs1 {

const AiEntry *aiEntry(QStringView ai)
{
    static const QHash<QString, const AiEntry *> byAi = [] {
        QHash<QString, const AiEntry *> h;
        for (int i = 0; i < kAiTableSize; ++i)
            h.insert(QString::fromLatin1(kAiTable[i].ai), &kAiTable[i]);
        return h;
    }();
    if (ai.size() < 2 || ai.size() > 4)
        return nullptr;
    return byAi.value(ai.toString(), nullptr);
}

int aiLengthOfPrefix(QStringView twoDigits)
{
    static const std::array<int, 100> byPrefix = [] {
        std::array<int, 100> a{};
        for (int i = 0; i < kPrefixLengthsSize; ++i)
            a[size_t((kPrefixLengths[i].prefix[0] - '0') * 10 + kPrefixLengths[i].prefix[1] - '0')] = kPrefixLengths[i].length;
        return a;
    }();
    if (twoDigits.size() != 2 || !twoDigits[0].isDigit() || !twoDigits[1].isDigit() || twoDigits[0].unicode() > '9'
        || twoDigits[1].unicode() > '9')
        return 0;
    return byPrefix[size_t((twoDigits[0].unicode() - '0') * 10 + twoDigits[1].unicode() - '0')];
}

const char *lintName(Lint lint)
{
    static const char *const names[] = {
        "",         "csum",      "csumalpha",     "gcppos1",     "gcppos2",      "hasnondigit",   "yymmd0",
        "yymmdd",   "yyyymmdd",  "hhmi",          "hh",          "mi",           "ss",            "iso3166",
        "iso3166999", "iso3166alpha2", "iso4217", "iso5218",     "nonzero",      "zero",          "nozeroprefix",
        "winding",  "pieceoftotal", "yesno",      "hyphen",      "importeridx",  "latitude",      "longitude",
        "pcenc",    "iban",      "mediatype",     "posinseqslash", "packagetype", "couponcode",   "couponposoffer",
    };
    static_assert(sizeof names / sizeof names[0] == size_t(Lint::couponposoffer) + 1);
    return names[size_t(lint)];
}

} // namespace gs1
