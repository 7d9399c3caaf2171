#include "plant/PackConflicts.h"

#include "platform/Database.h"
#include "plant/DeliverySteps.h"
#include "plant/PlantSchema.h"
#include "plant/RowKinds.h"

namespace packconflicts {

namespace {

QString conflictKey(const QString &boxId, const QString &barcode, const QString &earlierBox)
{
    return boxId + QLatin1Char(' ') + earlierBox + QLatin1Char(' ') + barcode;
}

} // namespace

void lockPacks(database::Connection &db, int schemaVersion, const QString &boxId)
{
    // One lock per pack, taken in one order by every station and by rework, held to the
    // commit: a box with the same pack delivered at the same moment waits, then sees
    // this one, and so does a put-in of it.
    deliverysteps::step();
    // A GS1 pack's lock is its GTIN and serial's, as rework takes it.
    const QString key = schemaVersion >= plantschema::kGs1Version ? QStringLiteral("zantrel.pack_key(text, gtin, serial)")
                                                                  : QStringLiteral("text");
    db.runOften(rowkind::named(QStringLiteral("SELECT pg_advisory_xact_lock(h) FROM (SELECT DISTINCT hashtextextended(%1, 7401) AS h"
                                            " FROM zantrel.box_rows WHERE box_id = $1 AND kind = {pack} ORDER BY h) s").arg(key)),
              {boxId});
    deliverysteps::step();
}

void recordOf(database::Connection &db, int schemaVersion, const QString &boxId, const QString &outer, std::vector<PackConflict> &found)
{
    lockPacks(db, schemaVersion, boxId);
    const bool byIdentity = schemaVersion >= plantschema::kGs1Version;
    // Another box holds the pack: as packed, or, once boxes change, where it is now.
    QString candidates;
    if (byIdentity) {
        // Every delivery asks this of each of its packs, and almost none is anywhere else:
        // each pack is looked up in the indexes of packed rows and put-ins by its key
        // (one arm per key, so that each arm has its index), and only a box found there
        // is asked whether it holds the pack now.
        candidates = QStringLiteral(
            "WITH mine AS (SELECT r.text, r.gtin, r.serial FROM zantrel.box_rows r WHERE r.box_id = $1 AND r.kind = {pack}),"
            " cand AS (SELECT m.text, m.gtin, m.serial, o.box_id FROM mine m JOIN zantrel.box_rows o"
            "            ON m.gtin IS NULL AND o.kind = {pack} AND o.text = m.text"
            "          UNION SELECT m.text, m.gtin, m.serial, o.box_id FROM mine m JOIN zantrel.box_rows o"
            "            ON o.kind = {pack} AND o.gtin = m.gtin AND o.serial = m.serial"
            "          UNION SELECT m.text, m.gtin, m.serial, c.box_id FROM mine m JOIN zantrel.box_changes c"
            "            ON m.gtin IS NULL AND c.barcode = m.text AND c.kind = 'put-in'"
            "          UNION SELECT m.text, m.gtin, m.serial, c.box_id FROM mine m JOIN zantrel.box_changes c"
            "            ON c.gtin = m.gtin AND c.serial = m.serial AND c.kind = 'put-in'),"
            " found AS (INSERT INTO zantrel.pack_conflicts (barcode, box_id, earlier_box)"
            "   SELECT DISTINCT c.text, $1::uuid, c.box_id FROM cand c"
            "   WHERE c.box_id <> $1::uuid AND zantrel.pack_in_box(c.box_id, c.text, c.gtin, c.serial)"
            "   ON CONFLICT DO NOTHING RETURNING barcode, earlier_box)");
    } else {
        // Where packs are now is a union the planner cannot join into: asked pack by pack
        // (OFFSET 0 keeps the subquery whole), or every pack of the record would be read.
        const QString elsewhere =
            schemaVersion >= plantschema::kReworkVersion
                ? QStringLiteral("CROSS JOIN LATERAL (SELECT n.box_id FROM zantrel.packs_now n WHERE n.barcode = r.text OFFSET 0) o")
                : QStringLiteral("JOIN zantrel.box_rows o ON o.kind = {pack} AND o.text = r.text");
        candidates = QStringLiteral("WITH found AS (INSERT INTO zantrel.pack_conflicts (barcode, box_id, earlier_box)"
                                    "   SELECT DISTINCT r.text, r.box_id, o.box_id FROM zantrel.box_rows r ")
                     + elsewhere
                     + QStringLiteral("   WHERE r.box_id = $1 AND r.kind = {pack} AND o.box_id <> r.box_id ON CONFLICT DO NOTHING"
                                      " RETURNING barcode, earlier_box)");
    }
    const auto rows = db.runOften(rowkind::named(candidates
                                                 + QStringLiteral(" SELECT f.barcode, b.station, b.outer_label, to_char(b.written_at, 'YYYY-MM-DD HH24:MI:SS'), f.earlier_box"
                                                                  " FROM found f JOIN zantrel.boxes b ON b.box_id = f.earlier_box ORDER BY f.barcode, b.written_at")),
                                  {boxId});
    for (const database::Row &row : rows)
        found.push_back({row[0].value_or(QString()), outer, row[1].value_or(QString()), row[2].value_or(QString()),
                         row[3].value_or(QString()), conflictKey(boxId, row[0].value_or(QString()), row[4].value_or(QString()))});
}

std::vector<PackConflict> openOf(database::Connection &db, int schemaVersion, const QString &station)
{
    if (schemaVersion < 2)
        return {};
    std::vector<PackConflict> open;
    for (const database::Row &row : db.run(
             QStringLiteral("SELECT barcode, second_box, first_station, first_box, to_char(first_written, 'YYYY-MM-DD HH24:MI:SS'),"
                            " second_box_id, first_box_id FROM zantrel.conflicts WHERE second_station = $1 AND NOT settled"
                            " ORDER BY found_at, barcode"),
             {station})) {
        const QString barcode = row[0].value_or(QString());
        open.push_back({barcode, row[1].value_or(QString()), row[2].value_or(QString()), row[3].value_or(QString()),
                        row[4].value_or(QString()), conflictKey(row[5].value_or(QString()), barcode, row[6].value_or(QString()))});
    }
    return open;
}

} // namespace packconflicts
