#include "platform/xls/GlobalsWriter.h"

#include "platform/xls/BiffRecords.h"
#include "platform/xls/SharedStrings.h"
#include "platform/xls/Styles.h"

namespace xls {

namespace {

void writeWriteAccess(ByteSink &out)
{
    static const char kUser[] = "Zantrel";
    out.header(rec::kWriteAccess, 112);
    out.u16(uint16_t(sizeof(kUser) - 1));
    out.u8(0);
    out.bytes(kUser, sizeof(kUser) - 1);
    out.bytes(std::string(112 - 3 - (sizeof(kUser) - 1), ' ').data(), 112 - 3 - (sizeof(kUser) - 1));
}

void writeWindow1(ByteSink &out)
{
    out.header(rec::kWindow1, 18);
    out.u16(0x0168); // position and size in twips
    out.u16(0x001E);
    out.u16(0x4000);
    out.u16(0x2000);
    out.u16(0x0038); // horizontal and vertical scroll bars, sheet tabs
    out.u16(0);      // the first sheet is active
    out.u16(0);      // and the first tab shown
    out.u16(1);      // one tab selected
    out.u16(0x0258); // tab bar width ratio
}

// Sheet names are 1 to 31 characters.
QString usableName(const QString &name, size_t index)
{
    const QString trimmed = name.left(31);
    return trimmed.isEmpty() ? QStringLiteral("Sheet%1").arg(index + 1) : trimmed;
}

size_t writeBoundSheet(ByteSink &out, const QString &name)
{
    bool wide = false;
    for (QChar c : name)
        wide = wide || c.unicode() > 0xFF;
    const size_t at = out.begin(rec::kBoundSheet);
    const size_t offsetAt = out.size();
    out.u32(0); // patched with the sheet's BOF position
    out.u8(0);  // visible
    out.u8(0);  // worksheet
    out.u8(uint8_t(name.size()));
    out.u8(wide ? 1 : 0);
    for (QChar c : name) {
        if (wide)
            out.u16(c.unicode());
        else
            out.u8(uint8_t(c.unicode()));
    }
    out.end(at);
    return offsetAt;
}

} // namespace

void writeBof(ByteSink &out, uint16_t substreamType)
{
    out.header(rec::kBof, 16);
    out.u16(0x0600); // BIFF8
    out.u16(substreamType);
    out.u16(0x0DBB); // build
    out.u16(0x07CC); // year
    out.u32(0);
    out.u32(0x06);
}

void writeEof(ByteSink &out)
{
    out.header(rec::kEof, 0);
}

std::vector<size_t> writeGlobals(ByteSink &out, const std::vector<QString> &sheetNames, const SharedStrings &strings)
{
    writeBof(out, 0x0005);
    out.u16Record(rec::kInterfaceHdr, 0x04B0);
    out.u16Record(rec::kMms, 0);
    out.header(rec::kInterfaceEnd, 0);
    writeWriteAccess(out);
    out.u16Record(rec::kCodePage, 0x04B0);
    out.u16Record(rec::kDsf, 0);
    out.header(rec::kRrTabId, uint16_t(2 * sheetNames.size()));
    for (size_t i = 0; i < sheetNames.size(); ++i)
        out.u16(uint16_t(i + 1));
    out.u16Record(rec::kFnGroupCount, 14);
    out.u16Record(rec::kWindowProtect, 0);
    out.u16Record(rec::kProtect, 0);
    out.u16Record(rec::kPassword, 0);
    out.u16Record(rec::kProt4Rev, 0);
    out.u16Record(rec::kProt4RevPass, 0);
    writeWindow1(out);
    out.u16Record(rec::kBackup, 0);
    out.u16Record(rec::kHideObj, 0);
    out.u16Record(rec::kDate1904, 0);
    out.u16Record(rec::kPrecision, 1);
    out.u16Record(rec::kRefreshAll, 0);
    out.u16Record(rec::kBookBool, 0);
    writeStyles(out);
    out.u16Record(rec::kUsesElfs, 0);

    std::vector<size_t> sheetOffsets;
    for (size_t i = 0; i < sheetNames.size(); ++i)
        sheetOffsets.push_back(writeBoundSheet(out, usableName(sheetNames[i], i)));

    out.header(rec::kCountry, 4);
    out.u16(1);
    out.u16(86);
    strings.write(out);
    writeEof(out);
    return sheetOffsets;
}

} // namespace xls
