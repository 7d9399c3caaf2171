#pragma once

#include <QDateTime>
#include <QString>
#include <vector>

// The operators who logged in at this station, for a login while the plant record is out
// of reach: operators.txt in the program folder, readable by the station's user only,
// one line each with the verifier the record checked him against (never a password):
//
//   # Zantrel …
//   operator P001 李包装 packer 2026-12-10T11:00:05.120+08:00 $argon2id$v=19$m=…
//
// Texts escape the backslash, blanks and control characters as \\ and \xHH.
namespace keptlogins {

QString fileName();

struct Kept
{
    QString id;
    QString name;
    QString role;
    QDateTime at; // when he last logged in here with the record
    QString verifier;
};

// What the file holds, the last line of each operator; a line that does not read is
// skipped (its operator only cannot log in offline), a file that cannot be read gives none.
std::vector<Kept> read(const QString &programFolder);

// The operator kept (replacing what the file held of him), the file written whole, only
// its owner may read it. Raises a RuntimeError when it cannot be written.
void keep(const QString &programFolder, const Kept &kept);

} // namespace keptlogins
