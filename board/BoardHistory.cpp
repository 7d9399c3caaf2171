#include "board/BoardHistory.h"

#include "platform/Database.h"
#include "plant/PlantSchema.h"

namespace board {

std::vector<HistoryEntry> readHistory(database::Connection &c, int schemaVersion, const QString &query)
{
    using database::number;
    using database::text;
    std::vector<HistoryEntry> out;
    if (schemaVersion < plantschema::kReworkVersion)
        return out;
    // A pack's story, and a box's: its packing and every change to it.
    const auto rows = c.run(QStringLiteral(
                                "SELECT event, station, outer_label, coalesce(middle_label, ''), coalesce(barcode, ''),"
                                "       extract(epoch FROM at)::bigint, coalesce(person, ''), coalesce(reason, ''), coalesce(note, '')"
                                " FROM (SELECT * FROM zantrel.pack_history WHERE barcode = $1"
                                // Each through its own index: one OR over both would read every box.
                                "       UNION SELECT * FROM zantrel.pack_history WHERE outer_label = $1) h"
                                " ORDER BY at, change_id NULLS FIRST LIMIT 2000"),
                            {query});
    for (const database::Row &r : rows)
        out.push_back({text(r, 0), text(r, 1), text(r, 2), text(r, 3), text(r, 4), number(r, 5), text(r, 6), text(r, 7), text(r, 8)});
    return out;
}

} // namespace board
