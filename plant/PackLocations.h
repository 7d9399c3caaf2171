#pragma once

#include <QString>
#include <vector>

namespace database {
class Connection;
}

// Where the plant record puts a pack: every station's boxes, as zantrel-find --db and
// the line's board show them. Values go to the server only as parameters.
namespace packlocations {

struct Location
{
    QString workbook;
    int sheetRow = 0;
    QString outerLabel;
    QString middleLabel;
    QString barcode;
    QString station;
    QString writtenAt; // "yyyy-MM-dd HH:mm:ss" in this program's time zone (not the database session's)
    int lotPacks = 0;  // a lot's row (a recall): its packs in the box, "barcode" naming the lot; 0 for a pack
};

// The packs with this barcode, in every box that holds it; a GS1 pack (in human-readable
// form, with its GTIN and serial) in whatever spelling its box has it.
std::vector<Location> byBarcode(database::Connection &db, const QString &barcode);
// Every pack of the boxes with this outer label.
std::vector<Location> byOuterLabel(database::Connection &db, const QString &label);

} // namespace packlocations
