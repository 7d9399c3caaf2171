#include "plant/PlantSender.h"
#include "plant/RowKinds.h"

#include "core/RuntimeError.h"
#include "station/BoxLines.h"
#include "plant/PlantSchema.h"

#include <QFileInfo>
#include <QSet>

namespace {

// Rows per INSERT: four parameters each, well below the protocol's 65,535.
constexpr int kRowsPerStatement = 1000;
// Boxes read from the outbox and delivered before it is compacted.
constexpr size_t kBoxesPerRound = 1000;
// Boxes committed together: a backlog drains without a flush per box. Each box is
// still stored once, however often it comes.
constexpr size_t kBoxesPerTransaction = 50;

const QString kSchemaSource = QStringLiteral("PlantSchema");
// The schema version from which a box carries its number of packs.
constexpr int kPackCountVersion = 3;

QString conflictKey(const QString &boxId, const QString &barcode, const QString &earlierBox)
{
    return boxId + QLatin1Char(' ') + earlierBox + QLatin1Char(' ') + barcode;
}
// The version from which the station's state names the boxes the record refused.
constexpr int kRefusedVersion = 4;

std::function<void()> &stepHook()
{
    static std::function<void()> hook;
    return hook;
}

void step()
{
    if (stepHook())
        stepHook()();
}

} // namespace

PlantSender::PlantSender(QString url, QString station, Outbox &outbox, int answerSeconds, std::function<QDateTime()> clock)
    : m_url(std::move(url)), m_station(std::move(station)), m_clock(std::move(clock)), m_outbox(outbox),
      m_refused(QFileInfo(outbox.path()).absolutePath(), refusedFileName()), m_answerSeconds(answerSeconds)
{
}

PlantSender::~PlantSender() = default;

void PlantSender::setStepHookForTests(std::function<void()> hook)
{
    stepHook() = std::move(hook);
}

void PlantSender::connectIfNeeded()
{
    if (m_db)
        return;
    std::unique_ptr<database::Connection> db = database::connect(m_url, m_answerSeconds, m_answerSeconds);
    const int installed = plantschema::installedVersion(*db);
    if (installed == 0)
        throw RuntimeError(RuntimeError::SchemaUnusable, kSchemaSource,
                           QStringLiteral("数据库中没有 zantrel 架构，请管理员先运行 zantrel-db init"), RuntimeError::Kind::Database);
    if (installed > plantschema::knownVersion())
        throw RuntimeError(RuntimeError::SchemaUnusable, kSchemaSource,
                           QStringLiteral("数据库中的架构版本 %1 比本程序认识的版本 %2 新，请更新本程序")
                               .arg(installed).arg(plantschema::knownVersion()), RuntimeError::Kind::Database);
    if (m_answerSeconds > 0) {
        // What a lost client leaves open the server ends itself: a transaction left idle,
        // a lock or a statement waited for too long. Otherwise a connection the network
        // dropped mid-transaction would hold its locks, and every retry would wait behind them.
        db->runScript(QStringLiteral("SET statement_timeout = '%1s'; SET lock_timeout = '%1s';"
                                     " SET idle_in_transaction_session_timeout = '%2s'")
                          .arg(m_answerSeconds).arg(2 * m_answerSeconds));
    }
    m_schemaVersion = installed;
    m_db = std::move(db);
}

PlantSender::Report PlantSender::deliver(const QString &packing)
{
    Report report;
    // Round by round, so that a long backlog is never all in memory at once and
    // leaves the outbox as it goes.
    for (;;) {
        Outbox::Batch batch;
        try {
            batch = m_outbox.oldest(kBoxesPerRound);
        } catch (const RuntimeError &e) {
            report.why = e.description(); // told by the station once; nothing is sent from it
            report.outboxDamaged = true;
            return report;
        }
        report.backlog = batch.total;
        QSet<QUuid> delivered;
        try {
            connectIfNeeded();
            for (size_t first = 0; first < batch.entries.size(); first += kBoxesPerTransaction) {
                const size_t count = std::min(kBoxesPerTransaction, batch.entries.size() - first);
                std::vector<Conflict> found;
                std::vector<Refusal> refused;
                deliverAround(&batch.entries[first], count, found, refused);
                for (const Refusal &r : refused)
                    m_refused.add(r.box); // raises, keeping the box in the outbox, when it cannot
                report.conflicts.insert(report.conflicts.end(), found.begin(), found.end());
                for (size_t n = first; n < first + count; ++n)
                    delivered.insert(batch.entries[n].id);
            }
            report.refused = refusedLabels();
            report.clockSkew = reportState(batch.total - int(batch.entries.size()), packing, report.refused);
        } catch (const RuntimeError &e) {
            m_db.reset(); // connect afresh next time
            report.refused = refusedLabels();
            report.why = e.description();
            // Only a person can mend these: told once.
            report.schemaUnusable = e.number() == RuntimeError::SchemaUnusable || e.number() == RuntimeError::DatabaseNotAllowed;
            if (e.number() == RuntimeError::DatabaseNotAllowed)
                report.why = QStringLiteral("本站的登录不能写入站 %1 的记录（请管理员运行 zantrel-db station add %1 登录名）：%2")
                                 .arg(m_station, e.description());
        }
        if (!delivered.isEmpty()) {
            try {
                step();
                m_outbox.remove(delivered);
            } catch (const RuntimeError &e) {
                // They stay in the outbox and go again: the record stores each box once.
                report.why = e.description();
                return report;
            }
            report.backlog -= int(batch.entries.size());
            report.sent = int(delivered.size());
        }
        if (!report.why.isEmpty())
            return report;
        if (report.backlog <= 0) {
            report.backlog = 0;
            report.recorded = true;
            return report;
        }
    }
}

PlantSender::Levelled PlantSender::bringLevel(const std::vector<Outbox::Entry> &boxes)
{
    Levelled levelled;
    try {
        connectIfNeeded();
        QStringList workbooks;
        for (const Outbox::Entry &box : boxes)
            if (!workbooks.contains(box.workbook))
                workbooks << box.workbook;
        QSet<QString> recorded;
        for (const QString &workbook : std::as_const(workbooks))
            for (const database::Row &row : m_db->run(QStringLiteral("SELECT first_row FROM zantrel.boxes WHERE station = $1 AND workbook = $2"),
                                                      {m_station, workbook}))
                recorded.insert(Outbox::placeOf(workbook, row[0].value_or(QString()).toInt()));
        // Boxes set aside as refused are tried again by retryRefused(), not here.
        for (const Outbox::Entry &box : m_refused.pending())
            recorded.insert(box.place());
        std::vector<Outbox::Entry> missing;
        for (const Outbox::Entry &box : boxes)
            if (!recorded.contains(box.place()))
                missing.push_back(box);
        for (size_t first = 0; first < missing.size(); first += kBoxesPerTransaction) {
            const size_t count = std::min(kBoxesPerTransaction, missing.size() - first);
            std::vector<Conflict> found;
            std::vector<Refusal> refused;
            levelled.delivered += deliverAround(&missing[first], count, found, refused);
            levelled.conflicts.insert(levelled.conflicts.end(), found.begin(), found.end());
            for (const Refusal &r : refused)
                levelled.refused << r.named();
        }
    } catch (const RuntimeError &e) {
        m_db.reset(); // connect afresh next time
        levelled.why = e.description();
    }
    return levelled;
}

std::vector<PlantSender::Conflict> PlantSender::openConflicts()
{
    connectIfNeeded();
    if (m_schemaVersion < 2)
        return {};
    std::vector<Conflict> open;
    for (const database::Row &row : m_db->run(
             QStringLiteral("SELECT barcode, second_box, first_station, first_box, to_char(first_written, 'YYYY-MM-DD HH24:MI:SS'),"
                            " second_box_id, first_box_id FROM zantrel.conflicts WHERE second_station = $1 AND NOT settled"
                            " ORDER BY found_at, barcode"),
             {m_station})) {
        const QString barcode = row[0].value_or(QString());
        open.push_back({barcode, row[1].value_or(QString()), row[2].value_or(QString()), row[3].value_or(QString()),
                        row[4].value_or(QString()), conflictKey(row[5].value_or(QString()), barcode, row[6].value_or(QString()))});
    }
    return open;
}

int PlantSender::deliverAround(const Outbox::Entry *first, size_t count, std::vector<Conflict> &found,
                               std::vector<Refusal> &refused)
{
    try {
        return deliverBoxes(first, count, found);
    } catch (const RuntimeError &e) {
        if (e.number() != RuntimeError::DatabaseRefusedData)
            throw;
    }
    // Some box of these the server refuses for good: each alone, so that only that one stays out.
    int stored = 0;
    for (size_t n = 0; n < count; ++n) {
        try {
            stored += deliverBoxes(first + n, 1, found);
        } catch (const RuntimeError &e) {
            if (e.number() != RuntimeError::DatabaseRefusedData)
                throw;
            refused.push_back({first[n], e.description()});
        }
    }
    return stored;
}

PlantSender::Retried PlantSender::retryRefused()
{
    Retried retried;
    try {
        const std::vector<Outbox::Entry> waiting = m_refused.pending();
        if (waiting.empty())
            return retried;
        connectIfNeeded();
        QSet<QUuid> taken;
        for (const Outbox::Entry &box : waiting) {
            std::vector<Conflict> found;
            std::vector<Refusal> refused;
            retried.delivered += deliverAround(&box, 1, found, refused);
            retried.conflicts.insert(retried.conflicts.end(), found.begin(), found.end());
            if (refused.empty())
                taken.insert(box.id);
        }
        if (!taken.isEmpty())
            m_refused.remove(taken);
    } catch (const RuntimeError &e) {
        m_db.reset();
        retried.why = e.description();
    }
    return retried;
}

QStringList PlantSender::refusedLabels() const
{
    QStringList labels;
    try {
        for (const Outbox::Entry &box : m_refused.pending())
            labels << (box.rows.empty() ? QString() : box.rows.front().text);
    } catch (const RuntimeError &) {
        labels << m_refused.path(); // unreadable itself: named by its file
    }
    return labels;
}

QString PlantSender::Refusal::named() const
{
    return QStringLiteral("%1（%2 第 %3 行）：%4").arg(box.rows.empty() ? QString() : box.rows.front().text, box.workbook)
        .arg(box.firstRow).arg(why);
}

int PlantSender::deliverBoxes(const Outbox::Entry *first, size_t count, std::vector<Conflict> &found)
{
    step();
    m_db->runScript(QStringLiteral("BEGIN"));
    try {
        int stored = 0;
        for (size_t n = 0; n < count; ++n)
            stored += insertBox(first[n], found) ? 1 : 0;
        step();
        m_db->runScript(QStringLiteral("COMMIT"));
        return stored;
    } catch (const RuntimeError &) {
        found.clear(); // rolled back with the boxes
        database::rollBackAfterFailure(*m_db);
        throw;
    }
}

bool PlantSender::insertBox(const Outbox::Entry &e, std::vector<Conflict> &found)
{
    QString outer;
    int packs = 0;
    for (const BoxRow &row : e.rows) {
        if (row.kind == BoxRow::OuterLabel && outer.isEmpty())
            outer = row.text;
        packs += row.kind == BoxRow::Pack ? 1 : 0;
    }
    QStringList box{e.id.toString(QUuid::WithoutBraces), e.station, outer, e.workbook, QString::number(e.firstRow),
                    QString::number(e.rows.size()), boxlines::timeText(e.writtenAt)};
    // A database still at an older version has no pack count: the board then counts the rows.
    const bool counted = m_schemaVersion >= kPackCountVersion;
    if (counted)
        box << QString::number(packs);
    step();
    const auto inserted = m_db->run(
        counted ? QStringLiteral("INSERT INTO zantrel.boxes (box_id, station, outer_label, workbook, first_row, row_count, written_at,"
                                 " pack_count) VALUES ($1, $2, $3, $4, $5, $6, $7, $8) ON CONFLICT DO NOTHING RETURNING box_id")
                : QStringLiteral("INSERT INTO zantrel.boxes (box_id, station, outer_label, workbook, first_row, row_count, written_at)"
                                 " VALUES ($1, $2, $3, $4, $5, $6, $7) ON CONFLICT DO NOTHING RETURNING box_id"),
        box);
    if (!inserted.empty()) {
        // The rows go in batches; only placeholders are put together, never a value.
        QString middle;
        for (size_t first = 0; first < e.rows.size(); first += kRowsPerStatement) {
            const size_t last = std::min(e.rows.size(), first + kRowsPerStatement);
            QStringList values;
            QStringList parameters{e.id.toString(QUuid::WithoutBraces)};
            for (size_t r = first; r < last; ++r) {
                const BoxRow &row = e.rows[r];
                if (row.kind == BoxRow::MiddleLabel)
                    middle = row.text;
                const int at = int(parameters.size()) + 1;
                values << QStringLiteral("($1, $%1::integer, $%2::smallint, $%3, $%4)").arg(at).arg(at + 1).arg(at + 2).arg(at + 3);
                parameters << QString::number(r) << QString::number(int(row.kind)) << row.text
                           << (row.kind == BoxRow::Pack ? middle : QString());
            }
            step();
            m_db->run(QStringLiteral("INSERT INTO zantrel.box_rows (box_id, row_index, kind, text, middle_label) VALUES ")
                          + values.join(QStringLiteral(", ")),
                      parameters);
        }
        if (m_recordConflicts)
            recordConflictsOf(e.id.toString(QUuid::WithoutBraces), outer, found);
    }
    return !inserted.empty();
}

void PlantSender::recordConflictsOf(const QString &boxId, const QString &outer, std::vector<Conflict> &found)
{
    // One lock per pack, taken in one order by every station, held to the commit: a
    // box with the same pack delivered at the same moment waits, then sees this one.
    step();
    m_db->run(rowkind::named(QStringLiteral("SELECT pg_advisory_xact_lock(h) FROM (SELECT DISTINCT hashtextextended(text, 7401) AS h"
                                            " FROM zantrel.box_rows WHERE box_id = $1 AND kind = {pack} ORDER BY h) s")),
              {boxId});
    step();
    // Another box holds the pack: as packed, or, once boxes change, where it is now.
    // Where packs are now is a union the planner cannot join into: asked pack by pack
    // (OFFSET 0 keeps the subquery whole), or every pack of the record would be read.
    const QString elsewhere = m_schemaVersion >= plantschema::kReworkVersion
                                  ? QStringLiteral("CROSS JOIN LATERAL (SELECT n.box_id FROM zantrel.packs_now n WHERE n.barcode = r.text OFFSET 0) o")
                                  : QStringLiteral("JOIN zantrel.box_rows o ON o.kind = {pack} AND o.text = r.text");
    const auto rows = m_db->run(rowkind::named(
        QStringLiteral("WITH found AS (INSERT INTO zantrel.pack_conflicts (barcode, box_id, earlier_box)"
                       "   SELECT DISTINCT r.text, r.box_id, o.box_id FROM zantrel.box_rows r ")
            + elsewhere
            + QStringLiteral("   WHERE r.box_id = $1 AND r.kind = {pack} AND o.box_id <> r.box_id ON CONFLICT DO NOTHING RETURNING barcode, earlier_box)"
                       " SELECT f.barcode, b.station, b.outer_label, to_char(b.written_at, 'YYYY-MM-DD HH24:MI:SS'), f.earlier_box"
                       " FROM found f JOIN zantrel.boxes b ON b.box_id = f.earlier_box ORDER BY f.barcode, b.written_at")),
        {boxId});
    for (const database::Row &row : rows)
        found.push_back({row[0].value_or(QString()), outer, row[1].value_or(QString()), row[2].value_or(QString()),
                         row[3].value_or(QString()), conflictKey(boxId, row[0].value_or(QString()), row[4].value_or(QString()))});
}

int PlantSender::reportState(int backlog, const QString &packing, const QStringList &refused)
{
    const QStringList params{m_station, QString::number(backlog), packing.isNull() ? QStringLiteral("") : packing}; // "": not packing
    // This station's clock against the server's, at every report (the network's delay is
    // far below what matters here).
    const QString local = boxlines::timeText(m_clock());
    if (m_schemaVersion < kRefusedVersion) {
        m_db->run(QStringLiteral("INSERT INTO zantrel.station_state (station, heard_at, backlog, packing) VALUES ($1, now(), $2, $3)"
                                 " ON CONFLICT (station) DO UPDATE SET heard_at = now(), backlog = $2, packing = $3"),
                  params);
        const auto skew = m_db->run(QStringLiteral("SELECT round(extract(epoch FROM $1::timestamptz - statement_timestamp()))::integer"), {local});
        return skew[0][0].value_or(QString()).toInt();
    }
    // The boxes the record refused, named where a supervisor looks (a few, and how many in all).
    const QString named = refused.isEmpty() ? QString()
                                            : QStringLiteral("%1 箱：%2").arg(refused.size()).arg(refused.mid(0, 5).join(QStringLiteral("，")).left(200));
    const auto skew = m_db->run(
        QStringLiteral("INSERT INTO zantrel.station_state (station, heard_at, backlog, packing, refused, clock_skew)"
                       " VALUES ($1, now(), $2, $3, $4, round(extract(epoch FROM $5::timestamptz - statement_timestamp())))"
                       " ON CONFLICT (station) DO UPDATE SET heard_at = now(), backlog = $2, packing = $3, refused = $4,"
                       " clock_skew = excluded.clock_skew RETURNING clock_skew"),
        params + QStringList{named.isNull() ? QStringLiteral("") : named, local});
    return skew.empty() ? 0 : skew[0][0].value_or(QString()).toInt();
}
