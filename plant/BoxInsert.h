#pragma once

#include "plant/Outbox.h"

#include <QString>
#include <optional>
#include <vector>

namespace database {
class Connection;
}

// Boxes into the plant record, within the delivery's transaction: each box once, then
// their rows. A box the record holds already (by its id, or at its place) is left as it is.
namespace boxinsert {

// A box stored now, with its outer label.
struct Stored
{
    const Outbox::Entry *entry;
    QString outer;
};

// The box's outer label when it was stored now; nothing when the record had it.
std::optional<QString> insertBox(database::Connection &db, int schemaVersion, const Outbox::Entry &entry);
// These boxes, in one statement (a record from the GS1 version on): the ones stored now,
// in their order.
std::vector<Stored> insertBoxes(database::Connection &db, int schemaVersion, const Outbox::Entry *first, size_t count);
// The rows of boxes just stored.
void insertRows(database::Connection &db, int schemaVersion, const std::vector<Stored> &boxes);

} // namespace boxinsert
