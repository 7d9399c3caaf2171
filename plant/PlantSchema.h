#pragma once

#include <QString>
#include <QStringList>

namespace database {
class Connection;
}

// The plant record's schema "zantrel": versioned migrations (the SQL files of db/,
// built into the program), applied each in one transaction with its version
// recorded, by zantrel-db and never by a station.
namespace plantschema {

// The newest version this program knows.
int knownVersion();

// The version the database holds: 0 without the schema.
int installedVersion(database::Connection &db);

// Brings the schema to knownVersion(); returns what it did, a line each ("" lines
// never). Raises a RuntimeError, leaving the last whole version in place, when a
// migration fails or the database holds a newer version than this program knows.
QStringList migrate(database::Connection &db);

} // namespace plantschema
