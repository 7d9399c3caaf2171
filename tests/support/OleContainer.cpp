#include "support/OleContainer.h"

#include "platform/xls/CompoundDocument.h"

namespace xls {

QByteArray compoundDocument(const std::string &workbookStream)
{
    CompoundEntry root;
    root.storage = true;
    CompoundEntry workbook;
    workbook.name = "Workbook";
    workbook.data = workbookStream;
    root.children.push_back(std::move(workbook));
    return writeCompoundDocument(root);
}

} // namespace xls
