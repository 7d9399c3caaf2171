#pragma once

#include <QString>
#include <QStringList>

namespace database {
class Connection;
}

// A company's database over several plants' records: its schema (the SQL files of
// db/company, built into the program, versioned like a plant's), and one subscription
// per plant to the plant's publication zantrel_record. PostgreSQL's logical
// replication carries the rows and catches up after a plant or the company was cut off.
namespace company {

// Whether the database holds a company's record (rather than a plant's, or none).
bool isCompany(database::Connection &db);

// Makes or brings up to date the company schema; what it did, a line each. Raises a
// RuntimeError, changing nothing, on a database that holds a plant's record.
QStringList init(database::Connection &db);

struct Added
{
    QString plantId;
    QString subscription;
    bool already = false; // the plant was added before under this name: nothing done
};

// Subscribes the company to the plant record at plantUrl (as the company's server
// reaches it) under the name plantName. The plant's server must run with
// wal_level = logical and its record be of version 7 or newer; the company login must
// be a superuser. Raises a RuntimeError saying why, leaving nothing half done.
Added addPlant(database::Connection &company, const QString &plantName, const QString &plantUrl);

struct Dropped
{
    QString subscription;
    // The plant's server could not be reached, or no longer had the replication slot (a
    // plant that failed over): the slot of this name, if the plant still has it, keeps
    // WAL there until someone drops it.
    bool slotLeft = false;
};

// Stops following the plant of that name and removes its rows from the company
// database; added again, it is copied whole. After a plant's own failover (its
// replication slot stays on the dead primary) this is how the company follows the new
// primary. Raises a RuntimeError when no plant has that name.
Dropped dropPlant(database::Connection &company, const QString &plantName);

} // namespace company
