#include "plant/PlantSender.h"
#include "plant/BoxInsert.h"
#include "plant/DeliverySteps.h"
#include "plant/StationReport.h"

#include "core/RuntimeError.h"
#include "plant/PlantSchema.h"

#include <QFileInfo>
#include <QSet>

namespace {

// Boxes read from the outbox and delivered before it is compacted.
constexpr size_t kBoxesPerRound = 1000;
// Boxes committed together: a backlog drains without a flush per box. Each box is
// still stored once, however often it comes.
constexpr size_t kBoxesPerTransaction = 50;
// Rows of boxes inserted by one statement, at most (a larger box alone).
constexpr size_t kRowsTogether = 5000;

const QString kSchemaSource = QStringLiteral("PlantSchema");

using deliverysteps::step;

} // namespace

PlantSender::PlantSender(QString url, QString station, Outbox &outbox, int answerSeconds, std::function<QDateTime()> clock,
                         const database::Interrupt *interrupt)
    : m_url(std::move(url)), m_station(std::move(station)), m_clock(std::move(clock)), m_outbox(outbox),
      m_refused(QFileInfo(outbox.path()).absolutePath(), refusedFileName()), m_answerSeconds(answerSeconds),
      m_interrupt(interrupt)
{
}

PlantSender::~PlantSender() = default;


void PlantSender::connectIfNeeded()
{
    if (m_db)
        return;
    std::unique_ptr<database::Connection> db = database::connect(m_url, m_answerSeconds, m_answerSeconds, m_interrupt);
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

PlantSender::Report PlantSender::deliver(const OpenBoxReport &packing)
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
            report.clockSkew = stationreport::reportState(
                *m_db, m_schemaVersion, {m_station, batch.total - int(batch.entries.size()), packing, report.refused, m_clock()});
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
    return packconflicts::openOf(*m_db, m_schemaVersion, m_station);
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
        const int stored = m_schemaVersion >= plantschema::kGs1Version ? insertTogether(first, count, found)
                                                                       : insertOneByOne(first, count, found);
        step();
        m_db->runScript(QStringLiteral("COMMIT"));
        return stored;
    } catch (const RuntimeError &) {
        found.clear(); // rolled back with the boxes
        database::rollBackAfterFailure(*m_db);
        throw;
    }
}

// Every delivery holds its packs' locks and records its conflicts, whatever the
// station's settings: a put-in of one of them waits for the commit and is then
// refused, and a pack two offline stations both packed is on the board.
int PlantSender::insertTogether(const Outbox::Entry *first, size_t count, std::vector<Conflict> &found)
{
    // A statement's arrays stay small whatever the boxes' sizes: boxes go together up
    // to this many rows (a larger box alone). Boxes of a later group see the earlier
    // groups' rows in the record, as one by one.
    int stored = 0;
    for (size_t from = 0; from < count;) {
        size_t to = from + 1;
        for (size_t rows = first[from].rows.size(); to < count && rows + first[to].rows.size() <= kRowsTogether; ++to)
            rows += first[to].rows.size();
        stored += insertGroup(first + from, to - from, found);
        from = to;
    }
    return stored;
}

int PlantSender::insertGroup(const Outbox::Entry *first, size_t count, std::vector<Conflict> &found)
{
    // The boxes, their packs' locks, where else their packs are, their rows, their
    // conflicts: a statement each for all the group's boxes.
    const std::vector<boxinsert::Stored> stored = boxinsert::insertBoxes(*m_db, m_schemaVersion, first, count);
    if (stored.empty())
        return 0;
    packconflicts::Packs packs;
    QStringList ids, outers;
    for (const boxinsert::Stored &s : stored) {
        ids << s.entry->id.toString(QUuid::WithoutBraces);
        outers << s.outer;
        packconflicts::addPacksOf(packs, ids.back(), s.entry->rows);
    }
    packconflicts::lockPacks(*m_db, m_schemaVersion, packs);
    const std::vector<packconflicts::Elsewhere> elsewhere = packconflicts::heldElsewhere(*m_db, packs);
    boxinsert::insertRows(*m_db, m_schemaVersion, stored);
    packconflicts::record(*m_db, elsewhere, ids, outers, found);
    return int(stored.size());
}

// A record before the GS1 version: box by box, its rows stored before its packs are
// looked for.
int PlantSender::insertOneByOne(const Outbox::Entry *first, size_t count, std::vector<Conflict> &found)
{
    int stored = 0;
    for (size_t n = 0; n < count; ++n) {
        const Outbox::Entry &e = first[n];
        const std::optional<QString> outer = boxinsert::insertBox(*m_db, m_schemaVersion, e);
        if (!outer)
            continue;
        const QString id = e.id.toString(QUuid::WithoutBraces);
        boxinsert::insertRows(*m_db, m_schemaVersion, {{&e, *outer}});
        packconflicts::Packs packs;
        packconflicts::addPacksOf(packs, id, e.rows);
        packconflicts::lockPacks(*m_db, m_schemaVersion, packs);
        packconflicts::recordOf(*m_db, m_schemaVersion, id, *outer, found);
        ++stored;
    }
    return stored;
}
