#include "plant/ChangeKinds.h"

#include <array>

namespace changekind {

namespace {

struct Entry
{
    Kind kind;
    const char *word;
    const char *shown; // UTF-8
};

const std::array<Entry, 4> kKinds{{
    {Kind::TakeOut, "take-out", "取出"},
    {Kind::PutIn, "put-in", "放入"},
    {Kind::Void, "void", "整箱作废"},
    {Kind::Restore, "restore", "整箱恢复"},
}};

const Entry &entryOf(Kind k)
{
    for (const Entry &e : kKinds)
        if (e.kind == k)
            return e;
    return kKinds.back(); // every enumerator is in the table
}

} // namespace

QString word(Kind k)
{
    return QString::fromLatin1(entryOf(k).word);
}

std::optional<Kind> named(QStringView w)
{
    for (const Entry &e : kKinds)
        if (w == QLatin1String(e.word))
            return e.kind;
    return std::nullopt;
}

bool ofOnePack(Kind k)
{
    return k == Kind::TakeOut || k == Kind::PutIn;
}

QString shown(const QString &w)
{
    if (w == QLatin1String("packed"))
        return QStringLiteral("装箱");
    if (const std::optional<Kind> k = named(w))
        return QString::fromUtf8(entryOf(*k).shown);
    return w;
}

} // namespace changekind
