#include "packing/Gs1Rules.h"

#include "core/Gs1Ais.h"

namespace gs1rules {

namespace {

using namespace gs1::ai;

// "(10)L24", or "无批号" for a box or pack without it.
QString shown(const QString &ai, const std::optional<QString> &value, const QString &none)
{
    return value ? QStringLiteral("(%1)%2").arg(ai, *value) : none;
}

PackRefusal differs(PackFault fault, const QString &ai, const std::optional<QString> &box, const std::optional<QString> &pack,
                    const QString &none = {})
{
    return {fault, {shown(ai, box, none), shown(ai, pack, none)}};
}

bool sameExpiry(const std::optional<QString> &a, const std::optional<QString> &b, const QDate &day)
{
    if (!a || !b)
        return a.has_value() == b.has_value();
    const QDate da = gs1::dateOf(*a, day), db = gs1::dateOf(*b, day);
    return da.isValid() && db.isValid() ? da == db : *a == *b;
}

} // namespace

BoxKind kindOf(const Pack &pack)
{
    return {pack.value(kGtin).value_or(QString()), pack.value(kLot), pack.value(kExpiry)};
}

std::optional<BoxKind> kindOfBox(const std::vector<BoxRow> &rows)
{
    for (const BoxRow &row : rows)
        if (row.kind == BoxRow::Pack && !row.fields.empty())
            return kindOf(row.pack());
    return std::nullopt;
}

bool sameKind(const BoxKind &a, const BoxKind &b, const QDate &day)
{
    return a.gtin == b.gtin && a.lot == b.lot && sameExpiry(a.expiry, b.expiry, day);
}

Pack listedPack(const QString &text, const QDate &day)
{
    if (!text.startsWith(QLatin1Char('(')) && !text.startsWith(QLatin1Char('[')))
        return Pack(text);
    // What the station wrote is read as written: its pairs were checked at the scan.
    const gs1::ScanRead read = gs1::readScan(text, day, gs1::Pairs::Unchecked);
    if (!read.read || !read.read->value(kGtin) || !read.read->value(kSerial))
        return Pack(text);
    return Pack(read.read->elements, text);
}

Pack packTyped(const QString &text, const QDate &day)
{
    // A lookup asks where a pack is, not whether it may be packed: its pairs go unchecked.
    const gs1::ScanRead read = gs1::readScan(text, day, gs1::Pairs::Unchecked);
    if (!read.read || !read.read->value(kGtin) || !read.read->value(kSerial))
        return Pack(text);
    return Pack(read.read->elements);
}

bool isOtherKind(PackFault fault)
{
    return fault == PackFault::OtherProduct || fault == PackFault::OtherLot || fault == PackFault::OtherExpiry;
}

PackRefusal checkBatch(const Pack &pack, const Batch &batch, const QDate &today)
{
    const BoxKind kind = kindOf(pack);
    const auto given = [](const QString &value) { return value.isEmpty() ? std::nullopt : std::optional<QString>(value); };
    if (!batch.gtin.isEmpty() && kind.gtin != batch.gtin)
        return differs(PackFault::BatchProduct, kGtin, batch.gtin, given(kind.gtin), QStringLiteral("无产品代码"));
    if (!batch.lot.isEmpty() && kind.lot != batch.lot)
        return differs(PackFault::BatchLot, kLot, batch.lot, kind.lot, QStringLiteral("无批号"));
    if (!batch.expiry.isEmpty() && !sameExpiry(kind.expiry, batch.expiry, today))
        return differs(PackFault::BatchExpiry, kExpiry, batch.expiry, kind.expiry, QStringLiteral("无有效期"));
    return {};
}

QString describe(const PackRefusal &r)
{
    const auto v = [&](int i) { return i < r.values.size() ? r.values[i] : QString(); };
    switch (r.fault) {
    case PackFault::None:
        return {};
    case PackFault::NoGtin:
        return QStringLiteral("缺少产品代码 (01)");
    case PackFault::NoSerial:
        return QStringLiteral("缺少序列号 (21)");
    case PackFault::OtherProduct:
        return QStringLiteral("产品与本箱不同！本箱 %1 此包 %2").arg(v(0), v(1));
    case PackFault::OtherLot:
        return QStringLiteral("批号与本箱不同！本箱 %1 此包 %2").arg(v(0), v(1));
    case PackFault::OtherExpiry:
        return QStringLiteral("有效期与本箱不同！本箱 %1 此包 %2").arg(v(0), v(1));
    case PackFault::Expired:
        return QStringLiteral("已过期！\n有效期至 %1").arg(v(0));
    case PackFault::ShelfLife:
        return QStringLiteral("有效期不足 %1 天！\n有效期至 %2").arg(v(0), v(1));
    case PackFault::BatchProduct:
        return QStringLiteral("不是本批次的产品！本批次 %1 此包 %2").arg(v(0), v(1));
    case PackFault::BatchLot:
        return QStringLiteral("不是本批次的批号！本批次 %1 此包 %2").arg(v(0), v(1));
    case PackFault::BatchExpiry:
        return QStringLiteral("不是本批次的有效期！本批次 %1 此包 %2").arg(v(0), v(1));
    }
    return {};
}

PackRefusal check(const Pack &pack, const std::optional<BoxKind> &box, const QDate &today, int shelfDays)
{
    if (!pack.value(kGtin))
        return {PackFault::NoGtin, {}};
    if (!pack.value(kSerial))
        return {PackFault::NoSerial, {}};
    const BoxKind kind = kindOf(pack);
    if (box) {
        if (kind.gtin != box->gtin)
            return differs(PackFault::OtherProduct, kGtin, box->gtin, kind.gtin);
        if (kind.lot != box->lot)
            return differs(PackFault::OtherLot, kLot, box->lot, kind.lot, QStringLiteral("无批号"));
        if (!sameExpiry(kind.expiry, box->expiry, today))
            return differs(PackFault::OtherExpiry, kExpiry, box->expiry, kind.expiry, QStringLiteral("无有效期"));
    }
    if (kind.expiry) {
        const QDate expires = gs1::dateOf(*kind.expiry, today); // read already: a valid date
        const QString shownDate = expires.toString(QStringLiteral("yyyy-MM-dd"));
        if (expires < today)
            return {PackFault::Expired, {shownDate}};
        if (shelfDays > 0 && expires < today.addDays(shelfDays))
            return {PackFault::ShelfLife, {QString::number(shelfDays), shownDate}};
    }
    return {};
}

QString refusal(const Pack &pack, const std::optional<BoxKind> &box, const QDate &today, int shelfDays)
{
    return describe(check(pack, box, today, shelfDays));
}

} // namespace gs1rules
