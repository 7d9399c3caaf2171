#include "plant/Rework.h"

#include "plant/PlantSchema.h"
#include "station/Gs1Rules.h"

#include "core/Characters.h"
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

QString word(Kind k)
{
    switch (k) {
    case Kind::TakeOut:
        return QStringLiteral("take-out");
    case Kind::PutIn:
        return QStringLiteral("put-in");
    case Kind::Void:
        return QStringLiteral("void");
    case Kind::Restore:
        break;
    }
    return QStringLiteral("restore");
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
    return std::nullopt;
}

} // namespace

QStringList reasons()
{
    return {QStringLiteral("抽样"), QStringLiteral("损坏更换"), QStringLiteral("重新装箱"), QStringLiteral("重复包裁定"), QStringLiteral("其他")};
}

std::optional<Kind> kindNamed(const QString &w)
{
    for (Kind k : {Kind::TakeOut, Kind::PutIn, Kind::Void, Kind::Restore})
        if (word(k) == w)
            return k;
    return std::nullopt;
}

qint64 record(database::Connection &db, const Change &c)
{
    const bool pack = c.kind == Kind::TakeOut || c.kind == Kind::PutIn;
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
        QStringList values{word(c.kind), box, c.barcode.isNull() ? QStringLiteral("") : c.barcode,
                           c.middle.isNull() ? QStringLiteral("") : c.middle, c.person.trimmed(), c.reason, c.note};
        // A GS1 pack, however it is written here, is the pack of that GTIN and serial.
        const bool gs1 = pack && plantschema::installedVersion(db) >= plantschema::kGs1Version;
        const Pack named = gs1 ? gs1rules::listedPack(c.barcode, QDate::currentDate()) : Pack(c.barcode);
        for (const char *ai : {"01", "21", "10", "17"})
            values << named.value(QLatin1String(ai)).value_or(QString());
        const auto id = db.run(gs1 ? QStringLiteral("INSERT INTO zantrel.box_changes (kind, box_id, barcode, middle_label, person, reason, note,"
                                                    " gtin, serial, lot, expiry)"
                                                    " VALUES ($1, $2::uuid, nullif($3, ''), nullif($4, ''), $5, $6, coalesce($7, ''),"
                                                    " $8, $9, $10, $11) RETURNING change_id")
                                   : QStringLiteral("INSERT INTO zantrel.box_changes (kind, box_id, barcode, middle_label, person, reason, note)"
                                                    " VALUES ($1, $2::uuid, nullif($3, ''), nullif($4, ''), $5, $6, coalesce($7, ''))"
                                                    " RETURNING change_id"),
                               gs1 ? values : values.mid(0, 7));
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
