#pragma once

#include "plant/PackLocations.h"
#include "plant/Rework.h"

#include <QString>
#include <memory>
#include <optional>
#include <vector>

namespace database {
class Connection;
}

// What the board shows, read from the plant record through the role zantrel_reader;
// the one write, a supervisor's decision on a conflict, goes in through the role
// zantrel_supervisor. A failed statement drops the connection, and the next call
// connects again: a server that came back is read again without a restart.
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

struct Snapshot
{
    qint64 midnight = 0; // the board's local midnight, seconds since the epoch
    std::vector<Station> stations;
    std::vector<Conflict> conflicts; // the open ones first, then those settled today
    int openConflicts = 0;           // all of them, also beyond the list
    bool supervisor = false;         // the board's login may record decisions
    bool rework = false;             // the board's login may change recorded boxes
    bool company = false;            // a company's record: its plants, then their stations
};

// One event of a pack's or a box's story: packed, or a change since.
struct HistoryEntry
{
    QString event; // packed, take-out, put-in, void, restore
    QString station, outerLabel, middleLabel, barcode;
    qint64 at = 0; // seconds since the epoch
    QString person, reason, note;
};

struct Decision
{
    QString secondBoxId; // the conflict: the box that arrived second,
    QString barcode;     // the pack,
    QString firstBoxId;  // and the box that held it before
    QString keepIn;      // one of the two boxes
    QString decidedBy;
    QString reason;
    QString corrects; // "" for the first decision; else the last decision's id, which this one replaces
};

// AlreadySettled: a first decision where one exists, or a correction of a decision
// that is no longer the last (someone decided in between).
enum class DecisionResult { Recorded, AlreadySettled, NoSuchConflict, NotAllowed, Invalid };

class BoardData
{
public:
    // Reads from url (a standby will do); decisions and changes go to writeUrl ("" : url).
    BoardData(QString url, int idleMinutes, int answerSeconds = 5, QString writeUrl = QString());
    ~BoardData();

    // Raise a RuntimeError with the server's words when the record cannot be read.
    Snapshot snapshot(qint64 localMidnight);
    std::vector<packlocations::Location> lookup(const QString &text);
    DecisionResult decide(const Decision &d);
    // Every event of the packs with this barcode, or of the boxes with this outer label,
    // in order; empty on a record without changes.
    std::vector<HistoryEntry> history(const QString &query);
    // A change as rework::record makes it, through the board's login; its id.
    qint64 rework(const rework::Change &change);

    // The conflicts listed at most, open before settled.
    static constexpr int kListedConflicts = 200;
    // The longest name and reason a decision keeps.
    static constexpr int kLongestName = 100;
    static constexpr int kLongestReason = 1000;

private:
    database::Connection &db();
    // Where writes go: the reading connection, or one of its own to the primary.
    database::Connection &writer();
    template <typename F>
    auto dropOnFailure(F &&f) -> decltype(f());
    template <typename F>
    auto readOnFreshOnFailure(F &&f) -> decltype(f());

    QString m_url;
    int m_idleMinutes;
    int m_schemaVersion = 0;
    bool m_supervisor = false;
    bool m_rework = false;
    bool m_company = false;
    int m_answerSeconds;
    std::unique_ptr<database::Connection> m_db;
    QString m_writeUrl;
    std::unique_ptr<database::Connection> m_writer;
};

} // namespace board
