#include "labels/Label.h"

#include <QJsonArray>

namespace labels {

namespace {

constexpr int kLongestText = 4000;
constexpr int kMostItems = 100000;

QJsonArray array(const QStringList &list)
{
    QJsonArray a;
    for (const QString &s : list)
        a.append(s);
    return a;
}

std::optional<QStringList> list(const QJsonValue &v)
{
    if (!v.isArray() || v.toArray().size() > kMostItems)
        return std::nullopt;
    QStringList out;
    for (const QJsonValue &item : v.toArray()) {
        if (!item.isString() || item.toString().size() > kLongestText)
            return std::nullopt;
        out << item.toString();
    }
    return out;
}

} // namespace

QJsonObject Label::toJson() const
{
    QJsonObject o{
        {QStringLiteral("kind"), kind == Kind::Outer ? QStringLiteral("outer") : QStringLiteral("middle")},
        {QStringLiteral("text"), text},
        {QStringLiteral("sscc"), sscc},
        {QStringLiteral("station"), station},
        {QStringLiteral("written"), written.toString(Qt::ISODate)},
        {QStringLiteral("packs"), packs},
        {QStringLiteral("middles"), array(middles)},
        {QStringLiteral("outer"), outer},
        {QStringLiteral("packList"), array(packList)},
        {QStringLiteral("reprint"), reprint},
        {QStringLiteral("timeKnown"), timeKnown},
    };
    if (content)
        o.insert(QStringLiteral("content"), QJsonObject{{QStringLiteral("gtin"), content->gtin},
                                                        {QStringLiteral("lot"), content->lot},
                                                        {QStringLiteral("expiry"), content->expiry}});
    return o;
}

std::optional<Label> Label::fromJson(const QJsonObject &o)
{
    Label l;
    const QString kind = o.value(QStringLiteral("kind")).toString();
    if (kind != QLatin1String("outer") && kind != QLatin1String("middle"))
        return std::nullopt;
    l.kind = kind == QLatin1String("outer") ? Kind::Outer : Kind::Middle;
    for (const char *key : {"text", "station", "written", "outer"})
        if (!o.value(QLatin1String(key)).isString() || o.value(QLatin1String(key)).toString().size() > kLongestText)
            return std::nullopt;
    l.text = o.value(QStringLiteral("text")).toString();
    l.station = o.value(QStringLiteral("station")).toString();
    l.outer = o.value(QStringLiteral("outer")).toString();
    l.written = QDateTime::fromString(o.value(QStringLiteral("written")).toString(), Qt::ISODate);
    const QJsonValue packs = o.value(QStringLiteral("packs"));
    if (l.text.isEmpty() || !l.written.isValid() || !packs.isDouble() || packs.toDouble() < 0 || packs.toDouble() > 1e6
        || !o.value(QStringLiteral("sscc")).isBool() || !o.value(QStringLiteral("reprint")).isBool())
        return std::nullopt;
    l.packs = packs.toInt();
    l.sscc = o.value(QStringLiteral("sscc")).toBool();
    l.reprint = o.value(QStringLiteral("reprint")).toBool();
    l.timeKnown = o.value(QStringLiteral("timeKnown")).toBool(true);
    const std::optional<QStringList> middles = list(o.value(QStringLiteral("middles")));
    const std::optional<QStringList> packList = list(o.value(QStringLiteral("packList")));
    if (!middles || !packList)
        return std::nullopt;
    l.middles = *middles;
    l.packList = *packList;
    if (o.contains(QStringLiteral("content"))) {
        const QJsonObject c = o.value(QStringLiteral("content")).toObject();
        Content content;
        QString *fields[] = {&content.gtin, &content.lot, &content.expiry};
        const char *keys[] = {"gtin", "lot", "expiry"};
        for (int i = 0; i < 3; ++i) {
            const QJsonValue v = c.value(QLatin1String(keys[i]));
            if (!v.isString() || v.toString().size() > kLongestText)
                return std::nullopt;
            *fields[i] = v.toString();
        }
        l.content = content;
    }
    return l;
}

} // namespace labels
