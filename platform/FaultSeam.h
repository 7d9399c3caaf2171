#pragma once

#include <QString>
#include <functional>

// The one seam through which tests make the program fail as the system would (also
// when they run as root, who reads through any permission) or stop it part-way: every
// point where that may happen asks here. As the program runs no hook is set and
// nothing happens.
namespace faultseam {

enum class Point {
    // A file replaced whole, step by step.
    CreateTemporary,
    Write,
    SyncFile,
    Rename,
    SyncFolder,
    // A regular file opened; `what` is its path.
    Open,
    // Before each statement of a delivery to the plant record and before the outbox is
    // compacted (a test kills the process there).
    DeliveryStep,
};
// A point of a file's replacement.
bool replacing(Point point);

// The hook returns an errno value to fail the call with, or 0 to let it run (a
// delivery step's answer is not used).
using Hook = std::function<int(Point point, const QString &what)>;
void setForTests(Hook hook);
int at(Point point, const QString &what = QString());

} // namespace faultseam
