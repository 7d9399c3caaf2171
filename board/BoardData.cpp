#include "board/BoardData.h"

#include "plant/RowKinds.h"

#include "company/CompanyRecord.h"
#include "core/Characters.h"
#include "core/RuntimeError.h"
#include "platform/Database.h"
#include "plant/PlantSchema.h"

#include <QUuid>
#include <algorithm>
#include <map>

namespace board {

namespace {

// The first version with pack counts and the supervisors' role.
constexpr int kBoardSchemaVersion = 3;
// From this version stations report how far their clock is from the server's.
constexpr int kClockSchemaVersion = 4;
constexpr qint64 kNotHeardAfterSeconds = 120;

const QString kSource = QStringLiteral("Board");

QString text(const database::Row &r, size_t i)
{
    return r[i].value_or(QString());
}

qint64 number(const database::Row &r, size_t i, qint64 none = 0)
{
    return r[i] ? r[i]->toLongLong() : none;
}

// Seconds since then; -1 for never. A station clock ahead of the server's counts as just now.
qint64 age(const database::Row &r, size_t i)
{
    return r[i] ? std::max<qint64>(0, r[i]->toLongLong()) : -1;
}

bool isUuid(const QString &s)
{
    return !QUuid::fromString(s).isNull();
}

bool isDecisionId(const QString &s)
{
    bool ok = false;
    return s.size() <= 18 && s.toLongLong(&ok) > 0 && ok;
}

} // namespace

StationState stateOf(qint64 secondsSinceBox, qint64 secondsSinceHeard, int idleMinutes)
{
    if (secondsSinceHeard < 0 || secondsSinceHeard > kNotHeardAfterSeconds)
        return StationState::NotHeard;
    if (secondsSinceBox < 0 || secondsSinceBox > qint64(idleMinutes) * 60)
        return StationState::Idle;
    return StationState::Writing;
}

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
        const QStringList day{QString::number(localMidnight)};
        Snapshot s;
        s.midnight = localMidnight;
        s.supervisor = m_supervisor;
        s.rework = m_rework;
        s.company = m_company;
        // A station is known by its name in a plant's record, by its plant and name in a
        // company's (%1 the key, %2 its plant's name, %3/%4 the key matching another table's).
        const QString key = m_company ? QStringLiteral("plant_id, station") : QStringLiteral("station");
        const QString plant = m_company ? QStringLiteral("zantrel.plant_name(n.plant_id)") : QStringLiteral("''");
        const auto same = [&](const QString &a) {
            return m_company ? QStringLiteral("(%1.plant_id, %1.station) = (n.plant_id, n.station)").arg(a)
                             : QStringLiteral("%1.station = n.station").arg(a);
        };
        // One view of the record for the whole page.
        c.runScript(QStringLiteral("BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY"));
        const auto stations = c.run(QStringLiteral(
            "WITH names AS (SELECT %2 FROM zantrel.station_state"
            "               UNION SELECT %2 FROM zantrel.boxes WHERE written_at >= to_timestamp($1))"
            " SELECT n.station, l.outer_label, extract(epoch FROM l.written_at)::bigint,"
            "        extract(epoch FROM now() - l.written_at)::bigint, extract(epoch FROM s.heard_at)::bigint,"
            "        extract(epoch FROM now() - s.heard_at)::bigint, s.backlog, s.packing, %1, %3"
            " FROM names n"
            " LEFT JOIN LATERAL (SELECT outer_label, written_at FROM zantrel.boxes b WHERE %4"
            "                    ORDER BY written_at DESC LIMIT 1) l ON true"
            " LEFT JOIN zantrel.station_state s ON %5"
            " ORDER BY 10, 1")
                                      .arg(m_schemaVersion >= kClockSchemaVersion ? QStringLiteral("s.clock_skew") : QStringLiteral("NULL"),
                                           key, plant, same(QStringLiteral("b")), same(QStringLiteral("s"))),
            day);
        // Boxes with their pack count are read from an index alone; those recorded
        // before boxes carried it are counted row by row.
        const auto hours = c.run(rowkind::named(QStringLiteral(
            "SELECT %2, station, floor((extract(epoch FROM written_at) - $1) / 3600)::int AS hour, count(*), sum(packs)"
            " FROM (SELECT %1, written_at, pack_count AS packs FROM zantrel.boxes"
            "       WHERE written_at >= to_timestamp($1) AND written_at < to_timestamp($1) + interval '25 hours'"
            "         AND pack_count IS NOT NULL"
            "       UNION ALL"
            "       SELECT %1, written_at, (SELECT count(*) FROM zantrel.box_rows r WHERE r.box_id = b.box_id AND r.kind = {pack})"
            "       FROM zantrel.boxes b"
            "       WHERE written_at >= to_timestamp($1) AND written_at < to_timestamp($1) + interval '25 hours'"
            "         AND pack_count IS NULL) n"
            " GROUP BY %1, 3 ORDER BY 1, 2, 3")
                                                    .arg(key, plant)),
            day);
        const auto conflicts = c.run(QStringLiteral(
            "SELECT barcode, first_station, first_box, first_box_id, extract(epoch FROM first_written)::bigint,"
            "       second_station, second_box, second_box_id, extract(epoch FROM second_written)::bigint,"
            "       settled, keep_in, decided_by, reason, extract(epoch FROM decided_at)::bigint,"
            "       count(*) FILTER (WHERE NOT settled) OVER (),"
            "       CASE WHEN settled THEN (SELECT x.decision_id FROM zantrel.conflict_decisions x"
            "            WHERE x.box_id = k.second_box_id AND x.barcode = k.barcode AND x.earlier_box = k.first_box_id"
            "            ORDER BY x.decided_at DESC, x.decision_id DESC LIMIT 1) END"
            " FROM zantrel.conflicts k WHERE NOT settled OR decided_at >= to_timestamp($1)"
            " ORDER BY settled, found_at DESC, barcode LIMIT %1").arg(kListedConflicts),
            day);
        c.runScript(QStringLiteral("COMMIT"));

        // A company's station is shown with its plant, on the page and in the chart.
        const auto shown = [&](const QString &plantName, const QString &station) {
            return plantName.isEmpty() ? station : plantName + QStringLiteral(" / ") + station;
        };
        std::map<QString, std::vector<HourCount>> byStation;
        for (const database::Row &r : hours)
            byStation[shown(text(r, 0), text(r, 1))].push_back({int(number(r, 2)), int(number(r, 3)), number(r, 4)});
        for (const database::Row &r : stations) {
            Station st;
            st.plant = text(r, 9);
            st.name = shown(st.plant, text(r, 0));
            st.lastBox = text(r, 1);
            st.lastBoxAt = number(r, 2);
            st.secondsSinceBox = age(r, 3);
            st.heardAt = number(r, 4);
            st.secondsSinceHeard = age(r, 5);
            st.backlog = int(number(r, 6, -1));
            st.packing = text(r, 7);
            if (r[8])
                st.clockSkew = int(number(r, 8));
            st.state = stateOf(st.secondsSinceBox, st.secondsSinceHeard, m_idleMinutes);
            st.hours = std::move(byStation[st.name]);
            for (const HourCount &h : st.hours) {
                st.boxesToday += h.boxes;
                st.packsToday += h.packs;
            }
            s.stations.push_back(std::move(st));
        }
        for (const database::Row &r : conflicts) {
            Conflict k;
            k.barcode = text(r, 0);
            k.firstStation = text(r, 1);
            k.firstBox = text(r, 2);
            k.firstBoxId = text(r, 3);
            k.firstWritten = number(r, 4);
            k.secondStation = text(r, 5);
            k.secondBox = text(r, 6);
            k.secondBoxId = text(r, 7);
            k.secondWritten = number(r, 8);
            k.settled = database::isTrue(r.at(9));
            k.keepIn = text(r, 10);
            k.decidedBy = text(r, 11);
            k.reason = text(r, 12);
            k.decidedAt = number(r, 13);
            s.openConflicts = int(number(r, 14));
            k.decisionId = text(r, 15);
            s.conflicts.push_back(std::move(k));
        }
        return s;
    });
}

std::vector<packlocations::Location> BoardData::lookup(const QString &text)
{
    return readOnFreshOnFailure([&] {
        database::Connection &c = db();
        std::vector<packlocations::Location> found = packlocations::byBarcode(c, text);
        for (packlocations::Location &l : packlocations::byOuterLabel(c, text))
            if (l.barcode != text) // already there as the pack itself
                found.push_back(std::move(l));
        return found;
    });
}

DecisionResult BoardData::decide(const Decision &d)
{
    const QString by = d.decidedBy.trimmed();
    const QString reason = d.reason.trimmed();
    if (by.isEmpty() || reason.isEmpty() || characters::count(by) > kLongestName || characters::count(reason) > kLongestReason
        || characters::holdsNul(by) || characters::holdsNul(reason) || characters::holdsNul(d.barcode)
        || !isUuid(d.secondBoxId) || !isUuid(d.firstBoxId) || (d.keepIn != d.secondBoxId && d.keepIn != d.firstBoxId)
        || d.barcode.isEmpty() || (!d.corrects.isEmpty() && !isDecisionId(d.corrects)))
        return DecisionResult::Invalid;
    return dropOnFailure([&] {
        db();
        if (m_company) // a company's database only follows its plants
            return DecisionResult::NotAllowed;
        database::Connection &c = writer();
        const QStringList conflict{d.secondBoxId, d.barcode, d.firstBoxId};
        // The login, not the reader's role it acts in now, must be a supervisor.
        const auto allowed = c.run(QStringLiteral("SELECT pg_has_role(session_user, 'zantrel_supervisor', 'MEMBER')"));
        if (allowed.empty() || !database::isTrue(allowed[0][0]))
            return DecisionResult::NotAllowed;
        c.runScript(QStringLiteral("BEGIN; SET LOCAL ROLE zantrel_supervisor"));
        // Two supervisors deciding on one conflict at once: the second waits here, then
        // finds the first one's decision as the last and is told so.
        c.run(QStringLiteral("SELECT pg_advisory_xact_lock(hashtext($1 || $2 || $3))"), conflict);
        // The decision is recorded only where the conflict's last decision is the one it
        // corrects (none for a first decision); a correction is a record of its own.
        const auto inserted = c.run(
            QStringLiteral("INSERT INTO zantrel.conflict_decisions (box_id, barcode, earlier_box, keep_in, decided_by, reason)"
                           " SELECT box_id, barcode, earlier_box, $4::uuid, $5, $6 FROM zantrel.pack_conflicts p"
                           " WHERE p.box_id = $1::uuid AND p.barcode = $2 AND p.earlier_box = $3::uuid"
                           "   AND coalesce((SELECT x.decision_id::text FROM zantrel.conflict_decisions x"
                           "                 WHERE x.box_id = p.box_id AND x.barcode = p.barcode AND x.earlier_box = p.earlier_box"
                           "                 ORDER BY x.decided_at DESC, x.decision_id DESC LIMIT 1), '') = coalesce($7, '')"
                           " RETURNING decision_id"),
            conflict + QStringList{d.keepIn, by, reason, d.corrects});
        DecisionResult result = DecisionResult::Recorded;
        if (inserted.empty()) {
            const auto exists = c.run(QStringLiteral("SELECT 1 FROM zantrel.pack_conflicts"
                                                     " WHERE box_id = $1::uuid AND barcode = $2 AND earlier_box = $3::uuid"),
                                      conflict);
            result = exists.empty() ? DecisionResult::NoSuchConflict : DecisionResult::AlreadySettled;
        }
        c.runScript(QStringLiteral("COMMIT"));
        return result;
    });
}

} // namespace board

namespace board {

std::vector<HistoryEntry> BoardData::history(const QString &query)
{
    return readOnFreshOnFailure([&] {
        database::Connection &c = db();
        std::vector<HistoryEntry> out;
        if (m_schemaVersion < plantschema::kReworkVersion)
            return out;
        // A pack's story, and a box's: its packing and every change to it.
        const auto rows = c.run(QStringLiteral(
            "SELECT event, station, outer_label, coalesce(middle_label, ''), coalesce(barcode, ''),"
            "       extract(epoch FROM at)::bigint, coalesce(person, ''), coalesce(reason, ''), coalesce(note, '')"
            " FROM (SELECT * FROM zantrel.pack_history WHERE barcode = $1"
            // Each through its own index: one OR over both would read every box.
            "       UNION SELECT * FROM zantrel.pack_history WHERE outer_label = $1) h"
            " ORDER BY at, change_id NULLS FIRST LIMIT 2000"),
            {query});
        for (const database::Row &r : rows)
            out.push_back({text(r, 0), text(r, 1), text(r, 2), text(r, 3), text(r, 4),
                           number(r, 5), text(r, 6), text(r, 7), text(r, 8)});
        return out;
    });
}

qint64 BoardData::rework(const rework::Change &change)
{
    // A refused change (a pack not in that box) also drops the connection: the next one is fresh.
    return dropOnFailure([&] {
        db();
        if (m_company)
            throw RuntimeError(RuntimeError::DatabaseNotAllowed, kSource, QStringLiteral("公司汇总库只随各厂的记录变化"),
                               RuntimeError::Kind::Database);
        return rework::record(writer(), change);
    });
}

} // namespace board
