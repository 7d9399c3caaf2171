#pragma once

#include "board/BoardData.h"

#include <QJsonObject>

// The page's data as JSON: every text as a string value, for the page to show as
// text; times in the board's local time.
namespace board {

QJsonObject snapshotJson(const Snapshot &s, qint64 now, int idleMinutes, bool canDecide);
QJsonObject lookupJson(const QString &query, const std::vector<packlocations::Location> &found);

} // namespace board
