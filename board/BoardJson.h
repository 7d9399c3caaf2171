#pragma once

#include "board/BoardData.h"
#include "board/SharedSnapshot.h"

#include <QJsonObject>

// The page's data as JSON: every text as a string value, for the page to show as
// text. Every time is converted here, and only here, into the board's time zone.
namespace board {

struct PageRules
{
    int idleMinutes = 10;
    bool token = false; // started with a token: decisions are possible for a supervisor's login
};

// The stations as the page lists them: not heard from first, then idle, then writing;
// by name within each.
std::vector<Station> problemsFirst(std::vector<Station> stations);

// "未联系 N · 空闲 N · 在写 N · 今日全线 N 箱 N 包 · 待决定 N"
QString summaryLine(const Snapshot &s);

// last: nothing when the record was never read.
QJsonObject snapshotJson(const Snapshot *last, const Freshness &f, qint64 now, const PageRules &rules);
QJsonObject lookupJson(const QString &query, const std::vector<packlocations::Location> &found,
                       const std::vector<HistoryEntry> &history = {});
// A batch's boxes, for its row on the page.
QJsonObject batchBoxesJson(const QString &batch, const std::vector<batches::BatchBox> &boxes);

} // namespace board
