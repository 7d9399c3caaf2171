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

// From this version boxes change by records of their own (take-out, put-in, void):
// where a pack is now is zantrel.packs_now, no longer the rows it was packed in.
constexpr int kReworkVersion = 6;
// From this version the record has an id of its own, carried by its rows, and offers
// its tables to a company database (publication zantrel_record).
constexpr int kCompanyFeedVersion = 7;
// From this version a GS1 pack's fields are stored beside its text, and packs are
// compared by them (zantrel.pack_key): the same pack however it was spelled.
constexpr int kGs1Version = 10;
// From this version a line packs batches: every box may name its batch (boxes.batch),
// a station reports the batch it packs, and planners change a batch's state.
constexpr int kBatchVersion = 14;
// From this version the record knows operators: every --by is a 工号 who signs with a
// password once it has any, and logins are checked against verifiers it keeps.
constexpr int kOperatorVersion = 15;

// The newest version this program knows.
int knownVersion();

// The version the database holds: 0 without the schema.
int installedVersion(database::Connection &db);

// Raises a RuntimeError (SchemaUnusable) when the database holds an older version than
// the one that has what is asked for ("批次", "操作员"), telling to run zantrel-db init.
void require(database::Connection &db, int version, const QString &what);

// Brings the schema to knownVersion(); returns what it did, a line each ("" lines
// never). Raises a RuntimeError, leaving the last whole version in place, when a
// migration fails or the database holds a newer version than this program knows.
QStringList migrate(database::Connection &db);

// Gives a station's name to a login: only that login may then add the station's
// boxes, state and conflicts. Raises when the login does not exist or the schema
// is older than version 5.
void addStation(database::Connection &db, const QString &station, const QString &login);

} // namespace plantschema
