#include "plant/PackConflicts.h"

#include "platform/Database.h"
#include "plant/DeliverySteps.h"
#include "plant/PlantSchema.h"
#include "plant/RowKinds.h"
#include "plant/SqlArrays.h"

#include "core/Gs1Ais.h"

namespace packconflicts {

namespace {

QString conflictKey(const QString &boxId, const QString &barcode, const QString &earlierBox)
{
    return boxId + QLatin1Char(' ') + earlierBox + QLatin1Char(' ') + barcode;
}

} // namespace

Packs packsOf(const std::vector<BoxRow> &rows)
{
    Packs packs;
    for (const BoxRow &row : rows) {
        if (row.kind != BoxRow::Pack)
            continue;
        const Pack pack = row.pack();
        packs.text << row.text;
        // As the box's rows store them: the record's key of a pack is made from these.
        packs.gtin << pack.value(gs1::ai::kGtin).value_or(QString());
        packs.serial << pack.value(gs1::ai::kSerial).value_or(QString());
    }
    return packs;
}

void lockPacks(database::Connection &db, int schemaVersion, const Packs &packs)
{
    // One lock per pack, taken in one order by every station and by rework, held to the
    // commit: a box with the same pack delivered at the same moment waits, then sees
    // this one, and so does a put-in of it.
    deliverysteps::step();
    // A GS1 pack's lock is its GTIN and serial's, as rework takes it.
    const QString key = schemaVersion >= plantschema::kGs1Version ? QStringLiteral("zantrel.pack_key(p.text, p.gtin, p.serial)")
                                                                  : QStringLiteral("p.text");
    db.runOften(QStringLiteral("SELECT pg_advisory_xact_lock(h) FROM (SELECT DISTINCT hashtextextended(%1, 7401) AS h"
                               " FROM unnest($1::text[], $2::text[], $3::text[]) AS p(text, gtin, serial) ORDER BY h) s")
                    .arg(key),
                {sqlarrays::textArray(packs.text), sqlarrays::textArray(packs.gtin), sqlarrays::textArray(packs.serial)});
    deliverysteps::step();
}

std::vector<Elsewhere> heldElsewhere(database::Connection &db, int schemaVersion, const QString &boxId, const Packs &packs)
{
    if (schemaVersion < plantschema::kGs1Version || packs.text.isEmpty())
        return {};
    // Every delivery asks this of each of its packs, and almost none is anywhere else:
    // each pack is looked up in the indexes of packed rows and put-ins by its key (one
    // arm per key, so that each arm has its index), and only a box found there is asked
    // whether it holds the pack now. Asked before the box's own rows are stored, so
    // that no pack finds itself.
    const auto rows = db.runOften(rowkind::named(QStringLiteral(
        "WITH mine AS (SELECT * FROM unnest($2::text[], $3::text[], $4::text[]) AS m(text, gtin, serial)),"
        " cand AS (SELECT m.text, m.gtin, m.serial, o.box_id FROM mine m JOIN zantrel.box_rows o"
        "            ON m.gtin IS NULL AND o.kind = {pack} AND o.text = m.text"
        "          UNION SELECT m.text, m.gtin, m.serial, o.box_id FROM mine m JOIN zantrel.box_rows o"
        "            ON o.kind = {pack} AND o.gtin = m.gtin AND o.serial = m.serial"
        "          UNION SELECT m.text, m.gtin, m.serial, c.box_id FROM mine m JOIN zantrel.box_changes c"
        "            ON m.gtin IS NULL AND c.barcode = m.text AND c.kind = 'put-in'"
        "          UNION SELECT m.text, m.gtin, m.serial, c.box_id FROM mine m JOIN zantrel.box_changes c"
        "            ON c.gtin = m.gtin AND c.serial = m.serial AND c.kind = 'put-in')"
        " SELECT DISTINCT c.text, c.box_id FROM cand c"
        " WHERE c.box_id <> $1::uuid AND zantrel.pack_in_box(c.box_id, c.text, c.gtin, c.serial)")),
        {boxId, sqlarrays::textArray(packs.text), sqlarrays::textArray(packs.gtin), sqlarrays::textArray(packs.serial)});
    std::vector<Elsewhere> held;
    for (const database::Row &row : rows)
        held.push_back({row[0].value_or(QString()), row[1].value_or(QString())});
    return held;
}

void recordOf(database::Connection &db, int schemaVersion, const QString &boxId, const QString &outer,
              const std::vector<Elsewhere> &elsewhere, std::vector<PackConflict> &found)
{
    QString candidates;
    QStringList parameters{boxId};
    if (schemaVersion >= plantschema::kGs1Version) {
        if (elsewhere.empty())
            return; // almost every box: nothing to record, nothing more to ask
        QStringList barcodes, boxes;
        for (const Elsewhere &e : elsewhere) {
            barcodes << e.barcode;
            boxes << e.earlierBox;
        }
        parameters << sqlarrays::textArray(barcodes) << sqlarrays::textArray(boxes);
        candidates = QStringLiteral("WITH found AS (INSERT INTO zantrel.pack_conflicts (barcode, box_id, earlier_box)"
                                    "   SELECT e.barcode, $1::uuid, e.box FROM unnest($2::text[], $3::uuid[]) AS e(barcode, box)"
                                    "   ON CONFLICT DO NOTHING RETURNING barcode, earlier_box)");
    } else {
        // Where packs are now is a union the planner cannot join into: asked pack by pack
        // (OFFSET 0 keeps the subquery whole), or every pack of the record would be read.
        const QString elsewhereNow =
            schemaVersion >= plantschema::kReworkVersion
                ? QStringLiteral("CROSS JOIN LATERAL (SELECT n.box_id FROM zantrel.packs_now n WHERE n.barcode = r.text OFFSET 0) o")
                : QStringLiteral("JOIN zantrel.box_rows o ON o.kind = {pack} AND o.text = r.text");
        candidates = QStringLiteral("WITH found AS (INSERT INTO zantrel.pack_conflicts (barcode, box_id, earlier_box)"
                                    "   SELECT DISTINCT r.text, r.box_id, o.box_id FROM zantrel.box_rows r ")
                     + elsewhereNow
                     + QStringLiteral("   WHERE r.box_id = $1 AND r.kind = {pack} AND o.box_id <> r.box_id ON CONFLICT DO NOTHING"
                                      " RETURNING barcode, earlier_box)");
    }
    const auto rows = db.runOften(rowkind::named(candidates
                                                 + QStringLiteral(" SELECT f.barcode, b.station, b.outer_label, to_char(b.written_at, 'YYYY-MM-DD HH24:MI:SS'), f.earlier_box"
                                                                  " FROM found f JOIN zantrel.boxes b ON b.box_id = f.earlier_box ORDER BY f.barcode, b.written_at")),
                                  parameters);
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
