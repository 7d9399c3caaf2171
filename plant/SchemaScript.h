#pragma once

#include <QString>
#include <optional>

// A migration built into the program, as one script: each line "\ir FILE" (psql's
// include, relative to the migration's folder) is replaced by that file, so that a
// plant's record and a company's database apply one definition.
namespace schemascript {

// Nothing when the program holds no such file, or one it includes.
std::optional<QString> read(const QString &path);

} // namespace schemascript
