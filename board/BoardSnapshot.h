#pragma once

#include <QString>
#include <optional>
#include <vector>

namespace database {
class Connection;
}

// What the board's page shows of the line: every station's day and the conflicts,
// read in one view of the record (a plant's, or a company's over its plants).
namespace board {

struct HourCount
{
    int hour = 0; // from local midnight, 0–23 (24 on the day clocks go back)
    int boxes = 0;
    qint64 packs = 0;
};

enum class StationState { Writing, Idle, NotHeard };

// Idle: heard from, but no box for longer than idleMinutes. Not heard: nothing from
// the station for two minutes, four of its reports (it reports every 30 s).
StationState stateOf(qint64 secondsSinceBox, qint64 secondsSinceHeard, int idleMinutes);

struct Station
{
    QString name;  // in a company's record: "plant / station"
    QString plant; // "" in a plant's record
    int boxesToday = 0;
    qint64 packsToday = 0;
    QString lastBox;   // outer label, "" when it never wrote one
    qint64 lastBoxAt = 0; // seconds since the epoch
    qint64 secondsSinceBox = -1;
    qint64 heardAt = 0;
    qint64 secondsSinceHeard = -1; // -1: never heard from
    int backlog = -1;             // boxes waiting in its outbox when it last reported; -1: unknown
    QString packing;
    QString product, lot; // of the GS1 packs of its open box; "" when none
    // GS1 packs written today, by product and lot (each box's, its first pack's), in that order.
    struct LotCount
    {
        QString gtin, lot;
        qint64 packs = 0;
    };
    std::vector<LotCount> lotsToday;
    std::optional<int> clockSkew; // seconds its clock is ahead of the server's, as it last reported
    StationState state = StationState::NotHeard;
    std::vector<HourCount> hours; // only hours with boxes, in order
};

struct Conflict
{
    QString barcode;
    QString firstStation, firstBox, firstBoxId;
    qint64 firstWritten = 0;
    QString secondStation, secondBox, secondBoxId;
    qint64 secondWritten = 0;
    bool settled = false;
    QString keepIn, decidedBy, reason; // the last decision
    qint64 decidedAt = 0;
    QString decisionId; // of the last decision: a correction names the one it corrects
};

// A batch as the board lists it: its state, plan and packs now, the stations on it.
struct BatchView
{
    QString number, line, state; // state as the record stores it ("running" …)
    QString plant;               // "" in a plant's record
    qint64 planned = 0, packed = 0;
    QString gtin, lot, expiry;
    QString stations; // comma-separated; "" when none packs it now
};

struct Snapshot
{
    qint64 midnight = 0; // the board's local midnight, seconds since the epoch
    std::vector<Station> stations;
    std::vector<Conflict> conflicts; // the open ones first, then those settled today
    int openConflicts = 0;           // all of them, also beyond the list
    bool supervisor = false;         // the board's login may record decisions
    bool rework = false;             // the board's login may change recorded boxes
    bool company = false;            // a company's record: its plants, then their stations
    std::vector<BatchView> batches;  // not ended, or changed today; none before the record has batches
};

// What a snapshot is read from: the record's version and kind, and when a station is idle.
struct SnapshotSource
{
    int schemaVersion = 0;
    bool company = false;
    int idleMinutes = 10;
};

// The batches listed at most.
constexpr int kListedBatches = 200;

// The conflicts listed at most, open before settled.
constexpr int kListedConflicts = 200;

// Raises a RuntimeError with the server's words when the record cannot be read.
Snapshot readSnapshot(database::Connection &c, const SnapshotSource &source, qint64 localMidnight);

} // namespace board
