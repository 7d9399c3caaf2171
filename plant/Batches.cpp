#include "plant/Batches.h"

#include "core/Characters.h"
#include "core/Gs1Scan.h"
#include "core/RuntimeError.h"
#include "platform/Database.h"
#include "plant/PlantSchema.h"
#include "plant/RecordRefusals.h"

#include <QDate>
#include <QJsonDocument>
#include <QJsonObject>

namespace batches {

namespace {

const QString kSource = QStringLiteral("Batches");

[[noreturn]] void refuse(int number, const QString &why)
{
    throw RuntimeError(number, kSource, why, RuntimeError::Kind::Database);
}

// The columns a batch is read from, in Batch's order.
const QString kColumns = QStringLiteral(
    "b.batch, b.line, coalesce(b.gtin, ''), coalesce(b.lot, ''), coalesce(b.expiry, ''), coalesce(b.made, ''), b.planned,"
    " coalesce(b.per_middle, 0), coalesce(b.per_outer, 0), zantrel.batch_state(b.plant_id, b.batch),"
    " zantrel.batch_packed(b.plant_id, b.batch)");

Batch batchOf(const database::Row &r)
{
    Batch b;
    b.number = database::text(r, 0);
    b.line = database::text(r, 1);
    b.gtin = database::text(r, 2);
    b.lot = database::text(r, 3);
    b.expiry = database::text(r, 4);
    b.made = database::text(r, 5);
    b.planned = int32_t(database::number(r, 6));
    b.perMiddle = int16_t(database::number(r, 7));
    b.perOuter = int16_t(database::number(r, 8));
    b.state = batchstate::named(database::text(r, 9)).value_or(Batch::State::Released);
    b.packed = database::number(r, 10);
    return b;
}

std::vector<Batch> batchesOf(const std::vector<database::Row> &rows)
{
    std::vector<Batch> out;
    out.reserve(rows.size());
    for (const database::Row &r : rows)
        out.push_back(batchOf(r));
    return out;
}

void needVersion(database::Connection &db)
{
    plantschema::require(db, plantschema::kBatchVersion, QStringLiteral("批次"));
}

void needPlanner(database::Connection &db)
{
    const auto allowed = db.run(QStringLiteral("SELECT pg_has_role(session_user, 'zantrel_planner', 'MEMBER'), session_user"));
    if (allowed.empty() || !database::isTrue(allowed[0][0]))
        refuse(RuntimeError::DatabaseNotAllowed, QStringLiteral("登录 %1 不属于 zantrel_planner，不能修改批次")
                                                    .arg(allowed.empty() ? QString() : database::text(allowed[0], 1)));
}

// Why a text may not be a batch's number or line; "" when it may.
QString nameProblem(const QString &what, const QString &text)
{
    if (text.isEmpty() || characters::count(text) > 40)
        return QStringLiteral("%1须为 1 到 40 个字符").arg(what);
    for (const QChar c : text)
        if (c.isSpace() || c.category() == QChar::Other_Control)
            return QStringLiteral("%1中不能有空格或控制字符").arg(what);
    return {};
}

// The batch's GS1 values as GS1 reads them: a product with its check digit, a lot
// of GS1's characters, dates that are dates.
QString gs1Problem(const Batch &b)
{
    QString elements;
    const std::pair<const char *, const QString *> fields[] = {{"01", &b.gtin}, {"10", &b.lot}, {"17", &b.expiry}, {"11", &b.made}};
    for (const auto &[ai, value] : fields)
        if (!value->isEmpty())
            elements += QStringLiteral("(%1)%2").arg(QLatin1String(ai), *value);
    if (elements.isEmpty())
        return {};
    const gs1::ScanRead read = gs1::readScan(elements, QDate::currentDate(), gs1::Pairs::Unchecked);
    if (!read.read)
        return read.why;
    for (const auto &[ai, value] : fields)
        if (!value->isEmpty() && read.read->value(QLatin1String(ai)) != *value)
            return QStringLiteral("(%1)%2 无法作为单独的值").arg(QLatin1String(ai), *value); // it held another AI
    return {};
}

// The record's refusal in plain words, by its code; nothing for one this program does not know.
std::optional<QString> plainly(const QString &number, const RuntimeError &e)
{
    const QString &code = e.sqlState();
    const QJsonObject detail = QJsonDocument::fromJson(e.serverDetail().toUtf8()).object();
    if (code == refusal::kNoSuchBatch)
        return QStringLiteral("中央记录中没有批次 %1").arg(number);
    if (code == refusal::kNotSignedByAdmin)
        return QStringLiteral("中央记录有操作员：批次的修改须由班长或管理员用工号签名（--by 工号，并输入密码）");
    if (code == refusal::kBatchExists)
        return QStringLiteral("批次 %1 已存在").arg(number);
    if (code == refusal::kBatchBoxOpen)
        return QStringLiteral("批次 %1 不能结束：工位 %2 的外箱 %3 还未装完；请先在该工位按 F8 封箱")
            .arg(number, detail.value(QLatin1String("station")).toString(), detail.value(QLatin1String("box")).toString());
    if (code == refusal::kBatchMoveRefused) {
        const std::optional<Batch::State> from = batchstate::named(detail.value(QLatin1String("from")).toString());
        const std::optional<Change> change = named(detail.value(QLatin1String("change")).toString());
        static const QString kVerbs[] = {QStringLiteral("暂停"), QStringLiteral("恢复"), QStringLiteral("结束"), QStringLiteral("中止")};
        return QStringLiteral("批次 %1 %2，不能%3").arg(number, from ? batchstate::shown(*from) : QStringLiteral("状态未知"),
                                                      change ? kVerbs[int(*change)] : QStringLiteral("这样修改"));
    }
    return std::nullopt;
}

// A refusal of the server's, told in plain words where this program knows it.
[[noreturn]] void rethrow(const QString &number, const RuntimeError &e)
{
    if (e.number() == RuntimeError::DatabaseRefusedData) {
        if (const std::optional<QString> plain = plainly(number, e))
            throw RuntimeError(RuntimeError::ChangeRefused, kSource, *plain, RuntimeError::Kind::Database)
                .withServerCode(e.sqlState(), e.serverDetail());
        throw RuntimeError(RuntimeError::DatabaseRefusedData, kSource, QStringLiteral("中央记录拒绝了这个修改：%1").arg(e.description()),
                           RuntimeError::Kind::Database)
            .withServerCode(e.sqlState(), e.serverDetail());
    }
    throw e;
}

QString orNull(const QString &text)
{
    return text.isEmpty() ? QString() : text;
}

void checkPerson(const QString &person, const QString &reason = {})
{
    if (characters::holdsNul(person) || characters::holdsNul(reason))
        refuse(RuntimeError::ChangeRefused, QStringLiteral("姓名和原因中不能含有空字符（U+0000）"));
    if (person.trimmed().isEmpty() || characters::count(person) > 100)
        refuse(RuntimeError::ChangeRefused, QStringLiteral("请用 --by 写明修改人的姓名（至多 100 字）"));
    if (characters::count(reason) > 1000)
        refuse(RuntimeError::ChangeRefused, QStringLiteral("原因至多 1000 字"));
}

} // namespace

QString word(Change change)
{
    static const char *const kWords[] = {"hold", "resume", "close", "abort"};
    return QString::fromLatin1(kWords[int(change)]);
}

std::optional<Change> named(const QString &text)
{
    for (Change c : {Change::Hold, Change::Resume, Change::Close, Change::Abort})
        if (word(c) == text)
            return c;
    return std::nullopt;
}

void add(database::Connection &db, const Batch &b, const QString &person, const QString &signedBy)
{
    checkPerson(person);
    for (const QString *typed : {&b.number, &b.line, &b.gtin, &b.lot, &b.expiry, &b.made})
        if (characters::holdsNul(*typed))
            refuse(RuntimeError::ChangeRefused, QStringLiteral("批次的值中不能含有空字符（U+0000）"));
    if (const QString why = nameProblem(QStringLiteral("批次号"), b.number); !why.isEmpty())
        refuse(RuntimeError::ChangeRefused, why);
    if (const QString why = nameProblem(QStringLiteral("产线"), b.line); !why.isEmpty())
        refuse(RuntimeError::ChangeRefused, why);
    if (b.planned < 1)
        refuse(RuntimeError::ChangeRefused, QStringLiteral("计划数量须为正整数"));
    if ((b.perMiddle > 0) != (b.perOuter > 0) || b.perMiddle < 0 || b.perOuter < 0)
        refuse(RuntimeError::ChangeRefused, QStringLiteral("--per-middle 和 --per-outer 须同时给出，且为 1 到 32767 之间的整数"));
    if (const QString why = gs1Problem(b); !why.isEmpty())
        refuse(RuntimeError::ChangeRefused, QStringLiteral("批次的 GS1 值无效：%1").arg(why));
    needVersion(db);
    needPlanner(db);
    db.runScript(QStringLiteral("BEGIN; SET LOCAL ROLE zantrel_planner"));
    try {
        QStringList values{b.number, b.line, orNull(b.gtin), orNull(b.lot), orNull(b.expiry), orNull(b.made), QString::number(b.planned),
                           QString::number(b.perMiddle), QString::number(b.perOuter), person.trimmed()};
        const bool signable = plantschema::installedVersion(db) >= plantschema::kOperatorVersion;
        if (signable)
            values << orNull(signedBy);
        db.run(signable ? QStringLiteral("INSERT INTO zantrel.batches (batch, line, gtin, lot, expiry, made, planned, per_middle, per_outer,"
                                         " added_by, signed_by) VALUES ($1, $2, $3, $4, $5, $6, $7::integer, nullif($8, '0')::smallint,"
                                         " nullif($9, '0')::smallint, $10, $11)")
                        : QStringLiteral("INSERT INTO zantrel.batches (batch, line, gtin, lot, expiry, made, planned, per_middle, per_outer, added_by)"
                                         " VALUES ($1, $2, $3, $4, $5, $6, $7::integer, nullif($8, '0')::smallint, nullif($9, '0')::smallint, $10)"),
               values);
        db.runScript(QStringLiteral("COMMIT"));
    } catch (const RuntimeError &e) {
        database::rollBackAfterFailure(db);
        rethrow(b.number, e);
    }
}

Batch change(database::Connection &db, const QString &number, Change c, const QString &person, const QString &reason,
             const QString &signedBy)
{
    checkPerson(person, reason);
    if (characters::holdsNul(number))
        refuse(RuntimeError::ChangeRefused, QStringLiteral("批次号中不能含有空字符（U+0000）"));
    needVersion(db);
    needPlanner(db);
    db.runScript(QStringLiteral("BEGIN; SET LOCAL ROLE zantrel_planner"));
    try {
        QStringList values{number, word(c), person.trimmed(), reason.isNull() ? QStringLiteral("") : reason};
        const bool signable = plantschema::installedVersion(db) >= plantschema::kOperatorVersion;
        if (signable)
            values << orNull(signedBy);
        db.run(signable ? QStringLiteral("INSERT INTO zantrel.batch_states (batch, change, person, reason, signed_by) VALUES ($1, $2, $3, $4, $5)")
                        : QStringLiteral("INSERT INTO zantrel.batch_states (batch, change, person, reason) VALUES ($1, $2, $3, $4)"),
               values);
        db.runScript(QStringLiteral("COMMIT"));
    } catch (const RuntimeError &e) {
        database::rollBackAfterFailure(db);
        rethrow(number, e);
    }
    const std::optional<Batch> now = find(db, number);
    if (!now)
        refuse(RuntimeError::ChangeRefused, QStringLiteral("中央记录中没有批次 %1").arg(number));
    return *now;
}

std::vector<Batch> list(database::Connection &db, const QString &line)
{
    needVersion(db);
    return batchesOf(db.run(QStringLiteral("SELECT %1 FROM zantrel.batches b WHERE b.line = $1 OR $1 = '' ORDER BY b.batch").arg(kColumns),
                            {line.isNull() ? QStringLiteral("") : line}));
}

std::vector<Batch> startable(database::Connection &db, const QString &line, const QString &also)
{
    needVersion(db);
    return batchesOf(db.run(QStringLiteral("SELECT * FROM (SELECT %1 FROM zantrel.batches b WHERE b.line = $1 OR b.batch = $2) x"
                                           " WHERE x.batch_state IN ('released', 'running', 'held') OR x.batch = $2"
                                           " ORDER BY x.batch")
                                .arg(kColumns),
                            {line, also.isNull() ? QStringLiteral("") : also}));
}

std::optional<Batch> find(database::Connection &db, const QString &number)
{
    const auto rows = db.run(QStringLiteral("SELECT %1 FROM zantrel.batches b WHERE b.batch = $1").arg(kColumns), {number});
    if (rows.empty())
        return std::nullopt;
    return batchOf(rows[0]);
}

std::vector<BatchBox> boxesOf(database::Connection &db, const QString &number)
{
    needVersion(db);
    // A box nobody changed holds what it was packed with; only a changed one is counted pack by pack.
    const auto rows = db.run(QStringLiteral(
        "SELECT b.outer_label, zantrel.station_named(b.plant_id, b.station), to_char(b.written_at, 'YYYY-MM-DD HH24:MI:SS'),"
        "       CASE WHEN b.pack_count IS NOT NULL AND NOT EXISTS (SELECT FROM zantrel.box_changes c WHERE c.box_id = b.box_id)"
        "            THEN b.pack_count ELSE (SELECT count(*) FROM zantrel.packs_now n WHERE n.box_id = b.box_id) END,"
        "       coalesce(b.after_batch_end, false)"
        " FROM zantrel.boxes b WHERE b.batch = $1 ORDER BY b.written_at, b.outer_label"),
                             {number});
    std::vector<BatchBox> out;
    for (const database::Row &r : rows)
        out.push_back({database::text(r, 0), database::text(r, 1), database::text(r, 2), database::number(r, 3), database::isTrue(r[4])});
    return out;
}

QString lastOf(database::Connection &db, const QString &station)
{
    const auto rows = db.run(QStringLiteral("SELECT coalesce(batch, '') FROM zantrel.station_state WHERE station = $1"), {station});
    return rows.empty() ? QString() : database::text(rows[0], 0);
}

} // namespace batches
