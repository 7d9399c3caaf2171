#pragma once

#include "platform/Database.h"
#include "packing/Box.h"

#include <QDateTime>
#include <QString>
#include <optional>
#include <vector>

// Outer labels as the plant record has them.
namespace recordedlabels {

// The first box of the record with this outer label, as the operator reads it:
// 工位 line3-a，files/20261207.xls 第 2 行. Nothing when the record has none.
std::optional<QString> firstUse(database::Connection &db, const QString &outerLabel);

// A recorded box that is not void.
struct Box
{
    QString id;
    QString station;
    QDateTime written;
};
// The boxes with this outer label now, of that station only when one is given, oldest first.
std::vector<Box> boxesNow(database::Connection &db, const QString &outerLabel, const QString &station);

// The box's rows as it stands now, rework included: its outer label, each middle
// label with the packs in it, then the packs put into the outer box itself. GS1 packs
// carry their fields.
std::vector<BoxRow> rowsNow(database::Connection &db, const Box &box, const QString &outerLabel);

} // namespace recordedlabels
