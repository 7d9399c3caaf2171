#include "plant/SqlArrays.h"

namespace sqlarrays {

QString textArray(const QStringList &values)
{
    QString out;
    qsizetype size = 2;
    for (const QString &v : values)
        size += v.size() + 3;
    out.reserve(size);
    out += QLatin1Char('{');
    for (qsizetype i = 0; i < values.size(); ++i) {
        if (i)
            out += QLatin1Char(',');
        const QString &v = values[i];
        if (v.isNull()) {
            out += QLatin1String("NULL");
            continue;
        }
        out += QLatin1Char('"');
        for (const QChar c : v) {
            if (c == QLatin1Char('"') || c == QLatin1Char('\\'))
                out += QLatin1Char('\\');
            out += c;
        }
        out += QLatin1Char('"');
    }
    out += QLatin1Char('}');
    return out;
}

} // namespace sqlarrays
