#pragma once

#include "platform/Database.h"

#include <QString>
#include <optional>

// Outer labels as the plant record has them.
namespace recordedlabels {

// The first box of the record with this outer label, as the operator reads it:
// 工位 line3-a，files/20261207.xls 第 2 行. Nothing when the record has none.
std::optional<QString> firstUse(database::Connection &db, const QString &outerLabel);

} // namespace recordedlabels
