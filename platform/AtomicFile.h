#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <functional>

// Replaces a file so that a crash at any moment leaves either the old content or
// the new one: temporary file in the same folder, write, fsync, rename, fsync folder.
// A failure raises a RuntimeError and leaves the old file as it was.
void replaceFileAtomically(const QString &path, const QByteArray &content);
// The same, with the content written by `write` straight into the temporary file
// (its descriptor, at offset 0), so that nothing big is put together in memory
// first. `write` returns 0, or the errno value of a failed write.
void replaceFileAtomically(const QString &path, const std::function<int(int fd)> &write);
// The same for a file only its owner may read or write (0600, whatever it was before):
// what must not be read by another user of the machine.
void replacePrivateFileAtomically(const QString &path, const QByteArray &content);

// Removes the temporary files that a replace of one of these files left behind
// when the process was killed ("<name>.tmp-XXXXXX" beside it); nothing else.
// Returns how many were removed.
int removeLeftoverTemporaries(const QString &folder, const QStringList &fileNamePatterns);

// Each step asks the fault seam (platform/FaultSeam.h) whether a test makes it fail.
