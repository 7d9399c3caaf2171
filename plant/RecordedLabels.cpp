#include "plant/RecordedLabels.h"

namespace recordedlabels {

std::optional<QString> firstUse(database::Connection &db, const QString &outerLabel)
{
    const std::vector<database::Row> rows = db.run(QStringLiteral("SELECT station, workbook, first_row FROM zantrel.boxes "
                                                                  "WHERE outer_label = $1 ORDER BY written_at, box_id LIMIT 1"),
                                                   {outerLabel});
    if (rows.empty())
        return std::nullopt;
    const database::Row &r = rows.front();
    return QStringLiteral("工位 %1，files/%2 第 %3 行").arg(database::text(r, 0), database::text(r, 1)).arg(database::number(r, 2));
}

} // namespace recordedlabels
