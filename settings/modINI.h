#pragma once

#include <QString>
#include <cstdint>

// The settings that outlive a run, in config.ini. Every stored value is followed
// by ";" and a comment; a read keeps the text before the first ";". Line breaks
// (CR LF pairs) are stored as "<S:BR>".
namespace modINI {

// Raises a RuntimeError when the file cannot be created or written; the old file
// is then unchanged.
void WriteIniValue(const QString &section, const QString &key, const QString &filePath, const QString &value,
                   const QString &comment);

// The caller's default when the file, section or key is missing or the stored
// text before ";" is empty.
QString ReadIniValue(const QString &section, const QString &key, const QString &filePath, const QString &defaultValue,
                     int32_t bufferSize);

// The file a spelled path reaches, as the operator should read it in a message.
QString DisplayPath(const QString &filePath);

// Whether an ordinary file (mask 0) of that path exists; never raises.
bool FileExists(const QString &path, int attributes);

} // namespace modINI
