#pragma once

#include "platform/xls/BiffRecords.h"

#include <cstdint>
#include <string>
#include <vector>

// The records of a BIFF8 "Workbook" stream as they stand, without copying them:
// the globals substream, then one substream per sheet, then whatever follows the
// last EOF (usually zero padding), kept as it is.
namespace xls {

struct BiffRecord
{
    const char *data = nullptr;
    uint16_t type = 0;
    uint16_t length = 0; // data bytes after the header
    uint32_t at = 0;     // stream position of the record's 4-byte header

    uint32_t end() const { return at + 4 + length; }
    // A field of the data; 0 when it lies beyond the record's end.
    uint16_t u16(size_t offset) const
    {
        return offset + 2 <= length ? uint16_t(uint8_t(data[offset]) | (uint16_t(uint8_t(data[offset + 1])) << 8)) : 0;
    }
    uint32_t u32(size_t offset) const
    {
        return offset + 4 <= length ? uint32_t(u16(offset)) | (uint32_t(u16(offset + 2)) << 16) : 0;
    }
};

struct BiffSubstream
{
    size_t bof = 0; // record indexes of its BOF and its EOF
    size_t eof = 0;
    uint16_t kind = 0; // BOF substream type: 0x0005 globals, 0x0010 worksheet, 0x0020 chart, …
};

struct BiffLayout
{
    std::vector<BiffRecord> records;
    BiffSubstream globals;
    std::vector<BiffSubstream> sheets; // in stream order
    uint32_t tailAt = 0;               // where the records end

    // The index of the record starting at that stream position, or -1.
    long recordAt(uint32_t position) const;
};

// Raises a RuntimeError (in Chinese) for anything that is not a BIFF8 stream it
// can walk: a record running past the end, a substream without its EOF, a BOF
// that is not BIFF8, an encrypted workbook.
BiffLayout walkBiffStream(const std::string &stream);


// BIFF8's version in BOF, and its substream kinds.
constexpr uint16_t kBiff8Version = 0x0600;
constexpr uint16_t kGlobalsKind = 0x0005;
constexpr uint16_t kWorksheetKind = 0x0010;

// Records of the cell table that carry a row number in their first two bytes,
// and those that belong to the FORMULA before them.
bool isCellRecord(uint16_t type);
bool isFormulaAttachment(uint16_t type);
// The last column a cell record covers: MULBLANK and MULRK end with theirs.
uint16_t lastColumnOf(const BiffRecord &cell);

// Which of layout.sheets is the first worksheet: the first BOUNDSHEET of sheet type
// worksheet names it (chart and macro sheets do not count, hidden ones do); -1
// when there is none or it names no worksheet substream.
long firstWorksheet(const BiffLayout &layout);

} // namespace xls
