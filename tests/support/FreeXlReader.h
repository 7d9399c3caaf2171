#pragma once

#include "platform/xls/WorkbookData.h"

#include <QString>
#include <QStringList>

namespace xls {

// Every cell value of every sheet of an existing workbook. Raises a RuntimeError
// naming the file and FreeXL's reason when it cannot be read in full.
Workbook readWorkbook(const QString &path);

} // namespace xls
