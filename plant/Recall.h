#pragma once

#include <QString>
#include <vector>

namespace database {
class Connection;
}

// A recall: every box that holds packs of one lot of one product now, after rework,
// and the lots of a product. Asked of a plant's record or a company's (its stations
// named with their plant). Raises a RuntimeError when the record is older than the
// version that stores a pack's GS1 fields.
namespace recall {

struct Box
{
    QString outerLabel; // the outer label, an SSCC where the station labels so
    QString station;
    QString writtenAt;  // "yyyy-MM-dd HH:mm:ss" in this program's time zone
    int packs = 0;      // of the lot
    QString middles;    // the middle labels they are under, blank-separated
};

struct Lot
{
    QString lot; // "" for packs without one
    int packs = 0;
    int boxes = 0;
};

// In the order the boxes were written.
std::vector<Box> boxesOf(database::Connection &db, const QString &gtin, const QString &lot);
// By lot.
std::vector<Lot> lotsOf(database::Connection &db, const QString &gtin);

} // namespace recall
