#include "plant/RecordedLabels.h"

#include "core/Gs1Ais.h"
#include "plant/BoxContents.h"
#include "plant/PlantSchema.h"

namespace recordedlabels {

using database::text;

std::optional<QString> firstUse(database::Connection &db, const QString &outerLabel)
{
    const std::vector<database::Row> rows = db.run(QStringLiteral("SELECT station, workbook, first_row FROM zantrel.boxes "
                                                                  "WHERE outer_label = $1 ORDER BY written_at, box_id LIMIT 1"),
                                                   {outerLabel});
    if (rows.empty())
        return std::nullopt;
    const database::Row &r = rows.front();
    return QStringLiteral("工位 %1，files/%2 第 %3 行").arg(text(r, 0), text(r, 1)).arg(database::number(r, 2));
}

std::vector<Box> boxesNow(database::Connection &db, const QString &outerLabel, const QString &station)
{
    // Before rework (version 6) no box is ever void.
    const bool rework = plantschema::installedVersion(db) >= plantschema::kReworkVersion;
    std::vector<Box> boxes;
    for (const database::Row &r : db.run(QStringLiteral("SELECT box_id, station, (extract(epoch FROM written_at) * 1000)::bigint"
                                                        " FROM zantrel.boxes WHERE outer_label = $1 AND (coalesce($2, '') = '' OR station = $2)%1"
                                                        " ORDER BY written_at, box_id")
                                             .arg(rework ? QStringLiteral(" AND NOT zantrel.box_voided(box_id)") : QString()),
                                         {outerLabel, station}))
        boxes.push_back({text(r, 0), text(r, 1), QDateTime::fromMSecsSinceEpoch(database::number(r, 2))});
    return boxes;
}

std::vector<BoxRow> rowsNow(database::Connection &db, const Box &box, const QString &outerLabel)
{
    const boxcontents::Contents held =
        boxcontents::of(db, box.id, std::nullopt, boxcontents::Schema::of(plantschema::installedVersion(db)));
    const auto row = [](const boxcontents::Held &h) {
        if (h.gtin.isEmpty())
            return BoxRow(BoxRow::Pack, h.text);
        std::vector<gs1::Element> fields{{gs1::ai::kGtin, h.gtin}};
        for (const auto &[ai, value] : {std::pair{gs1::ai::kSerial, h.serial}, std::pair{gs1::ai::kLot, h.lot},
                                        std::pair{gs1::ai::kExpiry, h.expiry}})
            if (!value.isEmpty())
                fields.push_back({ai, value});
        return BoxRow(BoxRow::Pack, h.text, fields);
    };
    std::vector<BoxRow> rows{{BoxRow::OuterLabel, outerLabel}};
    for (const QString &m : held.middles) {
        rows.push_back({BoxRow::MiddleLabel, m});
        for (const boxcontents::Held &h : held.in(m))
            rows.push_back(row(h));
    }
    for (const boxcontents::Held &h : held.in(QString()))
        rows.push_back(row(h));
    return rows;
}

} // namespace recordedlabels
