#pragma once

#include "platform/xls/BiffRecords.h"

#include <cstdint>
#include <string>
#include <utility>
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

// The record whose header starts at that position of a stream already walked.
inline BiffRecord recordAt(const std::string &stream, uint32_t at)
{
    const auto byte = [&](uint32_t k) { return uint16_t(uint8_t(stream[at + k])); };
    BiffRecord r;
    r.type = uint16_t(byte(0) | (byte(1) << 8));
    r.length = uint16_t(byte(2) | (byte(3) << 8));
    r.at = at;
    r.data = stream.data() + at + 4;
    return r;
}

struct BiffSubstream
{
    size_t bof = 0; // record indexes of its BOF and its EOF
    size_t eof = 0;
    uint16_t kind = 0; // BOF substream type: 0x0005 globals, 0x0010 worksheet, 0x0020 chart, …
};

// The records of a stream, 8 bytes each: a sheet of 65,536 rows has some 260,000,
// and writing the list out is much of the cost of reading a workbook. A record is
// handed out by value, its data pointing into the stream.
class BiffRecordList
{
public:
    explicit BiffRecordList(const char *stream = nullptr) : m_stream(stream) {}
    BiffRecord operator[](size_t i) const
    {
        const Stored &s = m_records[i];
        BiffRecord r;
        r.data = m_stream + s.at + 4;
        r.type = s.type;
        r.length = s.length;
        r.at = s.at;
        return r;
    }
    uint32_t positionOf(size_t i) const { return m_records[i].at; }
    size_t size() const { return m_records.size(); }
    bool empty() const { return m_records.empty(); }
    void reserve(size_t n) { m_records.reserve(n); }
    void push_back(const BiffRecord &r) { m_records.push_back({r.at, r.type, r.length}); }
    // The last record starting at or before that position, or -1.
    long lastAtOrBefore(uint32_t position) const
    {
        size_t low = 0, high = m_records.size(); // the answer is below high
        while (low < high) {
            const size_t mid = low + (high - low) / 2;
            if (m_records[mid].at <= position)
                low = mid + 1;
            else
                high = mid;
        }
        return long(low) - 1;
    }

private:
    struct Stored
    {
        uint32_t at;
        uint16_t type;
        uint16_t length;
    };
    const char *m_stream;
    std::vector<Stored> m_records;
};

struct BiffLayout
{
    BiffRecordList records;
    BiffSubstream globals;
    std::vector<BiffSubstream> sheets; // in stream order
    uint32_t tailAt = 0;               // where the records end

    // The index of the record starting at that stream position, or -1.
    long recordAt(uint32_t position) const;
};

// BIFF8's version in BOF, and its substream kinds.
constexpr uint16_t kBiff8Version = 0x0600;
constexpr uint16_t kGlobalsKind = 0x0005;
constexpr uint16_t kWorksheetKind = 0x0010;

// Raises a RuntimeError (in Chinese) for anything that is not a BIFF8 stream it
// can walk: a record running past the end, a substream without its EOF, a BOF
// that is not BIFF8, an encrypted workbook.
BiffLayout walkBiffStream(const std::string &stream);

namespace detail {
enum class WalkFault { NotAWorkbook, BetweenSheets, PastEnd, TooDeep, NotBiff8, Encrypted, Incomplete };
[[noreturn]] void walkFailed(WalkFault fault, size_t position);
} // namespace detail

// The same walk, calling visit(index, record, depth) for each record as it is read,
// so that a caller can look at a large sheet without reading it a second time.
// Depth counts the BOFs open, the record's own included (1: a substream's own record).
// After each substream's EOF, enough(layout) may end the walk early: the layout
// then holds the substreams walked so far.
template <typename Visit, typename Enough>
BiffLayout walkBiffStream(const std::string &stream, Visit &&visit, Enough &&enough)
{
    using detail::WalkFault;
    using detail::walkFailed;
    constexpr int kMaxDepth = 8; // an embedded chart's BOF … EOF nests; deeper is not a workbook
    BiffLayout layout;
    layout.records = BiffRecordList(stream.data());
    const size_t size = stream.size();
    layout.records.reserve(size / 12); // box rows average about 13 bytes a record
    size_t pos = 0;
    int depth = 0;
    bool globalsDone = false;
    BiffSubstream current;
    while (pos + 4 <= size) {
        const BiffRecord record = recordAt(stream, uint32_t(pos));
        if (depth == 0) {
            // Between substreams only a BOF may follow; zeros are the padding after the last one.
            if (record.type == 0 && record.length == 0 && globalsDone)
                break;
            if (record.type != rec::kBof)
                walkFailed(globalsDone ? WalkFault::BetweenSheets : WalkFault::NotAWorkbook, pos);
        }
        if (pos + 4 + record.length > size)
            walkFailed(WalkFault::PastEnd, pos);
        const size_t index = layout.records.size();
        layout.records.push_back(record);
        pos += 4 + record.length;

        if (record.type == rec::kBof) {
            if (++depth > kMaxDepth)
                walkFailed(WalkFault::TooDeep, pos);
            if (depth == 1) {
                if (record.u16(0) != kBiff8Version)
                    walkFailed(WalkFault::NotBiff8, pos);
                current = BiffSubstream();
                current.bof = index;
                current.kind = record.u16(2);
                if (!globalsDone && current.kind != kGlobalsKind)
                    walkFailed(WalkFault::NotAWorkbook, pos);
            }
            visit(index, record, depth);
        } else if (record.type == rec::kEof) {
            visit(index, record, depth);
            if (--depth == 0) {
                current.eof = index;
                if (!globalsDone) {
                    layout.globals = current;
                    globalsDone = true;
                } else {
                    layout.sheets.push_back(current);
                }
                if (enough(layout)) {
                    layout.tailAt = uint32_t(pos);
                    return layout;
                }
            }
        } else {
            if (record.type == rec::kFilePass && depth == 1 && !globalsDone)
                walkFailed(WalkFault::Encrypted, pos);
            visit(index, record, depth);
        }
    }
    if (depth != 0 || !globalsDone)
        walkFailed(WalkFault::Incomplete, pos);
    layout.tailAt = uint32_t(pos);
    return layout;
}

template <typename Visit>
BiffLayout walkBiffStream(const std::string &stream, Visit &&visit)
{
    return walkBiffStream(stream, std::forward<Visit>(visit), [](const BiffLayout &) { return false; });
}


// Records of the cell table that carry a row number in their first two bytes,
// and those that belong to the FORMULA before them. Inline: called for every
// record of a sheet that may hold 65,536 rows.
inline bool isCellRecord(uint16_t type)
{
    switch (type) {
    case rec::kBlank:
    case rec::kMulBlank:
    case rec::kNumber:
    case rec::kRk:
    case rec::kMulRk:
    case rec::kLabelSst:
    case rec::kLabel:
    case rec::kRString:
    case rec::kBoolErr:
    case rec::kFormula:
        return true;
    default:
        return false;
    }
}
inline bool isFormulaAttachment(uint16_t type)
{
    return type == rec::kString || type == rec::kShrFmla || type == rec::kArray || type == rec::kTable;
}
// The last column a cell record covers: MULBLANK and MULRK end with theirs.
inline uint16_t lastColumnOf(const BiffRecord &cell)
{
    const bool multiple = cell.type == rec::kMulBlank || cell.type == rec::kMulRk;
    return multiple && cell.length >= 2 ? cell.u16(cell.length - 2u) : cell.u16(2);
}

// BOUNDSHEET 0x0085: lbPlyPos u32 (stream position of the sheet's BOF), hsState u8,
// dt u8 (sheet type, 0 for a worksheet), then the sheet's name.
constexpr size_t kBoundSheetPosition = 0;
// Whether a BOUNDSHEET names a worksheet (chart and macro sheets do not count, hidden ones do).
inline bool namesWorksheet(const BiffRecord &boundSheet)
{
    constexpr size_t kSheetType = 5;
    constexpr uint8_t kWorksheetType = 0;
    return boundSheet.type == rec::kBoundSheet && boundSheet.length >= 8 && uint8_t(boundSheet.data[kSheetType]) == kWorksheetType;
}

// Which of layout.sheets is the first worksheet: the first BOUNDSHEET that names a
// worksheet gives its BOF; -1 when there is none or its BOF starts no worksheet substream.
long firstWorksheet(const BiffLayout &layout);

} // namespace xls
