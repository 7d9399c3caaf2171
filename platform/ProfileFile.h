#pragma once

#include <QString>
#include <cstdint>
#include <optional>

// Keyed values in a profile-format file ([section] lines, key=value entries), with
// the rules of the Windows profile functions: names without regard to case, blanks
// and one pair of outer quotes stripped on read, ';' comment lines, the first of
// duplicate keys and sections wins, CRLF, LF and CR line ends.
namespace profile {

// A program file as the callers spell it (backslashes, any case of the name) to the
// real file: an existing file whose name differs only by case is found, the
// lower-case spelling preferred; a missing file resolves to the lower-case name.
QString resolvePath(const QString &spelledPath);

// The text of the entry, cut to bufferSize - 1 characters; nothing when the file,
// the section or the key is missing. Bytes are taken as UTF-8.
std::optional<QString> readValue(const QString &path, const QString &section, const QString &key,
                                 int32_t bufferSize);

// Sets the entry, creating the section or key as needed, replacing the file
// atomically and keeping every other line byte for byte. Raises a RuntimeError
// when the file cannot be written; the old file is then unchanged.
void writeValue(const QString &path, const QString &section, const QString &key, const QString &text);

// Creates an empty file (its folder must exist); raises a RuntimeError otherwise.
void createEmptyFile(const QString &path);

// The directory search of the file-existence test: the first name matching the
// path (wildcards * and ? allowed, case ignored), or "" when nothing matches.
// Attribute mask 0 counts only ordinary files; 2 adds hidden ones, 16 folders.
QString findFirst(const QString &path, int attributes);

} // namespace profile
