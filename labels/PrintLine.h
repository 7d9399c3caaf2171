#pragma once

#include "labels/KeptLabel.h"

#include <QString>
#include <QStringList>
#include <optional>

// The print line of the scan window: what the labels' way to the printer is like now,
// and which label F9 reprints.
namespace labels {

struct PrintLineParts
{
    QString printer;
    QString error;        // the print system's refusal in the last pass
    QString handingOver;  // the label whose hand-over began and has no answer yet
    QString keepProblem;  // why labels could not be kept on disk
    QString notice;       // a kept file set aside, and the like
    int waiting = 0;      // labels not yet printed
    int inMemory = 0;     // of them, only in memory
    const Kept *oldestFailed = nullptr;
    size_t failedCount = 0;
    QStringList inFlight; // handed over, not yet completed, oldest first
    std::optional<Label> lastDone;
    std::optional<Label> lastOuter;
};

QString printLine(const PrintLineParts &p);

} // namespace labels
