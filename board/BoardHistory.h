#pragma once

#include <QString>
#include <vector>

namespace database {
class Connection;
}

namespace board {

// One event of a pack's or a box's story: packed, or a change since.
struct HistoryEntry
{
    QString event; // packed, take-out, put-in, void, restore
    QString station, outerLabel, middleLabel, barcode;
    qint64 at = 0; // seconds since the epoch
    QString person, reason, note;
};

// Every event of the packs with this barcode, or of the boxes with this outer label,
// in order; empty on a record older than the version with changes.
std::vector<HistoryEntry> readHistory(database::Connection &c, int schemaVersion, const QString &query);

} // namespace board
