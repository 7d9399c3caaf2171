#pragma once

#include <QString>
#include <QStringList>

// A list as one parameter in PostgreSQL's text form of an array ({"a","b",NULL}), for
// statements that take a box's rows whole through unnest(): one statement text
// whatever the box's size, so that it is prepared once. Every element is quoted and
// its quotes and backslashes escaped; a null QString is SQL NULL.
namespace sqlarrays {

QString textArray(const QStringList &values);

// The same, element by element, for a column too long to keep twice.
class TextArray
{
public:
    void add(const QString &value);
    const QString &text();

private:
    QString m_text = QStringLiteral("{");
    bool m_closed = false;
};

} // namespace sqlarrays
