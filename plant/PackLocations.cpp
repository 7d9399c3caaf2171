#include "plant/PackLocations.h"

#include "plant/PlantSchema.h"
#include "platform/Database.h"
#include "packing/Gs1Rules.h"

#include <QDateTime>

namespace packlocations {

namespace {

std::vector<Location> read(const std::vector<database::Row> &rows)
{
    std::vector<Location> out;
    out.reserve(rows.size());
    for (const database::Row &r : rows) {
        Location l;
        l.workbook = r[0].value_or(QString());
        l.sheetRow = r[1].value_or(QString()).toInt();
        l.outerLabel = r[2].value_or(QString());
        l.middleLabel = r[3].value_or(QString());
        l.barcode = r[4].value_or(QString());
        l.station = r[5].value_or(QString());
        // The time in this program's time zone, whatever the database session's is.
        l.writtenAt = QDateTime::fromSecsSinceEpoch(r[6].value_or(QString()).toLongLong()).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        out.push_back(std::move(l));
    }
    return out;
}

} // namespace

std::vector<Location> byBarcode(database::Connection &db, const QString &barcode)
{
    // A GS1 pack written in human-readable form is found however its box spelled it.
    const Pack pack = gs1rules::packTyped(barcode, QDate::currentDate());
    if (pack.isGs1() && plantschema::installedVersion(db) >= plantschema::kGs1Version)
        return read(db.run(QStringLiteral("SELECT workbook, sheet_row, outer_label, coalesce(middle_label, ''), barcode, station,"
                                          "       extract(epoch FROM written_at)::bigint"
                                          " FROM zantrel.pack_locations WHERE gtin = $1 AND serial = $2 ORDER BY station, workbook, sheet_row"),
                           {*pack.value(QStringLiteral("01")), *pack.value(QStringLiteral("21"))}));
    return read(db.run(QStringLiteral("SELECT workbook, sheet_row, outer_label, coalesce(middle_label, ''), barcode, station,"
                                      "       extract(epoch FROM written_at)::bigint"
                                      " FROM zantrel.pack_locations WHERE barcode = $1 ORDER BY station, workbook, sheet_row"),
                       {barcode}));
}

std::vector<Location> byOuterLabel(database::Connection &db, const QString &label)
{
    const int version = plantschema::installedVersion(db);
    if (version < plantschema::kReworkVersion)
        return read(db.run(QStringLiteral("SELECT workbook, sheet_row, outer_label, coalesce(middle_label, ''), barcode, station,"
                                          "       extract(epoch FROM written_at)::bigint"
                                          " FROM zantrel.pack_locations WHERE outer_label = $1 ORDER BY station, workbook, sheet_row"),
                           {label}));
    // Where packs are now is a union the planner cannot join into: the box is found
    // first, then its packs (OFFSET 0 keeps the subquery whole); joined through the
    // view, every pack of the record is read.
    if (version < plantschema::kCompanyFeedVersion)
        return read(db.run(QStringLiteral("SELECT b.workbook, b.first_row + n.row_index, b.outer_label, coalesce(n.middle_label, ''), n.barcode,"
                                          "       b.station, extract(epoch FROM b.written_at)::bigint"
                                          " FROM zantrel.boxes b"
                                          " CROSS JOIN LATERAL (SELECT * FROM zantrel.packs_now p WHERE p.box_id = b.box_id OFFSET 0) n"
                                          " WHERE b.outer_label = $1 ORDER BY 6, 1, 2"),
                           {label}));
    // The view names a box's station as the record does (in a company's, with its plant).
    return read(db.run(QStringLiteral("SELECT n.workbook, n.sheet_row, n.outer_label, coalesce(n.middle_label, ''), n.barcode, n.station,"
                                      "       extract(epoch FROM n.written_at)::bigint"
                                      " FROM zantrel.boxes b"
                                      " CROSS JOIN LATERAL (SELECT * FROM zantrel.pack_locations p WHERE p.box_id = b.box_id OFFSET 0) n"
                                      " WHERE b.outer_label = $1 ORDER BY 6, 1, 2"),
                       {label}));
}

} // namespace packlocations
