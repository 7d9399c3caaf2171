#pragma once

#include <QString>

namespace database {
class Connection;
}

// A supervisor's decision on a conflict, the board's one write besides rework.
namespace board {

struct Decision
{
    QString secondBoxId; // the conflict: the box that arrived second,
    QString barcode;     // the pack,
    QString firstBoxId;  // and the box that held it before
    QString keepIn;      // one of the two boxes
    QString decidedBy;
    QString reason;
    QString corrects; // "" for the first decision; else the last decision's id, which this one replaces
    QString signedBy; // the 工号 who signed it with his password, once the record has operators
};

// AlreadySettled: a first decision where one exists, or a correction of a decision
// that is no longer the last (someone decided in between).
// NotSigned: the record has operators and nobody signed it.
enum class DecisionResult { Recorded, AlreadySettled, NoSuchConflict, NotAllowed, Invalid, NotSigned };

// The longest name and reason a decision keeps.
constexpr int kLongestName = 100;
constexpr int kLongestReason = 1000;

// Whether the decision is whole: named, reasoned, about a conflict's two boxes.
bool isWhole(const Decision &d);

// Records a whole decision through the writer's connection (a supervisor's login);
// NotAllowed for any other login.
DecisionResult recordDecision(database::Connection &writer, const Decision &d);

} // namespace board
