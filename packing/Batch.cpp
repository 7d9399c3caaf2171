#include "packing/Batch.h"

#include <array>
#include <utility>

namespace batchstate {

namespace {

struct Names
{
    Batch::State state;
    const char *word;
    const char16_t *shown;
};

constexpr std::array<Names, 5> kNames{{
    {Batch::State::Released, "released", u"已下达"},
    {Batch::State::Running, "running", u"生产中"},
    {Batch::State::Held, "held", u"已暂停"},
    {Batch::State::Ended, "ended", u"已结束"},
    {Batch::State::Aborted, "aborted", u"已中止"},
}};

} // namespace

QString word(Batch::State state)
{
    for (const Names &n : kNames)
        if (n.state == state)
            return QString::fromLatin1(n.word);
    return {};
}

std::optional<Batch::State> named(const QString &text)
{
    for (const Names &n : kNames)
        if (text == QLatin1String(n.word))
            return n.state;
    return std::nullopt;
}

QString shown(Batch::State state)
{
    for (const Names &n : kNames)
        if (n.state == state)
            return QString::fromUtf16(n.shown);
    return {};
}

} // namespace batchstate
