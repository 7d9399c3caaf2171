#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <optional>

// Files built into the program (the board's page, the schema's migrations): Qt
// resources under ":/", which no person can replace. Only such paths are read here;
// files on disk go through regularfile.
namespace builtin {

// The file's bytes; nothing when the program holds no such file (or the path is not ":/…").
std::optional<QByteArray> read(const QString &path);
// The names of the files in a built-in folder that match the pattern, in name order.
QStringList names(const QString &folder, const QString &pattern);

} // namespace builtin
