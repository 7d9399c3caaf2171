#include "plant/SqlArrays.h"

namespace sqlarrays {

void TextArray::add(const QString &value)
{
    if (m_text.size() > 1)
        m_text += QLatin1Char(',');
    if (value.isNull()) {
        m_text += QLatin1String("NULL");
        return;
    }
    m_text += QLatin1Char('"');
    for (const QChar c : value) {
        if (c == QLatin1Char('"') || c == QLatin1Char('\\'))
            m_text += QLatin1Char('\\');
        m_text += c;
    }
    m_text += QLatin1Char('"');
}

const QString &TextArray::text()
{
    if (!m_closed) {
        m_text += QLatin1Char('}');
        m_closed = true;
    }
    return m_text;
}

QString textArray(const QStringList &values)
{
    TextArray array;
    for (const QString &v : values)
        array.add(v);
    return array.text();
}

} // namespace sqlarrays
