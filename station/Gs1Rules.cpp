#include "station/Gs1Rules.h"

namespace gs1rules {

namespace {

const QString kGtin = QStringLiteral("01");
const QString kSerial = QStringLiteral("21");
const QString kLot = QStringLiteral("10");
const QString kExpiry = QStringLiteral("17");

// "(10)L24", or "无批号" for a box or pack without it.
QString shown(const QString &ai, const std::optional<QString> &value, const QString &none)
{
    return value ? QStringLiteral("(%1)%2").arg(ai, *value) : none;
}

QString differs(const QString &what, const QString &ai, const std::optional<QString> &box, const std::optional<QString> &pack,
                const QString &none)
{
    return QStringLiteral("%1与本箱不同！本箱 %2 此包 %3").arg(what, shown(ai, box, none), shown(ai, pack, none));
}

} // namespace

BoxKind kindOf(const Pack &pack)
{
    return {pack.value(kGtin).value_or(QString()), pack.value(kLot), pack.value(kExpiry)};
}

Pack listedPack(const QString &text, const QDate &day)
{
    if (!text.startsWith(QLatin1Char('(')))
        return Pack(text);
    const gs1::ScanRead read = gs1::readScan(text, day);
    if (!read.read || !read.read->value(kGtin) || !read.read->value(kSerial))
        return Pack(text);
    return Pack(read.read->elements, text);
}

bool isOtherKind(const QString &refusal)
{
    return refusal.startsWith(QStringLiteral("产品与本箱不同")) || refusal.startsWith(QStringLiteral("批号与本箱不同"))
           || refusal.startsWith(QStringLiteral("有效期与本箱不同"));
}

QString refusal(const Pack &pack, const std::optional<BoxKind> &box, const QDate &today, int shelfDays)
{
    if (!pack.value(kGtin))
        return QStringLiteral("缺少产品代码 (01)");
    if (!pack.value(kSerial))
        return QStringLiteral("缺少序列号 (21)");
    const BoxKind kind = kindOf(pack);
    if (box) {
        if (kind.gtin != box->gtin)
            return differs(QStringLiteral("产品"), kGtin, box->gtin, kind.gtin, QString());
        if (kind.lot != box->lot)
            return differs(QStringLiteral("批号"), kLot, box->lot, kind.lot, QStringLiteral("无批号"));
        if (kind.expiry != box->expiry)
            return differs(QStringLiteral("有效期"), kExpiry, box->expiry, kind.expiry, QStringLiteral("无有效期"));
    }
    if (kind.expiry) {
        const QDate expires = gs1::dateOf(*kind.expiry, today); // read already: a valid date
        if (expires < today)
            return QStringLiteral("已过期！\n有效期至 %1").arg(expires.toString(QStringLiteral("yyyy-MM-dd")));
        if (shelfDays > 0 && expires < today.addDays(shelfDays))
            return QStringLiteral("有效期不足 %1 天！\n有效期至 %2").arg(shelfDays).arg(expires.toString(QStringLiteral("yyyy-MM-dd")));
    }
    return {};
}

} // namespace gs1rules
