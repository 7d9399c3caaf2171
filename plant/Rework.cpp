#include "plant/Rework.h"

#include "plant/PlantSchema.h"
#include "packing/Gs1Rules.h"

#include "core/Characters.h"
#include "core/Gs1Ais.h"
#include "core/RuntimeError.h"
#include "platform/Database.h"
#include "plant/RecordRefusals.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QUuid>
#include <optional>

namespace rework {

namespace {

const QString kSource = QStringLiteral("Rework");

[[noreturn]] void refuse(int number, const QString &why)
{
    throw RuntimeError(number, kSource, why, RuntimeError::Kind::Database);
}

// The box the change names: by id, or by its outer label (and station).
QString boxOf(database::Connection &db, const Change &c)
{
    if (!QUuid::fromString(c.box).isNull())
        return QUuid::fromString(c.box).toString(QUuid::WithoutBraces);
    const auto rows = db.run(QStringLiteral("SELECT box_id, station, to_char(written_at, 'YYYY-MM-DD HH24:MI') FROM zantrel.boxes"
                                            " WHERE outer_label = $1 AND (station = $2 OR $2 = '') ORDER BY written_at"),
                             {c.box, c.station.isNull() ? QStringLiteral("") : c.station});
    if (rows.empty())
        refuse(RuntimeError::ChangeRefused, QStringLiteral("中央记录中没有外箱 %1").arg(c.box));
    if (rows.size() > 1) {
        QStringList where;
        for (const database::Row &r : rows)
            where << QStringLiteral("%1（%2，箱号 %3）").arg(r[1].value_or(QString()), r[2].value_or(QString()), r[0].value_or(QString()));
        refuse(RuntimeError::ChangeRefused, QStringLiteral("外箱 %1 有 %2 个：%3；请用 --station 或箱号指明")
                                                     .arg(c.box).arg(rows.size()).arg(where.join(QStringLiteral("、"))));
    }
    return rows[0][0].value_or(QString());
}

// The record's refusal of a change that does not fit, in the operator's words, told
// by its code; nothing for a refusal this program does not know (told with the
// server's words).
std::optional<QString> plainly(const Change &c, const RuntimeError &e)
{
    const QString &code = e.sqlState();
    if (code == refusal::kRestoreWouldDouble) {
        const QJsonObject where = QJsonDocument::fromJson(e.serverDetail().toUtf8()).object();
        return QStringLiteral("外箱 %1 不能恢复：其中的内包 %2 现在在 %3 的外箱 %4 中；请先从那里取出")
            .arg(c.box, where.value(QLatin1String("pack")).toString(), where.value(QLatin1String("station")).toString(),
                 where.value(QLatin1String("box")).toString());
    }
    if (code == refusal::kNotThatDecision)
        return QStringLiteral("这个修改与所引用的裁定无关");
    if (code == refusal::kPackNotInBox)
        return QStringLiteral("内包 %1 现在不在外箱 %2 中").arg(c.barcode, c.box);
    if (code == refusal::kPackInABox)
        return QStringLiteral("内包 %1 现在在某一箱中：请先取出").arg(c.barcode);
    if (code == refusal::kVoidAlready)
        return QStringLiteral("外箱 %1 已作废").arg(c.box);
    if (code == refusal::kPutIntoVoidBox)
        return QStringLiteral("外箱 %1 已作废，不能放入").arg(c.box);
    if (code == refusal::kNotVoid)
        return QStringLiteral("外箱 %1 未作废，无需恢复").arg(c.box);
    if (code == refusal::kNotAGs1Pack)
        return QStringLiteral("外箱 %1 装的是 GS1 内包：%2 不是带产品代码和序列号的 GS1 条码").arg(c.box, c.barcode);
    if (code == refusal::kOtherKindThanTheBox)
        return QStringLiteral("内包 %1 的产品或批号与外箱 %2 不同").arg(c.barcode, c.box);
    if (code == refusal::kNotSignedByAdmin)
        return QStringLiteral("中央记录有操作员：修改须由班长或质量用工号签名（--by 工号，并输入密码）");
    if (code == refusal::kNoSuchMiddleBox)
        return QStringLiteral("%1 不是外箱 %2 的中箱；新的中箱请加 --new-middle").arg(c.middle, c.box);
    return std::nullopt;
}

[[noreturn]] void refuseWithCode(QLatin1StringView code, const QString &why)
{
    throw RuntimeError(RuntimeError::ChangeRefused, kSource, why, RuntimeError::Kind::Database).withServerCode(QString(code), {});
}

// A GS1 box's kind as the record holds it: its product and lot, and its first GS1
// pack's expiry; nothing for a box of packs without GS1 fields.
std::optional<gs1rules::BoxKind> kindOfRecordedBox(database::Connection &db, const QString &box)
{
    const auto rows = db.run(QStringLiteral("SELECT b.gtin, b.lot, (SELECT r.expiry FROM zantrel.box_rows r"
                                            "  WHERE r.box_id = b.box_id AND r.gtin IS NOT NULL ORDER BY r.row_index LIMIT 1)"
                                            " FROM zantrel.boxes b WHERE b.box_id = $1::uuid AND b.gtin IS NOT NULL"),
                             {box});
    if (rows.empty())
        return std::nullopt;
    return gs1rules::BoxKind{rows[0][0].value_or(QString()), rows[0][1], rows[0][2]};
}

// A pack typed without its lot or expiry has those it was packed with, where the record
// has packed it.
Pack withRecordedLotAndExpiry(database::Connection &db, const Pack &typed)
{
    using namespace gs1::ai;
    if (!typed.value(kGtin) || !typed.value(kSerial) || (typed.value(kLot) && typed.value(kExpiry)))
        return typed;
    const auto rows = db.run(QStringLiteral("SELECT lot, expiry FROM zantrel.box_rows WHERE gtin = $1 AND serial = $2"
                                            " ORDER BY box_id, row_index LIMIT 1"),
                             {*typed.value(kGtin), *typed.value(kSerial)});
    if (rows.empty())
        return typed;
    std::vector<gs1::Element> fields = typed.fields();
    if (!typed.value(kLot) && rows[0][0])
        fields.push_back({kLot, *rows[0][0]});
    if (!typed.value(kExpiry) && rows[0][1])
        fields.push_back({kExpiry, *rows[0][1]});
    return Pack(fields);
}

// The pack as a station reads the text typed: a GS1 pack by the fields of its element
// string in any form a scanner sends or a person types; else the pack of that text.
// A put-in into a GS1 box must be what the station would put there.
Pack packNamed(database::Connection &db, const Change &c, const QString &box)
{
    const QDate today = QDate::currentDate();
    const gs1::ScanRead read = gs1::readScan(c.barcode, today);
    const bool gs1Pack = read.read && read.read->value(gs1::ai::kGtin) && read.read->value(gs1::ai::kSerial);
    const std::optional<gs1rules::BoxKind> kind = c.kind == Kind::PutIn ? kindOfRecordedBox(db, box) : std::nullopt;
    if (!kind)
        return gs1Pack ? gs1rules::packOf(*read.read) : gs1rules::listedPack(c.barcode, today);
    if (!read.read)
        refuseWithCode(refusal::kNotAGs1Pack, read.why);
    const Pack pack = withRecordedLotAndExpiry(db, gs1rules::packOf(*read.read));
    // An expired pack is the station's to refuse at packing; rework puts back what was packed.
    const gs1rules::PackRefusal why = gs1rules::check(pack, kind, today, 0);
    if (why.fault == gs1rules::PackFault::NoGtin || why.fault == gs1rules::PackFault::NoSerial)
        refuseWithCode(refusal::kNotAGs1Pack, gs1rules::describe(why));
    if (gs1rules::isOtherKind(why.fault))
        refuseWithCode(refusal::kOtherKindThanTheBox, gs1rules::describe(why));
    return pack;
}

} // namespace

QStringList reasons()
{
    return {QStringLiteral("抽样"), QStringLiteral("损坏更换"), QStringLiteral("重新装箱"), QStringLiteral("重复包裁定"), QStringLiteral("其他")};
}

qint64 record(database::Connection &db, const Change &c, const QString &signedBy)
{
    const bool pack = changekind::ofOnePack(c.kind);
    for (const QString *typed : {&c.box, &c.station, &c.barcode, &c.middle, &c.person, &c.note})
        if (characters::holdsNul(*typed)) // the server would be sent the text up to it: refused, never cut short
            refuse(RuntimeError::ChangeRefused, QStringLiteral("外箱号、条码、姓名和说明中不能含有空字符（U+0000）"));
    if (c.person.trimmed().isEmpty() || characters::count(c.person) > 100)
        refuse(RuntimeError::ChangeRefused, QStringLiteral("请写明修改人的姓名（至多 100 字）"));
    if (!reasons().contains(c.reason))
        refuse(RuntimeError::ChangeRefused, QStringLiteral("原因须为 %1 之一").arg(reasons().join(QStringLiteral(" / "))));
    if (characters::count(c.note) > 1000)
        refuse(RuntimeError::ChangeRefused, QStringLiteral("说明至多 1000 字"));
    if (pack == c.barcode.isEmpty())
        refuse(RuntimeError::ChangeRefused, pack ? QStringLiteral("请写明内包条码") : QStringLiteral("作废或恢复整箱时不写内包条码"));
    const auto allowed = db.run(QStringLiteral("SELECT pg_has_role(session_user, 'zantrel_rework', 'MEMBER'), session_user"));
    if (allowed.empty() || !database::isTrue(allowed[0][0]))
        refuse(RuntimeError::DatabaseNotAllowed, QStringLiteral("登录 %1 不属于 zantrel_rework，不能修改记录")
                                                    .arg(allowed.empty() ? QString() : allowed[0][1].value_or(QString())));
    db.runScript(QStringLiteral("BEGIN; SET LOCAL ROLE zantrel_rework"));
    try {
        const QString box = boxOf(db, c);
        // A GS1 pack, however it is written here, is the pack of that GTIN and serial,
        // recorded with the text a station lists it by.
        const bool gs1 = pack && plantschema::installedVersion(db) >= plantschema::kGs1Version;
        const Pack named = gs1 ? packNamed(db, c, box) : Pack(c.barcode);
        const QString barcode = named.isGs1() ? named.text() : c.barcode;
        if (c.newMiddle) {
            if (c.middle.isEmpty())
                refuse(RuntimeError::ChangeRefused, QStringLiteral("--new-middle 须与 --middle 同用"));
            db.run(QStringLiteral("SELECT set_config('zantrel.new_middle', $1, true)"), {c.middle});
        }
        QStringList values{changekind::word(c.kind), box, barcode.isNull() ? QStringLiteral("") : barcode,
                           c.middle.isNull() ? QStringLiteral("") : c.middle, c.person.trimmed(), c.reason, c.note};
        for (const QString &ai : {gs1::ai::kGtin, gs1::ai::kSerial, gs1::ai::kLot, gs1::ai::kExpiry})
            values << named.value(ai).value_or(QString());
        const bool signable = plantschema::installedVersion(db) >= plantschema::kOperatorVersion;
        if (signable && pack && gs1)
            values << signedBy;
        const auto id = db.run(signable && pack && gs1
                                   ? QStringLiteral("INSERT INTO zantrel.box_changes (kind, box_id, barcode, middle_label, person, reason, note,"
                                                    " gtin, serial, lot, expiry, signed_by)"
                                                    " VALUES ($1, $2::uuid, nullif($3, ''), nullif($4, ''), $5, $6, coalesce($7, ''),"
                                                    " $8, $9, $10, $11, nullif($12, '')) RETURNING change_id")
                               : signable
                                   ? QStringLiteral("INSERT INTO zantrel.box_changes (kind, box_id, barcode, middle_label, person, reason, note, signed_by)"
                                                    " VALUES ($1, $2::uuid, nullif($3, ''), nullif($4, ''), $5, $6, coalesce($7, ''), nullif($8, ''))"
                                                    " RETURNING change_id")
                               : gs1 ? QStringLiteral("INSERT INTO zantrel.box_changes (kind, box_id, barcode, middle_label, person, reason, note,"
                                                    " gtin, serial, lot, expiry)"
                                                    " VALUES ($1, $2::uuid, nullif($3, ''), nullif($4, ''), $5, $6, coalesce($7, ''),"
                                                    " $8, $9, $10, $11) RETURNING change_id")
                                   : QStringLiteral("INSERT INTO zantrel.box_changes (kind, box_id, barcode, middle_label, person, reason, note)"
                                                    " VALUES ($1, $2::uuid, nullif($3, ''), nullif($4, ''), $5, $6, coalesce($7, ''))"
                                                    " RETURNING change_id"),
                               signable && pack && gs1 ? values
                               : signable             ? values.mid(0, 7) << signedBy
                               : gs1                  ? values
                                                      : values.mid(0, 7));
        db.runScript(QStringLiteral("COMMIT"));
        return id.at(0)[0].value_or(QStringLiteral("0")).toLongLong();
    } catch (const RuntimeError &e) {
        database::rollBackAfterFailure(db);
        if (e.number() == RuntimeError::DatabaseRefusedData) {
            // Told in plain words, the server's code kept for whoever decides on it.
            if (const std::optional<QString> plain = plainly(c, e))
                throw RuntimeError(RuntimeError::ChangeRefused, kSource, *plain, RuntimeError::Kind::Database)
                    .withServerCode(e.sqlState(), e.serverDetail());
            throw RuntimeError(RuntimeError::DatabaseRefusedData, kSource, QStringLiteral("中央记录拒绝了这个修改：%1").arg(e.description()),
                               RuntimeError::Kind::Database)
                .withServerCode(e.sqlState(), e.serverDetail());
        }
        throw;
    }
}

} // namespace rework
