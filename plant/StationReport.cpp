#include "plant/StationReport.h"

#include "platform/Database.h"
#include "plant/PlantSchema.h"
#include "station/files/BoxLines.h"

namespace stationreport {

namespace {

// The version from which the station's state names the boxes the record refused.
constexpr int kRefusedVersion = 4;

} // namespace

int reportState(database::Connection &db, int schemaVersion, const StateReport &r)
{
    const QString outer = r.packing.outerLabel;
    const QStringList params{r.station, QString::number(r.backlog), outer.isNull() ? QStringLiteral("") : outer}; // "": not packing
    // This station's clock against the server's, at every report (the network's delay is
    // far below what matters here).
    const QString local = boxlines::timeText(r.localTime);
    if (schemaVersion < kRefusedVersion) {
        db.run(QStringLiteral("INSERT INTO zantrel.station_state (station, heard_at, backlog, packing) VALUES ($1, now(), $2, $3)"
                                 " ON CONFLICT (station) DO UPDATE SET heard_at = now(), backlog = $2, packing = $3"),
                  params);
        const auto skew = db.run(QStringLiteral("SELECT round(extract(epoch FROM $1::timestamptz - statement_timestamp()))::integer"), {local});
        return skew[0][0].value_or(QString()).toInt();
    }
    // The boxes the record refused, named where a supervisor looks (a few, and how many in all).
    const QString named = r.refused.isEmpty() ? QString()
                                            : QStringLiteral("%1 箱：%2").arg(r.refused.size()).arg(r.refused.mid(0, 5).join(QStringLiteral("，")).left(200));
    const auto given = [](const QString &text) { return text.isNull() ? QStringLiteral("") : text; };
    if (schemaVersion >= plantschema::kBatchVersion) {
        // And the batch it packs, from the version that has batches.
        const auto skew = db.run(
            QStringLiteral("INSERT INTO zantrel.station_state (station, heard_at, backlog, packing, refused, clock_skew, product, lot, batch)"
                           " VALUES ($1, now(), $2, $3, $4, round(extract(epoch FROM $5::timestamptz - statement_timestamp())),"
                           "         nullif($6, ''), nullif($7, ''), nullif($8, ''))"
                           " ON CONFLICT (station) DO UPDATE SET heard_at = now(), backlog = $2, packing = $3, refused = $4,"
                           " clock_skew = excluded.clock_skew, product = excluded.product, lot = excluded.lot,"
                           " batch = excluded.batch RETURNING clock_skew"),
            params + QStringList{given(named), local, given(r.packing.gtin), given(r.packing.lot), given(r.packing.batch)});
        return skew.empty() ? 0 : skew[0][0].value_or(QString()).toInt();
    }
    if (schemaVersion >= plantschema::kGs1Version) {
        // And the product and lot of its open box, from the version that knows them.
        const auto skew = db.run(
            QStringLiteral("INSERT INTO zantrel.station_state (station, heard_at, backlog, packing, refused, clock_skew, product, lot)"
                           " VALUES ($1, now(), $2, $3, $4, round(extract(epoch FROM $5::timestamptz - statement_timestamp())),"
                           "         nullif($6, ''), nullif($7, ''))"
                           " ON CONFLICT (station) DO UPDATE SET heard_at = now(), backlog = $2, packing = $3, refused = $4,"
                           " clock_skew = excluded.clock_skew, product = excluded.product, lot = excluded.lot RETURNING clock_skew"),
            params + QStringList{given(named), local, given(r.packing.gtin), given(r.packing.lot)});
        return skew.empty() ? 0 : skew[0][0].value_or(QString()).toInt();
    }
    const auto skew = db.run(
        QStringLiteral("INSERT INTO zantrel.station_state (station, heard_at, backlog, packing, refused, clock_skew)"
                       " VALUES ($1, now(), $2, $3, $4, round(extract(epoch FROM $5::timestamptz - statement_timestamp())))"
                       " ON CONFLICT (station) DO UPDATE SET heard_at = now(), backlog = $2, packing = $3, refused = $4,"
                       " clock_skew = excluded.clock_skew RETURNING clock_skew"),
        params + QStringList{named.isNull() ? QStringLiteral("") : named, local});
    return skew.empty() ? 0 : skew[0][0].value_or(QString()).toInt();
}

} // namespace stationreport
