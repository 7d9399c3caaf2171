#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

// Reading a file that a person at the PC could have replaced by anything: a folder,
// a pipe that never delivers, a link to a device that never ends. Every reader of
// the station and its tools goes through here. The file is opened without blocking
// and checked to be a regular file before its first byte is read, and the read
// stops at a bound that no genuine file of its kind reaches.
namespace regularfile {

// Bounds, each beyond anything the station or a person could save in that kind of file.
constexpr int64_t kConfigLimit = 4ll << 20;   // config.ini: a few dozen short lines in practice
constexpr int64_t kJournalLimit = 64ll << 20; // open-box.txt: 65,535 rows of 1 KiB
constexpr int64_t kOutboxLimit = 256ll << 20; // boxes waiting for the plant record
constexpr int64_t kWorkbookLimit = 256ll << 20; // an .xls: 65,536 rows by 256 columns on each of a few sheets
constexpr int64_t kSoundLimit = 16ll << 20;     // sounds/*.wav: a few seconds of sound

// The whole file. Nothing when there is nothing at the path (no file, or a link to
// nothing). Raises a RuntimeError (source "RegularFile") whose description says in
// Chinese what is wrong, for the caller to put beside the file's name: a folder, a
// pipe, a device, larger than the bound, a loop of links, no permission …
std::optional<QByteArray> read(const QString &path, int64_t limit);
// The same into a buffer the caller keeps (its memory serves again afterwards); false
// when nothing is there.
bool read(const QString &path, int64_t limit, std::string &into);

// Why a path cannot be read as a file of at most that size, or "" when it can be
// (or when nothing is there). Opens nothing that could block.
QString whyNotReadable(const QString &path, int64_t limit);

// Appends to a regular file, creating it when nothing is there; on disk (fdatasync)
// before it returns. A pipe, a device or a folder in its place is refused without
// waiting on it. Raises a RuntimeError (source "RegularFile") with the reason.
void append(const QString &path, const QByteArray &bytes);

// A file renamed or removed by its path alone (nothing is opened, so nothing can
// block). "" when done, or when nothing was there to remove; else why not, in Chinese.
QString rename(const QString &from, const QString &to);
QString remove(const QString &path);
// The folder and any missing folder above it; "" when done or already there, else why not.
QString makeFolders(const QString &path);

// Opening a path asks the fault seam (platform/FaultSeam.h) whether a test makes it fail.

} // namespace regularfile
