#include "board/BoardSnapshot.h"

#include "platform/Database.h"
#include "plant/PlantSchema.h"
#include "plant/RowKinds.h"

#include <algorithm>
#include <map>

namespace board {

namespace {

// From this version stations report how far their clock is from the server's.
constexpr int kClockSchemaVersion = 4;
constexpr qint64 kNotHeardAfterSeconds = 120;

using database::number;
using database::text;

// Seconds since then; -1 for never. A station clock ahead of the server's counts as just now.
qint64 age(const database::Row &r, size_t i)
{
    return r[i] ? std::max<qint64>(0, r[i]->toLongLong()) : -1;
}

// A station is known by its name in a plant's record, by its plant and name in a company's.
struct StationKey
{
    QString key;   // the columns that name it
    QString plant; // its plant's name, as an expression over the names n
    QString sameAs(const QString &table, bool company) const
    {
        return company ? QStringLiteral("(%1.plant_id, %1.station) = (n.plant_id, n.station)").arg(table)
                       : QStringLiteral("%1.station = n.station").arg(table);
    }
};

StationKey keyFor(bool company)
{
    return company ? StationKey{QStringLiteral("plant_id, station"), QStringLiteral("zantrel.plant_name(n.plant_id)")}
                   : StationKey{QStringLiteral("station"), QStringLiteral("''")};
}

std::vector<database::Row> stationRows(database::Connection &c, const SnapshotSource &source, const QStringList &day)
{
    const StationKey k = keyFor(source.company);
    return c.run(QStringLiteral(
                     "WITH names AS (SELECT %2 FROM zantrel.station_state"
                     "               UNION SELECT %2 FROM zantrel.boxes WHERE written_at >= to_timestamp($1))"
                     " SELECT n.station, l.outer_label, extract(epoch FROM l.written_at)::bigint,"
                     "        extract(epoch FROM now() - l.written_at)::bigint, extract(epoch FROM s.heard_at)::bigint,"
                     "        extract(epoch FROM now() - s.heard_at)::bigint, s.backlog, s.packing, %1, %3, %6"
                     " FROM names n"
                     " LEFT JOIN LATERAL (SELECT outer_label, written_at FROM zantrel.boxes b WHERE %4"
                     "                    ORDER BY written_at DESC LIMIT 1) l ON true"
                     " LEFT JOIN zantrel.station_state s ON %5"
                     " ORDER BY 10, 1")
                     .arg(source.schemaVersion >= kClockSchemaVersion ? QStringLiteral("s.clock_skew") : QStringLiteral("NULL"), k.key,
                          k.plant, k.sameAs(QStringLiteral("b"), source.company), k.sameAs(QStringLiteral("s"), source.company))
                     .arg(source.schemaVersion >= plantschema::kGs1Version ? QStringLiteral("s.product, s.lot")
                                                                           : QStringLiteral("NULL, NULL")),
                 day);
}

// Boxes with their pack count are read from an index alone; those recorded before
// boxes carried it are counted row by row.
std::vector<database::Row> hourRows(database::Connection &c, const SnapshotSource &source, const QStringList &day)
{
    const StationKey k = keyFor(source.company);
    return c.run(rowkind::named(QStringLiteral(
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
                                    .arg(k.key, k.plant)),
                 day);
}

// Today's GS1 packs of each station by product and lot (none before the record knows them).
std::vector<database::Row> lotRows(database::Connection &c, const SnapshotSource &source, const QStringList &day)
{
    if (source.schemaVersion < plantschema::kGs1Version)
        return {};
    // A GS1 box holds one product and lot: counted from the boxes alone (an index of GS1 boxes).
    return c.run(QStringLiteral("SELECT %1, b.station, b.gtin, coalesce(b.lot, ''), sum(b.pack_count)"
                                " FROM zantrel.boxes b"
                                " WHERE b.gtin IS NOT NULL AND b.written_at >= to_timestamp($1)"
                                "   AND b.written_at < to_timestamp($1) + interval '25 hours'"
                                " GROUP BY 1, 2, 3, 4 ORDER BY 1, 2, 3, 4")
                     .arg(source.company ? QStringLiteral("zantrel.plant_name(b.plant_id)") : QStringLiteral("''")),
                 day);
}

std::vector<database::Row> conflictRows(database::Connection &c, const QStringList &day)
{
    return c.run(QStringLiteral(
                     "SELECT barcode, first_station, first_box, first_box_id, extract(epoch FROM first_written)::bigint,"
                     "       second_station, second_box, second_box_id, extract(epoch FROM second_written)::bigint,"
                     "       settled, keep_in, decided_by, reason, extract(epoch FROM decided_at)::bigint,"
                     "       count(*) FILTER (WHERE NOT settled) OVER (),"
                     "       CASE WHEN settled THEN (SELECT x.decision_id FROM zantrel.conflict_decisions x"
                     "            WHERE x.box_id = k.second_box_id AND x.barcode = k.barcode AND x.earlier_box = k.first_box_id"
                     "            ORDER BY x.decided_at DESC, x.decision_id DESC LIMIT 1) END"
                     " FROM zantrel.conflicts k WHERE NOT settled OR decided_at >= to_timestamp($1)"
                     " ORDER BY settled, found_at DESC, barcode LIMIT %1")
                     .arg(kListedConflicts),
                 day);
}

// The batches not ended, and those whose state changed today, by line (none before the record has them).
std::vector<database::Row> batchRows(database::Connection &c, const SnapshotSource &source, const QStringList &day)
{
    if (source.schemaVersion < plantschema::kBatchVersion)
        return {};
    return c.run(QStringLiteral(
                     "SELECT o.batch, o.line, o.state, o.planned, o.packed, coalesce(o.gtin, ''), coalesce(o.lot, ''),"
                     "       coalesce(o.expiry, ''), o.stations, %1"
                     " FROM zantrel.batch_overview o"
                     " WHERE o.state IN ('released', 'running', 'held')"
                     "    OR EXISTS (SELECT FROM zantrel.batch_states s"
                     "               WHERE s.batch = o.batch AND s.plant_id = o.plant_id AND s.changed_at >= to_timestamp($1))"
                     " ORDER BY 10, o.line, o.batch LIMIT %2")
                     .arg(source.company ? QStringLiteral("zantrel.plant_name(o.plant_id)") : QStringLiteral("''"))
                     .arg(kListedBatches),
                 day);
}

// A company's station is shown with its plant, on the page and in the chart.
QString shown(const QString &plantName, const QString &station)
{
    return plantName.isEmpty() ? station : plantName + QStringLiteral(" / ") + station;
}

Station stationOf(const database::Row &r, std::map<QString, std::vector<HourCount>> &hoursByStation, int idleMinutes)
{
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
    st.product = text(r, 10);
    st.lot = text(r, 11);
    if (r[8])
        st.clockSkew = int(number(r, 8));
    st.state = stateOf(st.secondsSinceBox, st.secondsSinceHeard, idleMinutes);
    st.hours = std::move(hoursByStation[st.name]);
    for (const HourCount &h : st.hours) {
        st.boxesToday += h.boxes;
        st.packsToday += h.packs;
    }
    return st;
}

Conflict conflictOf(const database::Row &r)
{
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
    k.decisionId = text(r, 15);
    return k;
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

Snapshot readSnapshot(database::Connection &c, const SnapshotSource &source, qint64 localMidnight)
{
    const QStringList day{QString::number(localMidnight)};
    Snapshot s;
    s.midnight = localMidnight;
    s.company = source.company;
    // One view of the record for the whole page.
    c.runScript(QStringLiteral("BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY"));
    const std::vector<database::Row> stations = stationRows(c, source, day);
    const std::vector<database::Row> hours = hourRows(c, source, day);
    const std::vector<database::Row> conflicts = conflictRows(c, day);
    const std::vector<database::Row> lots = lotRows(c, source, day);
    const std::vector<database::Row> batches = batchRows(c, source, day);
    c.runScript(QStringLiteral("COMMIT"));
    for (const database::Row &r : batches)
        s.batches.push_back({text(r, 0), text(r, 1), text(r, 2), text(r, 9), number(r, 3), number(r, 4), text(r, 5), text(r, 6),
                             text(r, 7), text(r, 8)});

    std::map<QString, std::vector<HourCount>> byStation;
    for (const database::Row &r : hours)
        byStation[shown(text(r, 0), text(r, 1))].push_back({int(number(r, 2)), int(number(r, 3)), number(r, 4)});
    std::map<QString, std::vector<Station::LotCount>> lotsByStation;
    for (const database::Row &r : lots)
        lotsByStation[shown(text(r, 0), text(r, 1))].push_back({text(r, 2), text(r, 3), number(r, 4)});
    for (const database::Row &r : stations) {
        s.stations.push_back(stationOf(r, byStation, source.idleMinutes));
        s.stations.back().lotsToday = std::move(lotsByStation[s.stations.back().name]);
    }
    for (const database::Row &r : conflicts) {
        s.openConflicts = int(number(r, 14));
        s.conflicts.push_back(conflictOf(r));
    }
    return s;
}

} // namespace board
