#pragma once

#include <QString>

// Texts people type into the record (names, reasons, notes), as the database sees
// them: counted in characters, one beyond the Basic Multilingual Plane being one (not
// two UTF-16 units); and refused where a NUL would cut them short on the way there.
namespace characters {

inline qsizetype count(const QString &text)
{
    qsizetype n = 0;
    for (qsizetype i = 0; i < text.size(); ++i, ++n)
        if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate())
            ++i;
    return n;
}

inline bool holdsNul(const QString &text)
{
    return text.contains(QChar(0));
}

} // namespace characters
