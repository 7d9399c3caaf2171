#pragma once

#include "platform/xls/ByteSink.h"

#include <QString>
#include <cstdint>
#include <vector>

// One function per BIFF8 record kind the station writes, each with the record's
// type number and field layout from the published format documentation ([MS-XLS]).
// Fields are little-endian; "u16" is two bytes, "u32" four.
namespace xls::records {

// Substream kinds a BOF opens (BOF.dt).
enum class Substream : uint16_t { Globals = 0x0005, Worksheet = 0x0010 };

// BOF 0x0809: vers u16, dt u16, rupBuild u16, rupYear u16, bfh u32, sfo u32.
void bof(ByteSink &out, Substream kind);
// EOF 0x000A: no fields.
void eof(ByteSink &out);

// INTERFACEHDR 0x00E1: cv u16 (code page of the user interface).
void interfaceHdr(ByteSink &out);
// MMS 0x00C1: caitm u8, cditm u8 (menu additions, none).
void mms(ByteSink &out);
// INTERFACEEND 0x00E2: no fields.
void interfaceEnd(ByteSink &out);
// WRITEACCESS 0x005C: user name as XLUnicodeString, padded with blanks to 112 bytes.
void writeAccess(ByteSink &out, const char *user);
// CODEPAGE 0x0042: cv u16.
void codePage(ByteSink &out);
// DSF 0x0161: fDSF u16 (no double-stream file).
void dsf(ByteSink &out);
// RRTABID 0x013D: one u16 revision id per sheet.
void rrTabId(ByteSink &out, size_t sheets);
// FNGROUPCOUNT 0x009C: cFnGroup u16 (built-in function groups).
void fnGroupCount(ByteSink &out);
// WINDOWPROTECT 0x0019, PROTECT 0x0012, PASSWORD 0x0013, PROT4REV 0x01AF,
// PROT4REVPASS 0x01BC: one u16 each; the station protects nothing.
void noProtection(ByteSink &out);
// WINDOW1 0x003D: xWn, yWn, dxWn, dyWn u16 (twips), flags u16, itabCur u16,
// itabFirst u16, ctabSel u16, wTabRatio u16.
void window1(ByteSink &out);
// BACKUP 0x0040, HIDEOBJ 0x008D, DATE1904 0x0022, PRECISION 0x000E,
// REFRESHALL 0x01B7, BOOKBOOL 0x00DA: one u16 each.
void workbookOptions(ByteSink &out);
// FONT 0x0031: dyHeight u16, grbit u16, icv u16, bls u16, sss u16, uls u8,
// bFamily u8, bCharSet u8, reserved u8, fontName ShortXLUnicodeString.
void font(ByteSink &out, const char *name, uint16_t twentiethsOfPoint);
// XF 0x00E0: ifnt u16, ifmt u16, type/protection/parent u16, alignment u8,
// rotation u8, indent u8, used-attributes u8, borders u32, border colours u32,
// pattern colours u16.
void xf(ByteSink &out, uint16_t fontIndex, uint16_t format, uint16_t typeAndParent, uint8_t usedAttributes);
// STYLE 0x0293: ixfe u16 (with the built-in flag), istyBuiltIn u8, iLevel u8.
void normalStyle(ByteSink &out);
// USESELFS 0x0160: fUsesElfs u16.
void usesElfs(ByteSink &out);
// BOUNDSHEET 0x0085: lbPlyPos u32, hsState u8, dt u8, stName ShortXLUnicodeString.
// Returns where lbPlyPos is, to be filled in once the sheet's place is known.
size_t boundSheet(ByteSink &out, const QString &name);
// COUNTRY 0x008C: iCountryDef u16, iCountryWinIni u16.
void country(ByteSink &out);

// INDEX 0x020B: reserved u32, rwMic u32, rwMac u32, ibXF u32 (DEFCOLWIDTH's
// position), rgibRw u32 per DBCELL. Returns where ibXF is; rgibRw follows it.
size_t index(ByteSink &out, uint32_t firstRow, uint32_t endRow, size_t dbCells);
// CALCMODE 0x000D, CALCCOUNT 0x000C, REFMODE 0x000F, ITERATION 0x0011,
// DELTA 0x0010 (f64), SAVERECALC 0x005F, PRINTHEADERS 0x002A,
// PRINTGRIDLINES 0x002B, GRIDSET 0x0082: the calculation and print settings.
void calculationSettings(ByteSink &out);
// GUTS 0x0080: dxRwGut, dyColGut, iLevelRwMac, iLevelColMac u16 (no outline).
void guts(ByteSink &out);
// DEFAULTROWHEIGHT 0x0225: flags u16, miyRw u16.
void defaultRowHeight(ByteSink &out);
// WSBOOL 0x0081: flags u16.
void wsBool(ByteSink &out);
// HEADER 0x0014, FOOTER 0x0015 (empty), HCENTER 0x0083, VCENTER 0x0084.
void pageHeaderAndCentring(ByteSink &out);
// SETUP 0x00A1: iPaperSize, iScale, iPageStart, iFitWidth, iFitHeight, flags,
// iRes, iVRes u16, numHdr f64, numFtr f64, iCopies u16.
void setup(ByteSink &out);
// DEFCOLWIDTH 0x0055: cchdefColWidth u16 (characters).
void defColWidth(ByteSink &out);
// COLINFO 0x007D: colFirst, colLast, coldx (1/256 of a digit), ixfe, flags, reserved u16.
void colInfo(ByteSink &out, uint16_t first, uint16_t last, uint16_t width);
// DIMENSIONS 0x0200: rwMic u32, rwMac u32, colMic u16, colMac u16, reserved u16.
void dimensions(ByteSink &out, uint32_t firstRow, uint32_t endRow, uint16_t firstColumn, uint16_t endColumn);
// ROW 0x0208: rw, colMic, colMac, miyRw, reserved, unused, flags, ixfe u16.
void row(ByteSink &out, uint16_t rowIndex, uint16_t firstColumn, uint16_t endColumn);
// LABELSST 0x00FD: rw u16, col u16, ixfe u16, isst u32.
void labelSst(ByteSink &out, uint16_t rowIndex, uint16_t column, uint16_t format, uint32_t string);
// BLANK 0x0201: rw u16, col u16, ixfe u16.
void blank(ByteSink &out, uint16_t rowIndex, uint16_t column, uint16_t format);
// NUMBER 0x0203: rw u16, col u16, ixfe u16, num f64.
void number(ByteSink &out, uint16_t rowIndex, uint16_t column, uint16_t format, double value);
// DBCELL 0x00D7: dbRtrw u32 (back to the block's first ROW), then per row u16: the
// first from the end of the first ROW to the row's first cell, each next from the
// previous row's first cell.
void dbCell(ByteSink &out, uint32_t backToFirstRow, const std::vector<uint16_t> &cellOffsets);
// WINDOW2 0x023E: flags u16, rwTop u16, colLeft u16, icvHdr u32, wScaleSLV u16,
// wScaleNormal u16, reserved u32.
void window2(ByteSink &out, bool selected);

} // namespace xls::records

// Where the fields that a reader or the appender patches sit inside a record's data
// (after its 4-byte header), as the record comments above lay them out.
namespace xls::fields {

constexpr size_t kSstTotal = 0;          // SST cstTotal
constexpr size_t kSstUnique = 4;         // SST cstUnique
constexpr size_t kIndexFirstRow = 4;     // INDEX rwMic
constexpr size_t kIndexEndRow = 8;       // INDEX rwMac (one past)
constexpr size_t kIndexDefColWidth = 12; // INDEX ibXF: where DEFCOLWIDTH is
constexpr size_t kIndexDbCells = 16;     // INDEX rgibRw
constexpr size_t kDimFirstRow = 0;       // DIMENSIONS rwMic
constexpr size_t kDimEndRow = 4;         // DIMENSIONS rwMac (one past)
constexpr size_t kDimFirstColumn = 8;    // DIMENSIONS colMic
constexpr size_t kDimEndColumn = 10;     // DIMENSIONS colMac (one past)
constexpr size_t kDimMinLength = 12;     // up to colMac: what is read and patched
constexpr size_t kColInfoFirst = 0;      // COLINFO colFirst
constexpr size_t kColInfoLast = 2;       // COLINFO colLast
constexpr size_t kColInfoWidth = 4;      // COLINFO coldx
constexpr size_t kColInfoLength = 12;

// A sheet's cell table comes in blocks of 32 rows, each closed by its DBCELL.
constexpr uint32_t kRowsPerBlock = 32;
// A ROW record with its header: what DBCELL's first offset counts from.
constexpr uint32_t kRowRecordSize = 4 + 16;

} // namespace xls::fields
