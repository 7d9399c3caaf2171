#pragma once

#include "packing/Box.h"

#include <QString>
#include <QStringList>
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

// A delivered box's packs, as its rows give them: text, and the GTIN and serial of a
// GS1 pack (null otherwise).
struct Packs
{
    QStringList text, gtin, serial;
};
Packs packsOf(const std::vector<BoxRow> &rows);

// Within the delivery's transaction: the locks of the box's packs, held to the commit,
// which every delivery and every change of a pack takes.
void lockPacks(database::Connection &db, int schemaVersion, const Packs &packs);

// A pack of the box that another box holds now.
struct Elsewhere
{
    QString barcode, earlierBox;
};
// Within the delivery's transaction, its packs locked and its rows not yet stored:
// the packs another box holds now (a record from the GS1 version on; an older one
// is asked by recordOf). Two stations delivering the same pack take turns on it, so
// the second always sees the first.
std::vector<Elsewhere> heldElsewhere(database::Connection &db, int schemaVersion, const QString &boxId, const Packs &packs);
// Then, the box's rows stored: those become conflicts of the record, and what was new
// is added to found.
void recordOf(database::Connection &db, int schemaVersion, const QString &boxId, const QString &outer,
              const std::vector<Elsewhere> &elsewhere, std::vector<PackConflict> &found);

// Every conflict of the station's boxes nobody has decided on yet, oldest first.
std::vector<PackConflict> openOf(database::Connection &db, int schemaVersion, const QString &station);

} // namespace packconflicts
