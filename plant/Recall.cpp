#include "plant/Recall.h"

#include "core/RuntimeError.h"
#include "plant/PlantSchema.h"
#include "plant/RowKinds.h"
#include "platform/Database.h"

#include <QDateTime>

namespace recall {

namespace {

// The packs of the product (and lot) where they are now. A pack packed in a box that
// rework never touched is there still (read from the index alone): only in changed
// boxes is each pack asked. A pack put in counts where its last change put it, unless
// the box was packed with it.
QString packsNow(bool oneLot)
{
    const QString lot = oneLot ? QStringLiteral(" AND r.lot = $2") : QString();
    const QString changedLot = oneLot ? QStringLiteral(" AND c.lot = $2") : QString();
    return QStringLiteral(
               "WITH packed AS (SELECT r.box_id, r.lot, r.middle_label FROM zantrel.box_rows r"
               "                WHERE r.kind = {pack} AND r.gtin = $1%1),"
               " touched AS (SELECT DISTINCT c.box_id FROM zantrel.box_changes c WHERE c.box_id IN (SELECT box_id FROM packed)),"
               " now AS (SELECT p.box_id, p.lot, p.middle_label FROM packed p WHERE p.box_id NOT IN (SELECT box_id FROM touched)"
               "         UNION ALL"
               "         SELECT r.box_id, r.lot, r.middle_label FROM zantrel.box_rows r JOIN touched t USING (box_id)"
               "         WHERE r.kind = {pack} AND r.gtin = $1%1 AND zantrel.pack_in_box(r.box_id, r.text, r.gtin, r.serial)"
               "         UNION ALL"
               "         SELECT c.box_id, c.lot, c.middle_label FROM zantrel.box_changes c"
               "         WHERE c.kind = 'put-in' AND c.gtin = $1%2"
               "           AND zantrel.pack_in_box(c.box_id, c.barcode, c.gtin, c.serial)"
               "           AND NOT EXISTS (SELECT FROM zantrel.box_rows r WHERE r.box_id = c.box_id AND r.kind = {pack}"
               "                           AND r.gtin = c.gtin AND r.serial = c.serial)"
               "           AND c.change_id = (SELECT max(x.change_id) FROM zantrel.box_changes x"
               "                              WHERE x.box_id = c.box_id AND x.gtin = c.gtin AND x.serial = c.serial))")
        .arg(lot, changedLot);
}

void needsFields(database::Connection &db)
{
    const int version = plantschema::installedVersion(db);
    if (version < plantschema::kGs1Version)
        throw RuntimeError(RuntimeError::DatabaseRefusedData, QStringLiteral("recall"),
                           QStringLiteral("中央记录的版本为 %1，不保存内包的 GS1 字段（需要版本 %2）：请先运行 zantrel-db init")
                               .arg(version).arg(plantschema::kGs1Version),
                           RuntimeError::Kind::Database);
}

} // namespace

std::vector<Box> boxesOf(database::Connection &db, const QString &gtin, const QString &lot)
{
    needsFields(db);
    const auto rows = db.run(rowkind::named(packsNow(true) + QStringLiteral(
                                 // Counted by middle box first: a box's few middle labels are then joined.
                                 ", held AS (SELECT box_id, coalesce(middle_label, '') AS middle, count(*) AS packs FROM now GROUP BY 1, 2),"
                                 // The boxes whose first pack is of the lot, read together; any other box
                                 // holding packs of it, by its id.
                                 " lot_boxes AS (SELECT box_id, outer_label, plant_id, station, written_at FROM zantrel.boxes"
                                 "               WHERE gtin = $1 AND lot = $2),"
                                 " found AS (SELECT * FROM lot_boxes"
                                 "           UNION ALL"
                                 "           SELECT b.box_id, b.outer_label, b.plant_id, b.station, b.written_at FROM zantrel.boxes b"
                                 "           WHERE b.box_id IN (SELECT box_id FROM held EXCEPT SELECT box_id FROM lot_boxes))"
                                 " SELECT b.outer_label, zantrel.station_named(b.plant_id, b.station),"
                                 "        extract(epoch FROM b.written_at)::bigint, sum(m.packs), string_agg(m.middle, ' ' ORDER BY m.middle)"
                                 " FROM held m JOIN found b USING (box_id)"
                                 " GROUP BY b.box_id, b.outer_label, b.plant_id, b.station, b.written_at"
                                 " ORDER BY b.written_at, b.outer_label")),
                             {gtin, lot});
    std::vector<Box> out;
    for (const database::Row &r : rows)
        out.push_back({r[0].value_or(QString()), r[1].value_or(QString()),
                       QDateTime::fromSecsSinceEpoch(r[2].value_or(QString()).toLongLong()).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")),
                       r[3].value_or(QString()).toInt(), r[4].value_or(QString()).trimmed()});
    return out;
}

std::vector<Lot> lotsOf(database::Connection &db, const QString &gtin)
{
    needsFields(db);
    const auto rows = db.run(rowkind::named(packsNow(false) + QStringLiteral(
                                 " SELECT coalesce(n.lot, ''), count(*), count(DISTINCT n.box_id) FROM now n"
                                 " GROUP BY 1 ORDER BY 1")),
                             {gtin});
    std::vector<Lot> out;
    for (const database::Row &r : rows)
        out.push_back({r[0].value_or(QString()), r[1].value_or(QString()).toInt(), r[2].value_or(QString()).toInt()});
    return out;
}

} // namespace recall
