#pragma once

#include "packing/Batch.h"

#include <QString>
#include <optional>
#include <vector>

namespace database {
class Connection;
}

// The plant's batches in its record: added and moved from state to state by a login
// in the role zantrel_planner (the record keeps who and when; the person's name and
// the reason are given here), read by stations at Start and by everyone who looks.
namespace batches {

enum class Change { Hold, Resume, Close, Abort };
// "hold", "resume", "close", "abort", as the record stores them and zantrel-db names them.
QString word(Change change);
std::optional<Change> named(const QString &word);

// A batch to add: its values (its state is released) and who adds it.
// Raises a RuntimeError in plain Chinese: the login may not (DatabaseNotAllowed); a
// value GS1 or the record would refuse, a number the record has already
// (ChangeRefused, with the record's ZR code where it has one).
// signedBy: the 工号 who signed it, once the record has operators ("" before).
void add(database::Connection &db, const Batch &batch, const QString &person, const QString &signedBy = {});

// The batch after the change: its state, its packs against plan. Raises as add does:
// no such batch, a change its state does not allow, a close while a station has a box
// of it open (naming the station and the box).
Batch change(database::Connection &db, const QString &number, Change change, const QString &person, const QString &reason,
             const QString &signedBy = {});

// Every batch, of one line or ("" ) of all, by number.
std::vector<Batch> list(database::Connection &db, const QString &line);

// The line's batches a station may take at Start (released, running, held), and the
// batch numbered also whatever its state (the one a kept box is of; "" for none).
std::vector<Batch> startable(database::Connection &db, const QString &line, const QString &also);

// One batch with its state and count; nothing when the record has none of that number.
std::optional<Batch> find(database::Connection &db, const QString &number);

// A box of a batch, as the record has it now.
struct BatchBox
{
    QString outerLabel;
    QString station;
    QString writtenAt; // "2026-12-10 10:05:00", the record's time zone
    int64_t packs = 0; // in it now, after rework
    bool afterEnd = false; // received after the batch ended (kept all the same)
};
// Every box of the batch, in the order written.
std::vector<BatchBox> boxesOf(database::Connection &db, const QString &number);

// The batch this station reported packing last; "" when none.
QString lastOf(database::Connection &db, const QString &station);

} // namespace batches
