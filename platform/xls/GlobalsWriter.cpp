#include "platform/xls/GlobalsWriter.h"

#include "platform/xls/Records.h"
#include "platform/xls/SharedStrings.h"
#include "platform/xls/Styles.h"

namespace xls {

namespace {

// Sheet names are 1 to 31 characters.
QString usableName(const QString &name, size_t index)
{
    const QString trimmed = name.left(31);
    return trimmed.isEmpty() ? QStringLiteral("Sheet%1").arg(index + 1) : trimmed;
}

} // namespace

std::vector<size_t> writeGlobals(ByteSink &out, const std::vector<QString> &sheetNames, const SharedStrings &strings)
{
    records::bof(out, records::Substream::Globals);
    records::interfaceHdr(out);
    records::mms(out);
    records::interfaceEnd(out);
    records::writeAccess(out, "Zantrel");
    records::codePage(out);
    records::dsf(out);
    records::rrTabId(out, sheetNames.size());
    records::fnGroupCount(out);
    records::noProtection(out);
    records::window1(out);
    records::workbookOptions(out);
    writeStyles(out);
    records::usesElfs(out);
    std::vector<size_t> sheetOffsets;
    for (size_t i = 0; i < sheetNames.size(); ++i)
        sheetOffsets.push_back(records::boundSheet(out, usableName(sheetNames[i], i)));
    records::country(out);
    strings.write(out);
    records::eof(out);
    return sheetOffsets;
}

} // namespace xls
