#pragma once

#include "packing/Box.h"

#include <QString>

// A box row's kind in the record's SQL, by name: "{pack}", "{middle}" and "{outer}" in a
// statement stand for the numbers the record stores (BoxRow::Kind, the stations' own),
// written into the text so that the partial indexes on packs are used.
namespace rowkind {

inline QString named(QString sql)
{
    sql.replace(QLatin1String("{outer}"), QString::number(int(BoxRow::OuterLabel)));
    sql.replace(QLatin1String("{middle}"), QString::number(int(BoxRow::MiddleLabel)));
    sql.replace(QLatin1String("{pack}"), QString::number(int(BoxRow::Pack)));
    return sql;
}

} // namespace rowkind
