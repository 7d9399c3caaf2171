#pragma once

#include <QString>
#include <vector>

namespace database {
class Connection;
}

// A pack of a box just delivered that an earlier box of the plant already holds.
struct PackConflict
{
    QString barcode;
    QString ourBox;        // this station's outer label
    QString otherStation;  // where the pack was first
    QString otherBox;
    QString otherWritten;  // when that box was written, as the database says it
    QString key;           // the conflict's own: this box, the pack, the other box
};

// A plant-wide record of packs held by two boxes: found as a station delivers a box,
// asked for while nobody has decided on them.
namespace packconflicts {

// Within the delivery's transaction: the locks of the box's packs (just inserted), held
// to the commit, which every delivery and every change of a pack takes.
void lockPacks(database::Connection &db, int schemaVersion, const QString &boxId);

// Within the delivery's transaction, its packs locked: every pack of the box that
// another box holds is recorded, and what was new is added to found. Two stations
// delivering the same pack take turns on it, so the second always sees the first.
void recordOf(database::Connection &db, int schemaVersion, const QString &boxId, const QString &outer,
              std::vector<PackConflict> &found);

// Every conflict of the station's boxes nobody has decided on yet, oldest first.
std::vector<PackConflict> openOf(database::Connection &db, int schemaVersion, const QString &station);

} // namespace packconflicts
