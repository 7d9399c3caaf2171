#pragma once

#include "plant/Outbox.h"

#include <QString>
#include <optional>

namespace database {
class Connection;
}

// A box into the plant record, within the delivery's transaction: the box once, then
// its rows. A box the record holds already (by its id, or at its place) is left as it is.
namespace boxinsert {

// The box's outer label when it was stored now; nothing when the record had it.
std::optional<QString> insertBox(database::Connection &db, int schemaVersion, const Outbox::Entry &entry);
// The rows of a box insertBox just stored.
void insertRows(database::Connection &db, int schemaVersion, const Outbox::Entry &entry);

} // namespace boxinsert
