#include "plant/PackConflicts.h"

#include "platform/Database.h"
#include "plant/DeliverySteps.h"
#include "plant/PlantSchema.h"
#include "plant/RowKinds.h"
#include "plant/SqlArrays.h"

#include "core/Gs1Ais.h"

#include <QHash>
#include <QSet>

namespace packconflicts {

namespace {

QString conflictKey(const QString &boxId, const QString &barcode, const QString &earlierBox)
{
    return boxId + QLatin1Char(' ') + earlierBox + QLatin1Char(' ') + barcode;
}

} // namespace

void addPacksOf(Packs &packs, const QString &boxId, const std::vector<BoxRow> &rows)
{
    for (const BoxRow &row : rows) {
        if (row.kind != BoxRow::Pack)
            continue;
        const Pack pack = row.pack();
        packs.box << boxId;
        packs.text << row.text;
        // As the box's rows store them: the record's key of a pack is made from these.
        packs.gtin << pack.value(gs1::ai::kGtin).value_or(QString());
        packs.serial << pack.value(gs1::ai::kSerial).value_or(QString());
    }
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

namespace {

// The packs of the same delivery that an earlier box of it holds, found as the record
// finds them: by text for a pack without GTIN and serial, by GTIN and serial otherwise.
// Never the same box's.
void addHeldEarlierInTheDelivery(const Packs &packs, std::vector<Elsewhere> &held)
{
    QHash<QString, QStringList> byText, byIdentity; // key -> the boxes that hold it, in order
    QSet<QString> told; // box, pack and earlier box: once each
    for (qsizetype i = 0; i < packs.text.size(); ++i) {
        const QString &box = packs.box[i];
        const bool gs1 = !packs.gtin[i].isNull() && !packs.serial[i].isNull();
        const QString identity = gs1 ? packs.gtin[i] + QLatin1Char(' ') + packs.serial[i] : QString();
        // As the record's arms: a GTIN without a serial is looked for by neither.
        const QStringList earlier = gs1 ? byIdentity.value(identity)
                                    : packs.gtin[i].isNull() ? byText.value(packs.text[i]) : QStringList();
        for (const QString &other : earlier) {
            const QString key = conflictKey(box, packs.text[i], other);
            if (other != box && !told.contains(key)) {
                told.insert(key);
                held.push_back({box, packs.text[i], other});
            }
        }
        // Each pack is known by both: a later plain pack of this text finds a GS1 one too.
        const auto holds = [&box](QStringList &boxes) {
            if (!boxes.contains(box))
                boxes << box;
        };
        holds(byText[packs.text[i]]);
        if (gs1)
            holds(byIdentity[identity]);
    }
}

} // namespace

std::vector<Elsewhere> heldElsewhere(database::Connection &db, const Packs &packs)
{
    if (packs.text.isEmpty())
        return {};
    // Every delivery asks this of each of its packs, and almost none is anywhere else:
    // each pack is looked up in the indexes of packed rows and put-ins by its key (one
    // arm per key, so that each arm has its index), and only a box found there is asked
    // whether it holds the pack now. Asked before the boxes' own rows are stored, so
    // that no pack finds itself.
    const auto rows = db.runOften(rowkind::named(QStringLiteral(
        "WITH mine AS (SELECT * FROM unnest($1::uuid[], $2::text[], $3::text[], $4::text[]) AS m(box, text, gtin, serial)),"
        " cand AS (SELECT m.box, m.text, m.gtin, m.serial, o.box_id FROM mine m JOIN zantrel.box_rows o"
        "            ON m.gtin IS NULL AND o.kind = {pack} AND o.text = m.text"
        "          UNION SELECT m.box, m.text, m.gtin, m.serial, o.box_id FROM mine m JOIN zantrel.box_rows o"
        "            ON o.kind = {pack} AND o.gtin = m.gtin AND o.serial = m.serial"
        "          UNION SELECT m.box, m.text, m.gtin, m.serial, c.box_id FROM mine m JOIN zantrel.box_changes c"
        "            ON m.gtin IS NULL AND c.barcode = m.text AND c.kind = 'put-in'"
        "          UNION SELECT m.box, m.text, m.gtin, m.serial, c.box_id FROM mine m JOIN zantrel.box_changes c"
        "            ON c.gtin = m.gtin AND c.serial = m.serial AND c.kind = 'put-in')"
        " SELECT DISTINCT c.box, c.text, c.box_id FROM cand c"
        " WHERE c.box_id <> c.box AND zantrel.pack_in_box(c.box_id, c.text, c.gtin, c.serial)")),
        {sqlarrays::textArray(packs.box), sqlarrays::textArray(packs.text), sqlarrays::textArray(packs.gtin),
         sqlarrays::textArray(packs.serial)});
    std::vector<Elsewhere> held;
    for (const database::Row &row : rows)
        held.push_back({row[0].value_or(QString()), row[1].value_or(QString()), row[2].value_or(QString())});
    addHeldEarlierInTheDelivery(packs, held);
    return held;
}

void record(database::Connection &db, const std::vector<Elsewhere> &elsewhere, const QStringList &boxes,
            const QStringList &outers, std::vector<PackConflict> &found)
{
    if (elsewhere.empty())
        return; // almost every delivery: nothing to record, nothing more to ask
    QStringList box, barcode, earlier;
    for (const Elsewhere &e : elsewhere) {
        box << e.box;
        barcode << e.barcode;
        earlier << e.earlierBox;
    }
    const auto rows = db.runOften(QStringLiteral(
        "WITH found AS (INSERT INTO zantrel.pack_conflicts (barcode, box_id, earlier_box)"
        "   SELECT DISTINCT e.barcode, e.box, e.earlier FROM unnest($1::uuid[], $2::text[], $3::uuid[]) AS e(box, barcode, earlier)"
        "   ON CONFLICT DO NOTHING RETURNING box_id, barcode, earlier_box)"
        " SELECT f.box_id, f.barcode, b.station, b.outer_label, to_char(b.written_at, 'YYYY-MM-DD HH24:MI:SS'), f.earlier_box"
        " FROM found f JOIN zantrel.boxes b ON b.box_id = f.earlier_box ORDER BY f.barcode, b.written_at"),
        {sqlarrays::textArray(box), sqlarrays::textArray(barcode), sqlarrays::textArray(earlier)});
    // Box by box in the delivery's order; within a box by pack, then the earlier box's time.
    for (qsizetype n = 0; n < boxes.size(); ++n)
        for (const database::Row &row : rows) {
            if (row[0].value_or(QString()) != boxes[n])
                continue;
            const QString pack = row[1].value_or(QString());
            found.push_back({pack, outers[n], row[2].value_or(QString()), row[3].value_or(QString()), row[4].value_or(QString()),
                             conflictKey(boxes[n], pack, row[5].value_or(QString()))});
        }
}

void recordOf(database::Connection &db, int schemaVersion, const QString &boxId, const QString &outer, std::vector<PackConflict> &found)
{
    // Where packs are now is a union the planner cannot join into: asked pack by pack
    // (OFFSET 0 keeps the subquery whole), or every pack of the record would be read.
    const QString elsewhereNow =
        schemaVersion >= plantschema::kReworkVersion
            ? QStringLiteral("CROSS JOIN LATERAL (SELECT n.box_id FROM zantrel.packs_now n WHERE n.barcode = r.text OFFSET 0) o")
            : QStringLiteral("JOIN zantrel.box_rows o ON o.kind = {pack} AND o.text = r.text");
    const auto rows = db.runOften(rowkind::named(
        QStringLiteral("WITH found AS (INSERT INTO zantrel.pack_conflicts (barcode, box_id, earlier_box)"
                       "   SELECT DISTINCT r.text, r.box_id, o.box_id FROM zantrel.box_rows r ")
        + elsewhereNow
        + QStringLiteral("   WHERE r.box_id = $1 AND r.kind = {pack} AND o.box_id <> r.box_id ON CONFLICT DO NOTHING"
                         " RETURNING barcode, earlier_box)"
                         " SELECT f.barcode, b.station, b.outer_label, to_char(b.written_at, 'YYYY-MM-DD HH24:MI:SS'), f.earlier_box"
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
