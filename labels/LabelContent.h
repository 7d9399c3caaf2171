#pragma once

#include "labels/Label.h"
#include "packing/Box.h"

#include <QDateTime>
#include <QString>

struct ExportReceipt;

// What labels a box gives, and the key each is kept under: a label is known again
// by its key, so that the same box handed over twice prints once.
namespace labels {

// The key of a label of that kind ("box", "middle") for that identity.
QString keyOf(const QString &kind, const QString &identity);

// The outer box's label's key: the box's id, or (never in practice) its place.
QString outerKeyOf(const Box &box, const ExportReceipt &receipt);

// The middle box's label: its text, its outer box and the packs under it, made now.
Label middleLabelOf(const Box &box, const QString &middleLabel, const QString &station, const QDateTime &written);
// Its key: a middle box is filled once; the same label on another box of the day (an
// outer label used again) is another box's, so its moment and packs are in the key.
QString middleKeyOf(const Label &middle);

} // namespace labels
