#pragma once

#include <QString>

class Box;
struct ExportReceipt;
struct PackingState;

// Where a box's label goes to be printed, when the station prints labels; and what
// the scan window shows of it. Printing never stops the line: nothing here raises,
// and a label that cannot be printed now is kept and told on the print line.
class LabelHandoff
{
public:
    virtual ~LabelHandoff() = default;
    // The box as written: its outer label, printed once, also across a crash.
    virtual void boxWritten(const Box &box, const ExportReceipt &receipt) = 0;
    // The last pack of a middle box was listed.
    virtual void middleFilled(const Box &box, const QString &middleLabel) = 0;
    // The last outer label printed again, marked as a reprint.
    virtual void reprintLast() = 0;
    // The status panel's print line.
    virtual QString stateLine() const = 0;
    // Why this job's labels cannot be printed at their size ("" when they can); Start refuses then.
    virtual QString misfit(const PackingState &job) const = 0;
};
