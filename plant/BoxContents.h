#pragma once

#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

namespace database {
class Connection;
}

// What a recorded box holds, rework included: the packs it was packed with, less those
// taken out, with those put in; its middle boxes, those it was packed with and those a
// put-in named. Changes are replayed in their order, as the record's own rules read them.
namespace boxcontents {

struct Held
{
    QString text;   // as the record has it
    QString middle; // the middle box it is in; "" when in the outer box itself
    QString gtin, serial, lot, expiry; // a GS1 pack's ("" when not)
};

struct Contents
{
    QStringList middles;     // in the order they came into the box
    std::vector<Held> packs; // the same
    // The packs in that middle box ("" for those put into the outer box itself).
    std::vector<Held> in(const QString &middle) const;
};

// What the record's version holds: GS1 fields (version 10 and later), changes (6 and later).
struct Schema
{
    bool gs1 = true;
    bool changes = true;
    static Schema of(int version);
};

// The box as it stood just before the change numbered `before`, or after every
// change (nothing).
Contents of(database::Connection &db, const QString &boxId, std::optional<qint64> before, Schema schema);

} // namespace boxcontents
