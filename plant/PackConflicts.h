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

// The packs of boxes being delivered, as their rows give them: the box's id, the
// text, and the GTIN and serial of a GS1 pack (null otherwise).
struct Packs
{
    QStringList box, text, gtin, serial;
};
void addPacksOf(Packs &packs, const QString &boxId, const std::vector<BoxRow> &rows);

// Within the delivery's transaction: the locks of these packs, held to the commit,
// which every delivery and every change of a pack takes.
void lockPacks(database::Connection &db, int schemaVersion, const Packs &packs);

// A pack of a box being delivered that another box holds now.
struct Elsewhere
{
    QString box, barcode, earlierBox;
};
// Within the delivery's transaction, from the GS1 version on, the packs locked and the
// boxes' rows not yet stored: the packs another box of the record holds now, then those
// an earlier box of the same delivery holds. Two stations delivering the same pack take
// turns on it, so the second always sees the first.
std::vector<Elsewhere> heldElsewhere(database::Connection &db, const Packs &packs);
// Then, the boxes' rows stored: those become conflicts of the record, and what was new
// is added to found, box by box in the delivery's order.
void record(database::Connection &db, const std::vector<Elsewhere> &elsewhere, const QStringList &boxes,
            const QStringList &outers, std::vector<PackConflict> &found);
// Before the GS1 version: a box's rows stored and its packs locked, its packs that
// another box holds become conflicts, and what was new is added to found.
void recordOf(database::Connection &db, int schemaVersion, const QString &boxId, const QString &outer,
              std::vector<PackConflict> &found);

// Every conflict of the station's boxes nobody has decided on yet, oldest first.
std::vector<PackConflict> openOf(database::Connection &db, int schemaVersion, const QString &station);

} // namespace packconflicts
