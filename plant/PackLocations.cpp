#include "plant/PackLocations.h"

#include "platform/Database.h"

#include <QDateTime>

namespace packlocations {

namespace {

std::vector<Location> find(database::Connection &db, const QString &where, const QString &value)
{
    const auto rows = db.run(QStringLiteral("SELECT workbook, sheet_row, outer_label, coalesce(middle_label, ''), barcode, station,"
                                            "       extract(epoch FROM written_at)::bigint"
                                            " FROM zantrel.pack_locations WHERE ")
                                 + where + QStringLiteral(" ORDER BY station, workbook, sheet_row"),
                             {value});
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
    return find(db, QStringLiteral("barcode = $1"), barcode);
}

std::vector<Location> byOuterLabel(database::Connection &db, const QString &label)
{
    return find(db, QStringLiteral("outer_label = $1"), label);
}

} // namespace packlocations
