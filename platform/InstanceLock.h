#pragma once

#include <QString>

// One running station per program folder: an exclusive flock on a file there,
// held for the life of the process (the system frees it when the process ends,
// also after a crash).
namespace instance {

// True when this process now holds the folder's lock; false when another holds
// it. Raises a RuntimeError when the lock file cannot be opened at all.
bool lockProgramFolder(const QString &folder);

// The lock file's name in the program folder.
QString lockFileName();

} // namespace instance
