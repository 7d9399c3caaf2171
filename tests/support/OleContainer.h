#pragma once

#include <QByteArray>
#include <string>

namespace xls {

// An OLE2 compound document holding one stream named "Workbook", in memory.
// Raises a RuntimeError when the container cannot be built.
QByteArray compoundDocument(const std::string &workbookStream);

} // namespace xls
