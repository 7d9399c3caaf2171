#include "platform/xls/Records.h"

#include "platform/xls/BiffRecords.h"

#include <string>

namespace xls::records {

namespace {

constexpr uint16_t kBiff8 = 0x0600;
constexpr uint16_t kBuild = 0x0DBB;
constexpr uint16_t kBuildYear = 0x07CC;
constexpr uint32_t kLowestVersion = 0x06; // sfo: BIFF8
constexpr uint16_t kUnicodeCodePage = 0x04B0; // 1200: UTF-16
constexpr size_t kWriteAccessLength = 112;
constexpr uint16_t kFunctionGroups = 14;
constexpr uint16_t kAutomaticColour = 0x7FFF;
constexpr uint16_t kNormalWeight = 400;
constexpr uint8_t kGeneralBottomAlignment = 0x20;
constexpr uint16_t kAutomaticPattern = 0x20C0;
constexpr uint16_t kBuiltInStyle = 0x8000;
constexpr uint8_t kNormalStyle = 0;
constexpr uint8_t kNoOutlineLevel = 0xFF;
constexpr uint16_t kChina = 86;
constexpr uint16_t kUnitedStates = 1;
constexpr uint16_t kDefaultRowTwips = 255;
constexpr uint16_t kRowHeightDefaultFlag = 0x00FF; // ROW.miyRw: the default height
constexpr uint16_t kRowReserved = 0x0100;          // ROW flags: the bit that must be 1
constexpr uint16_t kGeneralCellXf = 15;
constexpr uint16_t kColInfoUserSet = 0x0002;
constexpr uint16_t kWsBoolFlags = 0x04C1; // show automatic breaks, outline symbols, fit to page off
constexpr uint16_t kA4 = 9;
constexpr uint16_t kNoPrinterSettings = 0x0004;
constexpr uint16_t kPrintDpi = 300;
constexpr double kHeaderMarginInches = 0.5;
constexpr uint16_t kDefaultColumnCharacters = 8;
constexpr uint16_t kWindow2Selected = 0x06B6;   // gridlines, headings, zeros, outline, selected, active
constexpr uint16_t kWindow2Unselected = 0x00B6; // the same, not selected
constexpr uint32_t kGridlineColour = 0x40;       // icvHdr: the automatic colour

void u16Record(ByteSink &out, uint16_t type, uint16_t value)
{
    out.header(type, 2);
    out.u16(value);
}

// Every cell record starts with the cell: rw u16, col u16, ixfe u16.
void cellStart(ByteSink &out, uint16_t type, uint16_t length, uint16_t rowIndex, uint16_t column, uint16_t format)
{
    out.header(type, length);
    out.u16(rowIndex);
    out.u16(column);
    out.u16(format);
}

// ShortXLUnicodeString: cch u8, fHighByte u8, the characters.
void shortString(ByteSink &out, const QString &s)
{
    bool wide = false;
    for (QChar c : s)
        wide = wide || c.unicode() > 0xFF;
    out.u8(uint8_t(s.size()));
    out.u8(wide ? 1 : 0);
    for (QChar c : s) {
        if (wide)
            out.u16(c.unicode());
        else
            out.u8(uint8_t(c.unicode()));
    }
}

} // namespace

void bof(ByteSink &out, Substream kind)
{
    out.header(rec::kBof, 16);
    out.u16(kBiff8);
    out.u16(uint16_t(kind));
    out.u16(kBuild);
    out.u16(kBuildYear);
    out.u32(0);
    out.u32(kLowestVersion);
}

void eof(ByteSink &out)
{
    out.header(rec::kEof, 0);
}

void interfaceHdr(ByteSink &out)
{
    u16Record(out, rec::kInterfaceHdr, kUnicodeCodePage);
}

void mms(ByteSink &out)
{
    u16Record(out, rec::kMms, 0);
}

void interfaceEnd(ByteSink &out)
{
    out.header(rec::kInterfaceEnd, 0);
}

void writeAccess(ByteSink &out, const char *user)
{
    const std::string name(user);
    out.header(rec::kWriteAccess, kWriteAccessLength);
    out.u16(uint16_t(name.size()));
    out.u8(0); // 8-bit characters
    out.bytes(name.data(), name.size());
    const size_t padding = kWriteAccessLength - 3 - name.size();
    out.bytes(std::string(padding, ' ').data(), padding);
}

void codePage(ByteSink &out)
{
    u16Record(out, rec::kCodePage, kUnicodeCodePage);
}

void dsf(ByteSink &out)
{
    u16Record(out, rec::kDsf, 0);
}

void rrTabId(ByteSink &out, size_t sheets)
{
    out.header(rec::kRrTabId, uint16_t(2 * sheets));
    for (size_t i = 0; i < sheets; ++i)
        out.u16(uint16_t(i + 1));
}

void fnGroupCount(ByteSink &out)
{
    u16Record(out, rec::kFnGroupCount, kFunctionGroups);
}

void noProtection(ByteSink &out)
{
    for (uint16_t type : {rec::kWindowProtect, rec::kProtect, rec::kPassword, rec::kProt4Rev, rec::kProt4RevPass})
        u16Record(out, type, 0);
}

void window1(ByteSink &out)
{
    out.header(rec::kWindow1, 18);
    out.u16(0x0168); // xWn, yWn, dxWn, dyWn: where the window stands, in twips
    out.u16(0x001E);
    out.u16(0x4000);
    out.u16(0x2000);
    out.u16(0x0038); // horizontal and vertical scroll bars, sheet tabs
    out.u16(0);      // itabCur: the first sheet is active
    out.u16(0);      // itabFirst: and the first tab shown
    out.u16(1);      // ctabSel: one tab selected
    out.u16(0x0258); // wTabRatio: tab bar width, in 1/1000 of the window
}

void workbookOptions(ByteSink &out)
{
    u16Record(out, rec::kBackup, 0);
    u16Record(out, rec::kHideObj, 0);
    u16Record(out, rec::kDate1904, 0);
    u16Record(out, rec::kPrecision, 1);
    u16Record(out, rec::kRefreshAll, 0);
    u16Record(out, rec::kBookBool, 0);
}

void font(ByteSink &out, const char *name, uint16_t twentiethsOfPoint)
{
    const size_t at = out.begin(rec::kFont);
    out.u16(twentiethsOfPoint);
    out.u16(0); // no italic, strike-out, outline
    out.u16(kAutomaticColour);
    out.u16(kNormalWeight);
    out.u16(0); // no super- or subscript
    out.u8(0);  // no underline
    out.u8(0);  // family
    out.u8(0);  // character set
    out.u8(0);
    shortString(out, QString::fromLatin1(name));
    out.end(at);
}

void xf(ByteSink &out, uint16_t fontIndex, uint16_t format, uint16_t typeAndParent, uint8_t usedAttributes)
{
    out.header(rec::kXf, 20);
    out.u16(fontIndex);
    out.u16(format);
    out.u16(typeAndParent);
    out.u8(kGeneralBottomAlignment);
    out.u8(0); // no rotation
    out.u8(0); // no indent
    out.u8(usedAttributes);
    out.u32(0); // border lines
    out.u32(0); // border colours
    out.u16(kAutomaticPattern);
}

void normalStyle(ByteSink &out)
{
    out.header(rec::kStyle, 4);
    out.u16(kBuiltInStyle); // of XF 0
    out.u8(kNormalStyle);
    out.u8(kNoOutlineLevel);
}

void usesElfs(ByteSink &out)
{
    u16Record(out, rec::kUsesElfs, 0);
}

size_t boundSheet(ByteSink &out, const QString &name)
{
    const size_t at = out.begin(rec::kBoundSheet);
    const size_t position = out.size();
    out.u32(0); // lbPlyPos, filled in later
    out.u8(0);  // visible
    out.u8(0);  // worksheet
    shortString(out, name);
    out.end(at);
    return position;
}

void country(ByteSink &out)
{
    out.header(rec::kCountry, 4);
    out.u16(kUnitedStates);
    out.u16(kChina);
}

size_t index(ByteSink &out, uint32_t firstRow, uint32_t endRow, size_t dbCells)
{
    out.header(rec::kIndex, uint16_t(16 + 4 * dbCells));
    out.u32(0);
    out.u32(firstRow);
    out.u32(endRow);
    const size_t defColWidthAt = out.size();
    out.u32(0);
    out.zeros(4 * dbCells);
    return defColWidthAt;
}

void calculationSettings(ByteSink &out)
{
    u16Record(out, rec::kCalcMode, 1);    // automatic
    u16Record(out, rec::kCalcCount, 100); // iterations
    u16Record(out, rec::kRefMode, 1);     // A1 references
    u16Record(out, rec::kIteration, 0);
    out.header(rec::kDelta, 8);
    out.f64(0.001);
    u16Record(out, rec::kSaveRecalc, 1);
    u16Record(out, rec::kPrintHeaders, 0);
    u16Record(out, rec::kPrintGridLines, 0);
    u16Record(out, rec::kGridSet, 1);
}

void guts(ByteSink &out)
{
    out.header(rec::kGuts, 8);
    out.zeros(8);
}

void defaultRowHeight(ByteSink &out)
{
    out.header(rec::kDefaultRowHeight, 4);
    out.u16(0);
    out.u16(kDefaultRowTwips);
}

void wsBool(ByteSink &out)
{
    u16Record(out, rec::kWsBool, kWsBoolFlags);
}

void pageHeaderAndCentring(ByteSink &out)
{
    out.header(rec::kHeader, 0);
    out.header(rec::kFooter, 0);
    u16Record(out, rec::kHCenter, 0);
    u16Record(out, rec::kVCenter, 0);
}

void setup(ByteSink &out)
{
    out.header(rec::kSetup, 34);
    out.u16(kA4);
    out.u16(100); // iScale, percent
    out.u16(1);   // iPageStart
    out.u16(1);   // iFitWidth
    out.u16(1);   // iFitHeight
    out.u16(kNoPrinterSettings);
    out.u16(kPrintDpi);
    out.u16(kPrintDpi);
    out.f64(kHeaderMarginInches);
    out.f64(kHeaderMarginInches);
    out.u16(1); // iCopies
}

void defColWidth(ByteSink &out)
{
    u16Record(out, rec::kDefColWidth, kDefaultColumnCharacters);
}

void colInfo(ByteSink &out, uint16_t first, uint16_t last, uint16_t width)
{
    out.header(rec::kColInfo, 12);
    out.u16(first);
    out.u16(last);
    out.u16(width);
    out.u16(kGeneralCellXf);
    out.u16(kColInfoUserSet); // set by the user (fitted), so readers keep it
    out.u16(0);
}

void dimensions(ByteSink &out, uint32_t firstRow, uint32_t endRow, uint16_t firstColumn, uint16_t endColumn)
{
    out.header(rec::kDimensions, 14);
    out.u32(firstRow);
    out.u32(endRow);
    out.u16(firstColumn);
    out.u16(endColumn);
    out.u16(0);
}

void row(ByteSink &out, uint16_t rowIndex, uint16_t firstColumn, uint16_t endColumn)
{
    out.header(rec::kRow, 16);
    out.u16(rowIndex);
    out.u16(firstColumn);
    out.u16(endColumn);
    out.u16(kRowHeightDefaultFlag);
    out.u16(0);
    out.u16(0);
    out.u16(kRowReserved);
    out.u16(kGeneralCellXf);
}

void labelSst(ByteSink &out, uint16_t rowIndex, uint16_t column, uint16_t format, uint32_t string)
{
    cellStart(out, rec::kLabelSst, 10, rowIndex, column, format);
    out.u32(string);
}

void blank(ByteSink &out, uint16_t rowIndex, uint16_t column, uint16_t format)
{
    cellStart(out, rec::kBlank, 6, rowIndex, column, format);
}

void number(ByteSink &out, uint16_t rowIndex, uint16_t column, uint16_t format, double value)
{
    cellStart(out, rec::kNumber, 14, rowIndex, column, format);
    out.f64(value);
}

void dbCell(ByteSink &out, uint32_t backToFirstRow, const std::vector<uint16_t> &cellOffsets)
{
    out.header(rec::kDbCell, uint16_t(4 + 2 * cellOffsets.size()));
    out.u32(backToFirstRow);
    for (uint16_t offset : cellOffsets)
        out.u16(offset);
}

void window2(ByteSink &out, bool selected)
{
    out.header(rec::kWindow2, 18);
    out.u16(selected ? kWindow2Selected : kWindow2Unselected);
    out.u16(0); // rwTop
    out.u16(0); // colLeft
    out.u32(kGridlineColour);
    out.u16(0); // wScaleSLV: default zoom
    out.u16(0); // wScaleNormal
    out.u32(0);
}

} // namespace xls::records
