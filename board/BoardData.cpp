#include "board/BoardData.h"

#include "core/Gs1Scan.h"
#include "plant/PlantSchema.h"
#include "plant/Operators.h"
#include "plant/Recall.h"

#include "company/CompanyRecord.h"
#include "core/RuntimeError.h"
#include "platform/Database.h"
#include "plant/PlantSchema.h"

namespace board {

namespace {

// The first version with pack counts and the supervisors' role.
constexpr int kBoardSchemaVersion = 3;

const QString kSource = QStringLiteral("Board");

} // namespace

BoardData::BoardData(QString url, int idleMinutes, int answerSeconds, QString writeUrl)
    : m_url(std::move(url)), m_idleMinutes(idleMinutes), m_answerSeconds(answerSeconds), m_writeUrl(std::move(writeUrl))
{
}

database::Connection &BoardData::writer()
{
    if (m_writeUrl.isEmpty())
        return db();
    if (!m_writer)
        m_writer = database::connect(m_writeUrl, m_answerSeconds, m_answerSeconds);
    return *m_writer;
}

BoardData::~BoardData() = default;

database::Connection &BoardData::db()
{
    if (m_db)
        return *m_db;
    std::unique_ptr<database::Connection> c = database::connect(m_url, m_answerSeconds, m_answerSeconds);
    const int installed = plantschema::installedVersion(*c);
    const bool companyRecord = company::isCompany(*c);
    if (installed < kBoardSchemaVersion)
        throw RuntimeError(RuntimeError::SchemaUnusable, kSource,
                           QStringLiteral("数据库中的 zantrel 架构是版本 %1，看板需要版本 %2：请管理员运行 zantrel-db init")
                               .arg(installed).arg(kBoardSchemaVersion), RuntimeError::Kind::Database);
    try {
        // Everything the board reads, it reads with the readers' rights only.
        c->runScript(QStringLiteral("SET ROLE zantrel_reader"));
        // The board's statements are short; compiling them costs more than it saves.
        c->runScript(QStringLiteral("SET jit = off"));
    } catch (const RuntimeError &e) {
        throw RuntimeError(RuntimeError::SchemaUnusable, kSource,
                           QStringLiteral("看板的数据库登录须属于 zantrel_reader（%1）").arg(e.description()), RuntimeError::Kind::Database);
    }
    // The login, not the reader's role it acts in, decides whether the page offers
    // decisions. A company's database only follows its plants: decisions and changes
    // are made on a plant's record.
    m_company = companyRecord;
    m_supervisor = false;
    m_rework = false;
    if (!m_company) {
        const auto supervisor = c->run(QStringLiteral("SELECT pg_has_role(session_user, 'zantrel_supervisor', 'MEMBER')"));
        m_supervisor = !supervisor.empty() && database::isTrue(supervisor[0][0]);
        const auto rework = c->run(QStringLiteral("SELECT pg_has_role(session_user, 'zantrel_rework', 'MEMBER')"
                                                  "   AND to_regclass('zantrel.box_changes') IS NOT NULL"));
        m_rework = !rework.empty() && database::isTrue(rework[0][0]);
    }
    m_schemaVersion = installed;
    m_db = std::move(c);
    return *m_db;
}

template <typename F>
auto BoardData::dropOnFailure(F &&f) -> decltype(f())
{
    try {
        return f();
    } catch (const RuntimeError &) {
        // The server ends what the connection left open; the next request connects again.
        m_db.reset();
        m_writer.reset();
        throw;
    }
}

template <typename F>
auto BoardData::readOnFreshOnFailure(F &&f) -> decltype(f())
{
    const bool kept = bool(m_db);
    try {
        return dropOnFailure(f);
    } catch (const RuntimeError &) {
        // A connection kept from before a server restart fails at its first use: a read
        // is tried once more on a fresh one, so the first request after a restart works.
        if (!kept)
            throw;
    }
    return dropOnFailure(f);
}

Snapshot BoardData::snapshot(qint64 localMidnight)
{
    return readOnFreshOnFailure([&] {
        database::Connection &c = db();
        Snapshot s = readSnapshot(c, {m_schemaVersion, m_company, m_idleMinutes}, localMidnight);
        s.supervisor = m_supervisor;
        s.rework = m_rework;
        return s;
    });
}

std::vector<packlocations::Location> BoardData::lookup(const QString &text)
{
    return readOnFreshOnFailure([&] {
        database::Connection &c = db();
        // "(01)…(10)…" without a serial: the boxes of that lot, as a recall lists them.
        const gs1::ScanRead read = gs1::readScan(text, QDate::currentDate());
        if (read.read && read.read->value(QStringLiteral("01")) && read.read->value(QStringLiteral("10"))
            && !read.read->value(QStringLiteral("21")) && plantschema::installedVersion(c) >= plantschema::kGs1Version) {
            std::vector<packlocations::Location> lot;
            for (const recall::Box &b : recall::boxesOf(c, *read.read->value(QStringLiteral("01")), *read.read->value(QStringLiteral("10"))))
                lot.push_back({QString(), 0, b.outerLabel, b.middles, read.read->humanReadable(), b.station, b.writtenAt, b.packs});
            return lot;
        }
        std::vector<packlocations::Location> found = packlocations::byBarcode(c, text);
        for (packlocations::Location &l : packlocations::byOuterLabel(c, text))
            if (l.barcode != text) // already there as the pack itself
                found.push_back(std::move(l));
        return found;
    });
}

DecisionResult BoardData::decide(const Decision &d)
{
    if (!isWhole(d))
        return DecisionResult::Invalid;
    return dropOnFailure([&] {
        db();
        if (m_company) // a company's database only follows its plants
            return DecisionResult::NotAllowed;
        if (d.signedBy.isEmpty() && operators::any(writer()))
            return DecisionResult::NotSigned;
        return recordDecision(writer(), d);
    });
}

OnDuty BoardData::logIn(const QString &id, const QString &password)
{
    // A login is written (its try is on record): on the writer's connection.
    return dropOnFailure([&] {
        db();
        database::Connection &w = writer();
        // In the supervisor's role, which may ask for one operator's verifier; the reader's may not.
        w.runScript(QStringLiteral("BEGIN; SET LOCAL ROLE zantrel_supervisor"));
        try {
            const operators::Operator who = operators::sign(w, id, password, {operators::Role::Supervisor, operators::Role::Qa},
                                                            QStringLiteral("board"));
            w.runScript(QStringLiteral("COMMIT"));
            return OnDuty{who.id, who.name, false};
        } catch (const RuntimeError &e) {
            // A refused login stays on record (it counts toward the lockout); anything else is undone.
            if (e.number() == RuntimeError::ChangeRefused)
                w.runScript(QStringLiteral("COMMIT"));
            else
                database::rollBackAfterFailure(w);
            throw;
        }
    });
}

bool BoardData::hasOperators()
{
    return readOnFreshOnFailure([&] { return !m_company && operators::any(db()); });
}

std::vector<HistoryEntry> BoardData::history(const QString &query)
{
    return readOnFreshOnFailure([&] {
        database::Connection &c = db(); // first: it learns the record's version
        return readHistory(c, m_schemaVersion, query);
    });
}

std::vector<batches::BatchBox> BoardData::batchBoxes(const QString &batch)
{
    return readOnFreshOnFailure([&] {
        database::Connection &c = db(); // first: it learns the record's version
        if (m_schemaVersion < plantschema::kBatchVersion)
            return std::vector<batches::BatchBox>{};
        return batches::boxesOf(c, batch);
    });
}

qint64 BoardData::rework(const rework::Change &change, const QString &signedBy)
{
    // A refused change (a pack not in that box) also drops the connection: the next one is fresh.
    return dropOnFailure([&] {
        db();
        if (m_company)
            throw RuntimeError(RuntimeError::DatabaseNotAllowed, kSource, QStringLiteral("公司汇总库只随各厂的记录变化"),
                               RuntimeError::Kind::Database);
        return rework::record(writer(), change, signedBy);
    });
}

} // namespace board
