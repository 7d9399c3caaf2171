#pragma once

#include "station/ports/PlantHandoff.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

namespace database {
class Connection;
}

// What a station tells the record with each delivery: that it is there, how many
// boxes wait in its outbox, what it packs, the boxes the record refused it, and its
// clock beside the server's.
namespace stationreport {

struct StateReport
{
    QString station;
    int backlog = 0;
    OpenBoxReport packing;
    QStringList refused; // the boxes the record refused, each named with why
    QDateTime localTime; // the station's clock now
};

// Returns how many seconds the station's clock is ahead of the server's.
int reportState(database::Connection &db, int schemaVersion, const StateReport &report);

} // namespace stationreport
