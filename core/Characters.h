#pragma once

#include <QList>
#include <QString>

// Texts people type into the record (names, reasons, notes), as the database sees
// them: counted in characters, one beyond the Basic Multilingual Plane being one (not
// two UTF-16 units); and refused where a NUL would cut them short on the way there.
namespace characters {

inline qsizetype count(const QString &text)
{
    return text.toUcs4().size();
}

inline bool holdsNul(const QString &text)
{
    return text.contains(QChar(0));
}

} // namespace characters
