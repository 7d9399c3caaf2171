#pragma once

#include <QString>

// One running station per program folder: an exclusive flock on the folder itself,
// held for the life of the process (the system frees it when the process ends,
// also after a crash). The folder cannot be removed from under a running station
// the way a lock file could, and nothing is created in it.
namespace instance {

// True when this process now holds the folder's lock; false when another holds
// it. Raises a RuntimeError when the folder cannot be opened or locked at all.
bool lockProgramFolder(const QString &folder);

} // namespace instance
