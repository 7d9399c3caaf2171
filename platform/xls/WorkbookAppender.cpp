#include "platform/xls/WorkbookAppender.h"
#include "platform/SheetLimits.h"

#include "core/RuntimeError.h"
#include "platform/xls/ByteSink.h"
#include "platform/xls/ColumnWidth.h"
#include "platform/xls/Records.h"
#include "platform/xls/SharedStrings.h"
#include "platform/xls/StringRecords.h"
#include "platform/xls/Styles.h"

#include <QHash>
#include <algorithm>

namespace xls {

namespace {

constexpr uint32_t kRowsPerBlock = 32;
constexpr uint16_t kColumns = sheet::kBoxColumns;
constexpr uint32_t kRowRecordSize = 4 + 16;

// Field offsets inside record data, as the format documentation lays them out.
constexpr size_t kSstTotal = 0;            // cstTotal
constexpr size_t kSstUnique = 4;           // cstUnique
constexpr size_t kIndexFirstRow = 4;       // rwMic
constexpr size_t kIndexLastRow = 8;        // rwMac (one past)
constexpr size_t kIndexDefColWidth = 12;   // ibXF: where DEFCOLWIDTH is
constexpr size_t kIndexDbCells = 16;       // rgibRw
constexpr size_t kDimFirstRow = 0;         // rwMic
constexpr size_t kDimLastRow = 4;          // rwMac (one past)
constexpr size_t kDimFirstColumn = 8;      // colMic
constexpr size_t kDimLastColumn = 10;      // colMac (one past)
constexpr size_t kColInfoFirst = 0;
constexpr size_t kColInfoLast = 2;
constexpr size_t kColInfoWidth = 4;

[[noreturn]] void refuse(const QString &why)
{
    throw RuntimeError(RuntimeError::WorkbookFailed, QStringLiteral("WorkbookAppender"), why);
}

std::string recordBytes(const BiffRecord &r)
{
    return std::string(r.data - 4, r.length + 4);
}

void put16(std::string &bytes, size_t at, uint16_t v)
{
    bytes[at] = char(v & 0xFF);
    bytes[at + 1] = char(v >> 8);
}

void put32(std::string &bytes, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        bytes[at + size_t(i)] = char((v >> (8 * i)) & 0xFF);
}

void writeCell(ByteSink &out, uint16_t row, uint16_t column, uint16_t xf, long sstIndex)
{
    if (sstIndex >= 0)
        records::labelSst(out, row, column, xf, uint32_t(sstIndex));
    else // empty texts are blank cells: an empty shared string makes some readers refuse the file
        records::blank(out, row, column, xf);
}

// COLINFO: colFirst, colLast, coldx, ixfe, flags, reserved.
std::string colInfoRecord(const BiffRecord *model, uint16_t first, uint16_t last, uint16_t width)
{
    std::string bytes;
    if (model) {
        bytes = recordBytes(*model);
    } else {
        ByteSink out;
        records::colInfo(out, first, last, width);
        bytes = out.take();
    }
    put16(bytes, 4 + kColInfoFirst, first);
    put16(bytes, 4 + kColInfoLast, last);
    put16(bytes, 4 + kColInfoWidth, width);
    return bytes;
}

// Where a string begins in the output: a piece, and the offset of its header
// inside that piece and inside its record.
struct StringStart
{
    size_t piece = 0;
    uint32_t inPiece = 0;
    uint32_t inRecord = 0; // from the record's first header byte
};

// The output stream as pieces: runs of original records copied as they are, or
// bytes of our own (one or more records), with where each original record went.
// Runs are added in stream order, so a record's new place is found by searching
// the runs, not kept for each of a large sheet's records.
class Pieces
{
public:
    explicit Pieces(const BiffLayout &layout) : m_layout(layout) { m_pieces.reserve(256); }
    // Copies records first to last; consecutive records share one piece.
    void copy(size_t first, size_t last)
    {
        if (!m_pieces.empty() && m_pieces.back().first >= 0 && m_pieces.back().last + 1 == long(first)) {
            m_pieces.back().last = long(last);
            return;
        }
        m_runs.push_back(m_pieces.size());
        m_pieces.push_back({long(first), long(last), -1, std::string()});
    }
    void copy(size_t record) { copy(record, record); }
    size_t own(std::string bytes, long replaces = -1)
    {
        if (replaces >= 0)
            m_replaced.emplace_back(size_t(replaces), m_pieces.size());
        m_pieces.push_back({-1, -1, replaces, std::move(bytes)});
        return m_pieces.size() - 1;
    }

    // Joins the pieces; afterwards the positions of pieces and records are known.
    std::string join(const std::string &stream, uint32_t tailAt)
    {
        size_t total = stream.size() - tailAt;
        for (const Piece &p : m_pieces)
            total += p.first >= 0 ? span(p) : p.bytes.size();
        std::string out;
        out.reserve(total);
        m_positions.reserve(m_pieces.size());
        for (const Piece &p : m_pieces) {
            m_positions.push_back(uint32_t(out.size()));
            if (p.first >= 0)
                out.append(stream, m_layout.records[size_t(p.first)].at, span(p));
            else
                out += p.bytes;
        }
        out.append(stream, tailAt, std::string::npos);
        return out;
    }
    uint32_t position(size_t piece) const { return m_positions[piece]; }
    // Where an old stream position went: the record holding it moved by so much.
    uint32_t moved(uint32_t oldPosition) const
    {
        const long record = m_layout.records.lastAtOrBefore(oldPosition);
        if (record < 0)
            return oldPosition;
        const uint32_t moved = recordPosition(size_t(record));
        if (moved == kNowhere)
            return oldPosition;
        return moved + (oldPosition - m_layout.records.positionOf(size_t(record)));
    }
    // Where an original record went: copied, or replaced by bytes of our own; kNowhere if dropped.
    uint32_t recordPosition(size_t record) const
    {
        auto run = std::upper_bound(m_runs.begin(), m_runs.end(), long(record),
                                    [this](long r, size_t piece) { return r < m_pieces[piece].first; });
        if (run != m_runs.begin()) {
            const Piece &p = m_pieces[*--run];
            if (long(record) <= p.last)
                return m_positions[*run] + (m_layout.records[record].at - m_layout.records[size_t(p.first)].at);
        }
        for (const auto &[origin, piece] : m_replaced)
            if (origin == record)
                return m_positions[piece];
        return kNowhere;
    }

private:
    static constexpr uint32_t kNowhere = UINT32_MAX;
    struct Piece
    {
        long first; // a run of original records, or -1
        long last;
        long origin; // the original record our own bytes stand for, or -1
        std::string bytes;
    };
    size_t span(const Piece &p) const { return m_layout.records[size_t(p.last)].end() - m_layout.records[size_t(p.first)].at; }
    const BiffLayout &m_layout;
    std::vector<Piece> m_pieces;
    std::vector<size_t> m_runs; // pieces that copy records, in record order
    std::vector<std::pair<size_t, size_t>> m_replaced; // original record, the piece in its place
    std::vector<uint32_t> m_positions;
};

} // namespace

WorkbookAppender::WorkbookAppender(std::string workbookStream) : m_stream(std::move(workbookStream))
{
    // The first sheet is scanned while the stream is walked: for a sheet of 65,536
    // rows, reading its records a second time would cost as much as the walk. It
    // is found as firstWorksheet() finds it: the first worksheet entry of the
    // sheet directory names its BOF.
    bool inGlobals = true;
    long firstSheetAt = -1;
    bool scanning = false;
    size_t scannedBof = SIZE_MAX;
    m_layout = walkBiffStream(m_stream, [&](size_t i, const BiffRecord &r, int depth) {
        if (depth != 1)
            return;
        if (inGlobals) {
            if (firstSheetAt < 0 && namesWorksheet(r))
                firstSheetAt = long(r.u32(kBoundSheetPosition));
            inGlobals = r.type != rec::kEof;
            return;
        }
        if (r.type == rec::kBof && scannedBof == SIZE_MAX && long(r.at) == firstSheetAt && r.u16(2) == kWorksheetKind) {
            scanning = true;
            scannedBof = i;
        }
        if (scanning) {
            scanFirstSheetRecord(i, r);
            scanning = r.type != rec::kEof;
        }
    });
    readGlobals();
    if (m_layout.sheets[m_firstSheet].bof != scannedBof) // both follow the same rule; never seen
        refuse(QStringLiteral("找不到第一个工作表"));
    finishFirstSheet();
    m_sst = readSstTable(m_layout);
    checkPositions();
}

// Positions that are already wrong cannot be moved right: such a workbook is
// refused rather than passed on with its faults.
void WorkbookAppender::checkPositions() const
{
    auto isAt = [&](uint32_t position, uint16_t type) {
        const long i = m_layout.recordAt(position);
        return i >= 0 && m_layout.records[size_t(i)].type == type;
    };
    const QString wrong = QStringLiteral("工作簿内部的位置信息有误（%1），无法安全追加");
    for (size_t b : m_boundSheets) {
        const uint32_t position = m_layout.records[b].u32(kBoundSheetPosition);
        if (std::none_of(m_layout.sheets.begin(), m_layout.sheets.end(),
                         [&](const BiffSubstream &s) { return m_layout.records[s.bof].at == position; }))
            refuse(wrong.arg(QStringLiteral("工作表目录")));
    }
    // Where a position usually points is tried first; a search of every record
    // settles the rest. A sheet of 65,536 rows has 2,048 of each.
    auto isExpected = [&](uint32_t position, const std::vector<size_t> *expected, size_t k) {
        return expected && k < expected->size() && (*expected)[k] < m_layout.records.size()
               && m_layout.records[(*expected)[k]].at == position;
    };
    auto checkIndex = [&](const BiffRecord &r, const std::vector<size_t> *dbCells) {
        const uint32_t defColWidth = r.u32(kIndexDefColWidth);
        if (defColWidth != 0 && !isAt(defColWidth, rec::kDefColWidth))
            refuse(wrong.arg(QStringLiteral("INDEX")));
        for (uint32_t f = kIndexDbCells, k = 0; f + 4 <= r.length; f += 4, ++k)
            if (!isExpected(r.u32(f), dbCells, k) && !isAt(r.u32(f), rec::kDbCell))
                refuse(wrong.arg(QStringLiteral("INDEX")));
    };
    auto checkDbCell = [&](const BiffRecord &r, const std::vector<size_t> *firstRows, size_t k) {
        if (r.length < 4 || r.u32(0) > r.at)
            refuse(wrong.arg(QStringLiteral("DBCELL")));
        const uint32_t firstRow = r.at - r.u32(0);
        if (!isExpected(firstRow, firstRows, k) && !isAt(firstRow, rec::kRow))
            refuse(wrong.arg(QStringLiteral("DBCELL")));
    };
    // The first sheet, the large one, from what readFirstSheet found.
    if (m_index >= 0)
        checkIndex(m_layout.records[size_t(m_index)], &m_dbCells);
    for (size_t k = 0; k < m_dbCells.size(); ++k)
        checkDbCell(m_layout.records[m_dbCells[k]], &m_blockFirstRows, k);
    for (size_t s = 0; s < m_layout.sheets.size(); ++s) {
        if (s == m_firstSheet)
            continue;
        const BiffSubstream &sheet = m_layout.sheets[s];
        int depth = 0;
        long dimensions = -1;
        for (size_t i = sheet.bof; i <= sheet.eof; ++i) {
            const BiffRecord &r = m_layout.records[i];
            depth += r.type == rec::kBof ? 1 : 0;
            if (depth == 1) {
                if (r.type == rec::kIndex && r.length >= kIndexDbCells) {
                    checkIndex(r, nullptr);
                } else if (r.type == rec::kDbCell) {
                    checkDbCell(r, nullptr, 0);
                } else if (r.type == rec::kDimensions && dimensions < 0) {
                    if (r.length < 12)
                        refuse(QStringLiteral("第 %1 个工作表的使用范围记录损坏").arg(s + 1));
                    dimensions = long(i);
                } else if (dimensions >= 0 && isCellRecord(r.type) && r.length >= 4) {
                    // The first sheet's used range is widened to its cells; another sheet's is not touched.
                    const BiffRecord &d = m_layout.records[size_t(dimensions)];
                    const uint32_t lastColumn = lastColumnOf(r);
                    if (r.u16(0) < d.u32(kDimFirstRow) || r.u16(0) >= d.u32(kDimLastRow) || r.u16(2) < d.u16(kDimFirstColumn)
                        || lastColumn >= d.u16(kDimLastColumn))
                        refuse(QStringLiteral("第 %1 个工作表有单元格在其使用范围之外").arg(s + 1));
                }
            }
            depth -= r.type == rec::kEof ? 1 : 0;
        }
    }
}

void WorkbookAppender::readGlobals()
{
    const std::string textXf = textXfRecord();
    for (size_t i = m_layout.globals.bof; i <= m_layout.globals.eof; ++i) {
        const BiffRecord &r = m_layout.records[i];
        if (r.type == rec::kXf) {
            if (m_textXf < 0 && recordBytes(r) == textXf)
                m_textXf = m_xfCount;
            ++m_xfCount;
            m_lastXfRecord = i;
        } else if (r.type == rec::kBoundSheet) {
            if (r.length < 8)
                refuse(QStringLiteral("工作表目录记录太短"));
            m_boundSheets.push_back(i);
        }
    }
    if (m_xfCount == 0)
        refuse(QStringLiteral("工作簿中没有单元格格式"));
    const long sheet = firstWorksheet(m_layout);
    if (sheet < 0)
        refuse(QStringLiteral("找不到第一个工作表"));
    m_firstSheet = size_t(sheet);
}

// One of the first sheet's own records (depth 1: not those of an embedded chart).
// Cell records are nearly all of a large sheet: they take the short road.
[[gnu::always_inline]] inline void WorkbookAppender::scanFirstSheetRecord(size_t i, const BiffRecord &r)
{
    if (r.type != rec::kRow && !isCellRecord(r.type)) {
        scanOtherFirstSheetRecord(i, r);
        return;
    }
    if (r.length < 2)
        refuseDamagedCell(-1);
    const uint16_t row = r.u16(0);
    if (r.type == rec::kRow && m_scan.blockFirstRow < 0)
        m_scan.blockFirstRow = long(i);
    m_scan.usedRows = std::max<int32_t>(m_scan.usedRows, int32_t(row) + 1);
    m_firstCellRow = std::min<uint32_t>(m_firstCellRow, row);
    if (r.type != rec::kRow && r.length >= 4) {
        const uint32_t column = lastColumnOf(r);
        if (column >= uint32_t(sheet::kColumns) || r.u16(2) > column)
            refuseDamagedCell(long(column));
        m_usedColumns = std::max<uint32_t>(m_usedColumns, column + 1);
    }
    m_lastCellTable = long(i);
}

void WorkbookAppender::scanOtherFirstSheetRecord(size_t i, const BiffRecord &r)
{
    switch (r.type) {
    case rec::kIndex:
        if (m_index < 0 && r.length >= kIndexDbCells)
            m_index = long(i);
        break;
    case rec::kDefColWidth:
        m_defColWidth = long(i);
        break;
    case rec::kColInfo:
        if (r.length < 12)
            refuse(QStringLiteral("列宽记录太短"));
        m_colInfos.push_back({i, r.u16(kColInfoFirst), r.u16(kColInfoLast), r.u16(kColInfoWidth)});
        break;
    case rec::kDimensions:
        if (m_scan.dimensions < 0) {
            if (r.length < 12)
                refuse(QStringLiteral("使用范围记录太短"));
            m_scan.dimensions = long(i);
            m_scan.usedRows = std::max<int32_t>(m_scan.usedRows, int32_t(std::min<uint32_t>(r.u32(kDimLastRow), sheet::kRows)));
        }
        break;
    case rec::kDbCell:
        m_dbCells.push_back(i);
        // Its block's first ROW, where it should point.
        m_blockFirstRows.push_back(m_scan.blockFirstRow >= 0 ? size_t(m_scan.blockFirstRow) : SIZE_MAX);
        m_scan.blockFirstRow = -1;
        m_lastCellTable = long(i);
        break;
    default:
        if (isFormulaAttachment(r.type))
            m_lastCellTable = long(i);
        break;
    }
}

void WorkbookAppender::refuseDamagedCell(long column)
{
    if (column < 0)
        refuse(QStringLiteral("单元格记录太短"));
    refuse(QStringLiteral("单元格记录损坏（第 %1 列超出 %2 列）").arg(column + 1).arg(uint32_t(sheet::kColumns)));
}

// What the scan of the first sheet leaves to be worked out once it has been read.
void WorkbookAppender::finishFirstSheet()
{
    const long dimensions = m_scan.dimensions;
    const int32_t usedRows = m_scan.usedRows;
    if (dimensions < 0)
        refuse(QStringLiteral("第一个工作表缺少使用范围记录"));
    m_dimensions = size_t(dimensions);
    m_lastUsedRow = std::max<int32_t>(1, usedRows);

    // The last block can take the box's first rows when it ends the cell table with
    // its DBCELL and holds nothing but its rows' records.
    if (m_dbCells.empty() || long(m_dbCells.back()) != m_lastCellTable)
        return;
    const size_t lastDb = m_dbCells.back();
    const size_t from = m_dbCells.size() >= 2 ? m_dbCells[m_dbCells.size() - 2] + 1 : m_dimensions + 1;
    uint32_t lowest = UINT32_MAX;
    for (size_t i = from; i < lastDb; ++i) {
        const BiffRecord &r = m_layout.records[i];
        if (r.type == rec::kRow || isCellRecord(r.type))
            lowest = std::min<uint32_t>(lowest, r.u16(0));
        else if (!isFormulaAttachment(r.type))
            return;
    }
    if (lowest == UINT32_MAX)
        return;
    m_blockStart = long(from);
    m_blockBase = lowest - lowest % kRowsPerBlock;
}

std::string WorkbookAppender::append(const std::vector<SheetRow> &rows) const
{
    const uint32_t firstNew = uint32_t(m_lastUsedRow);
    if (int64_t(firstNew) + int64_t(rows.size()) > sheet::kRows)
        refuse(QStringLiteral("第一个工作表已用 %1 行，再加 %2 行将超过 %3 行的上限").arg(firstNew).arg(rows.size()).arg(sheet::kRows));
    if (rows.empty())
        return m_stream;
    const uint32_t lastNew = firstNew + uint32_t(rows.size()) - 1;
    const uint16_t xf = m_textXf >= 0 ? uint16_t(m_textXf) : m_xfCount;
    // The box's first rows join the sheet's last block when they share its 32 rows.
    const bool merging = m_blockStart >= 0 && firstNew < m_blockBase + kRowsPerBlock;
    const size_t blocksAfter = m_dbCells.size() + (lastNew / kRowsPerBlock - firstNew / kRowsPerBlock + 1) - (merging ? 1 : 0);

    // Shared strings: the workbook's own plain ones are used again.
    QHash<QString, uint32_t> added;
    std::vector<QString> newStrings;
    std::vector<std::array<long, kColumns>> sstIndex(rows.size());
    uint32_t textCells = 0;
    int widest[kColumns] = {0, 0, 0};
    for (size_t r = 0; r < rows.size(); ++r) {
        for (int c = 0; c < kColumns; ++c) {
            const QString &text = rows[r][size_t(c)];
            widest[c] = std::max(widest[c], displayWidth(text));
            if (text.isEmpty()) {
                sstIndex[r][size_t(c)] = -1;
                continue;
            }
            if (text.size() > kMaxCellText)
                refuse(QStringLiteral("第 %1 行的文字有 %2 个字符，超过单元格上限 %3").arg(firstNew + r + 1).arg(text.size()).arg(kMaxCellText));
            ++textCells;
            if (const auto n = added.constFind(text); n != added.constEnd()) {
                sstIndex[r][size_t(c)] = long(*n);
            } else {
                const uint32_t index = m_sst.uniqueCount() + uint32_t(newStrings.size());
                added.insert(text, index);
                newStrings.push_back(text);
                sstIndex[r][size_t(c)] = long(index);
            }
        }
    }
    const uint32_t unique = m_sst.uniqueCount() + uint32_t(newStrings.size());
    const uint32_t total = m_sst.total + textCells;

    // Columns A to C: fitted to the box, never narrower than they are.
    uint16_t wanted[kColumns];
    bool widen = false;
    for (uint16_t c = 0; c < kColumns; ++c) {
        wanted[c] = fittedColumnWidth(widest[c]);
        for (const ColInfo &info : m_colInfos)
            if (info.first <= c && c <= info.last)
                wanted[c] = info.width >= wanted[c] ? 0 : wanted[c];
        widen = widen || wanted[c] != 0;
    }

    Pieces out(m_layout);
    std::vector<StringStart> newStarts;
    long extSstPiece = -1;
    long sstPiece = -1;
    long indexPiece = -1;
    // A DBCELL: in a piece of our own at an offset, or an original record (its index).
    struct DbCellAt
    {
        size_t piece;
        uint32_t offset;
    };
    constexpr size_t kOriginal = SIZE_MAX;
    std::vector<DbCellAt> dbCells;

    // New strings after the last one: in the table's last record while it has room,
    // then in CONTINUEs; or a whole new SST when the workbook had none.
    auto emitStrings = [&](StringRecords records, long replaces) {
        std::vector<uint32_t> inPiece, inRecord;
        for (const QString &s : newStrings)
            records.add(s, inPiece, inRecord);
        const size_t piece = out.own(records.finish(), replaces);
        for (size_t i = 0; i < inPiece.size(); ++i)
            newStarts.push_back({piece, inPiece[i], inRecord[i]});
        return piece;
    };
    auto emitExtSst = [&](long replaces) {
        const uint32_t perBucket = stringsPerBucket(unique);
        const uint32_t buckets = (unique + perBucket - 1) / perBucket;
        ByteSink b;
        b.header(rec::kExtSst, uint16_t(2 + 8 * buckets));
        b.u16(uint16_t(perBucket));
        b.zeros(8 * buckets); // filled in once every string's place is known
        extSstPiece = long(out.own(b.take(), replaces));
    };
    auto emitColInfos = [&]() {
        std::vector<std::pair<uint16_t, std::string>> entries; // by first column
        for (const ColInfo &info : m_colInfos) {
            const BiffRecord &model = m_layout.records[info.record];
            bool touched = false;
            for (uint16_t c = 0; c < kColumns; ++c)
                touched = touched || (wanted[c] && info.first <= c && c <= info.last);
            if (!touched) {
                entries.emplace_back(info.first, recordBytes(model));
                continue;
            }
            // Split the range so that only the widened columns change.
            uint16_t from = info.first;
            for (uint16_t c = info.first; c <= info.last && c < kColumns; ++c) {
                if (!wanted[c])
                    continue;
                if (from < c)
                    entries.emplace_back(from, colInfoRecord(&model, from, uint16_t(c - 1), info.width));
                entries.emplace_back(c, colInfoRecord(&model, c, c, wanted[c]));
                from = uint16_t(c + 1);
            }
            if (from <= info.last)
                entries.emplace_back(from, colInfoRecord(&model, from, info.last, info.width));
        }
        for (uint16_t c = 0; c < kColumns; ++c) {
            bool covered = false;
            for (const ColInfo &info : m_colInfos)
                covered = covered || (info.first <= c && c <= info.last);
            if (wanted[c] && !covered)
                entries.emplace_back(c, colInfoRecord(nullptr, c, c, wanted[c]));
        }
        std::stable_sort(entries.begin(), entries.end(),
                         [](const auto &a, const auto &b) { return a.first < b.first; });
        std::string bytes;
        for (const auto &e : entries)
            bytes += e.second;
        out.own(std::move(bytes));
    };
    // One block of rows: ROW records, then cells, then DBCELL pointing back at them.
    auto emitBlock = [&](const std::vector<size_t> &oldRecords, uint32_t from, uint32_t to) {
        ByteSink b;
        struct Placed
        {
            uint32_t row;
            size_t at;
        };
        std::vector<Placed> rowRecords, cells;
        for (size_t i : oldRecords)
            if (m_layout.records[i].type == rec::kRow) {
                rowRecords.push_back({m_layout.records[i].u16(0), b.size()});
                const BiffRecord &r = m_layout.records[i];
                b.bytes(r.data - 4, r.length + 4u);
            }
        for (uint32_t row = from; row <= to; ++row) {
            rowRecords.push_back({row, b.size()});
            records::row(b, uint16_t(row), 0, kColumns);
        }
        for (size_t i : oldRecords) {
            const BiffRecord &r = m_layout.records[i];
            if (r.type == rec::kRow)
                continue;
            if (isCellRecord(r.type))
                cells.push_back({r.u16(0), b.size()});
            b.bytes(r.data - 4, r.length + 4u);
        }
        for (uint32_t row = from; row <= to; ++row) {
            cells.push_back({row, b.size()});
            for (uint16_t c = 0; c < kColumns; ++c)
                writeCell(b, uint16_t(row), c, xf, sstIndex[row - firstNew][c]);
        }
        const size_t dbCell = b.size();
        const size_t firstRow = rowRecords.empty() ? dbCell : rowRecords.front().at;
        std::vector<uint16_t> offsets;
        size_t previous = firstRow + kRowRecordSize;
        for (const Placed &row : rowRecords) {
            size_t at = dbCell;
            for (const Placed &cell : cells)
                if (cell.row >= row.row) {
                    at = cell.at;
                    break;
                }
            at = std::max(at, previous);
            offsets.push_back(uint16_t(std::min<size_t>(at - previous, UINT16_MAX)));
            previous = at;
        }
        records::dbCell(b, uint32_t(dbCell - firstRow), offsets);
        const size_t piece = out.own(b.take());
        dbCells.push_back({piece, uint32_t(dbCell)});
    };
    auto emitNewBlocks = [&](uint32_t from) {
        for (uint32_t start = from; start <= lastNew;) {
            const uint32_t end = std::min(lastNew, start - start % kRowsPerBlock + kRowsPerBlock - 1);
            emitBlock({}, start, end);
            start = end + 1;
        }
    };

    // The globals, record by record: the shared strings and the XFs change.
    const size_t sstLast = m_sst.present ? m_sst.last : 0;
    for (size_t i = m_layout.globals.bof; i <= m_layout.globals.eof; ++i) {
        const BiffRecord &r = m_layout.records[i];
        if (m_sst.present && (i == m_sst.sst || i == sstLast)) {
            std::string bytes = recordBytes(r);
            if (i == m_sst.sst) {
                put32(bytes, 4 + kSstTotal, total);
                put32(bytes, 4 + kSstUnique, unique);
            }
            const size_t piece = i == sstLast ? emitStrings(StringRecords(bytes), long(i)) : out.own(std::move(bytes), long(i));
            if (i == m_sst.sst)
                sstPiece = long(piece);
            if (i == sstLast && m_sst.extSst < 0)
                emitExtSst(-1);
        } else if (long(i) == m_sst.extSst) {
            emitExtSst(long(i));
        } else if (i == m_layout.globals.eof && !m_sst.present && !newStrings.empty()) {
            sstPiece = long(emitStrings(StringRecords(total, unique), -1));
            emitExtSst(-1);
            out.copy(i);
        } else {
            out.copy(i);
        }
        if (i == m_lastXfRecord && m_textXf < 0)
            out.own(textXfRecord());
    }

    // The first sheet: only a few of its records change; the runs between them are
    // copied whole. The original DBCELLs that stay are all before the new blocks.
    // The other sheets are copied as they are, all in stream order.
    for (size_t s = 0; s < m_firstSheet; ++s)
        out.copy(m_layout.sheets[s].bof, m_layout.sheets[s].eof);
    const BiffSubstream &sheet = m_layout.sheets[m_firstSheet];
    std::vector<size_t> marks;
    auto mark = [&](long i) {
        if (i >= long(sheet.bof) && i <= long(sheet.eof))
            marks.push_back(size_t(i));
    };
    mark(m_index);
    mark(long(m_dimensions));
    mark(merging ? m_blockStart : m_lastCellTable);
    if (widen)
        for (const ColInfo &c : m_colInfos)
            mark(long(c.record));
    std::sort(marks.begin(), marks.end());
    const size_t firstColInfo = m_colInfos.empty() ? 0 : m_colInfos.front().record;
    auto keepOriginalDbCells = [&](size_t before) {
        for (size_t d : m_dbCells)
            if (d < before)
                dbCells.push_back({kOriginal, uint32_t(d)});
    };
    auto nextMark = marks.begin();
    for (size_t i = sheet.bof; i <= sheet.eof; ++i) {
        while (nextMark != marks.end() && *nextMark < i)
            ++nextMark;
        if (nextMark == marks.end() || *nextMark > i) {
            const size_t last = nextMark == marks.end() ? sheet.eof : *nextMark - 1;
            out.copy(i, last);
            i = last;
            continue;
        }
        const BiffRecord &r = m_layout.records[i];
        if (long(i) == m_index) {
            const size_t dbCount = blocksAfter;
            ByteSink b;
            b.header(rec::kIndex, uint16_t(kIndexDbCells + 4 * dbCount));
            b.bytes(r.data, kIndexDbCells);
            b.zeros(4 * dbCount);
            std::string bytes = b.take();
            const uint32_t oldFirst = r.u32(kIndexFirstRow), oldLast = r.u32(kIndexLastRow);
            put32(bytes, 4 + kIndexFirstRow, oldLast == 0 ? firstNew : std::min(oldFirst, firstNew));
            put32(bytes, 4 + kIndexLastRow, std::max(oldLast, lastNew + 1));
            indexPiece = long(out.own(std::move(bytes), long(i)));
        } else if (r.type == rec::kColInfo && widen) {
            if (i == firstColInfo)
                emitColInfos();
        } else if (i == m_dimensions) {
            if (widen && m_colInfos.empty())
                emitColInfos();
            std::string bytes = recordBytes(r);
            const uint32_t oldFirst = r.u32(kDimFirstRow), oldLast = r.u32(kDimLastRow);
            const bool wasEmpty = oldLast == 0;
            put32(bytes, 4 + kDimFirstRow, std::min({wasEmpty ? firstNew : oldFirst, firstNew, m_firstCellRow}));
            put32(bytes, 4 + kDimLastRow, std::max(oldLast, lastNew + 1));
            put16(bytes, 4 + kDimFirstColumn, 0);
            // Wide enough for every cell, also those a careless writer left outside it.
            const uint32_t columns = std::max<uint32_t>({wasEmpty ? 0u : r.u16(kDimLastColumn), m_usedColumns, kColumns});
            put16(bytes, 4 + kDimLastColumn, uint16_t(std::min<uint32_t>(columns, uint32_t(sheet::kColumns))));
            out.own(std::move(bytes), long(i));
            if (m_lastCellTable < 0)
                emitNewBlocks(firstNew);
        } else if (long(i) == m_blockStart && merging) {
            // The last block again, with the box's first rows in it.
            const size_t lastDb = m_dbCells.back();
            keepOriginalDbCells(i);
            std::vector<size_t> old;
            for (size_t k = i; k < lastDb; ++k)
                old.push_back(k);
            const uint32_t end = std::min(lastNew, m_blockBase + kRowsPerBlock - 1);
            emitBlock(old, firstNew, end);
            if (end < lastNew)
                emitNewBlocks(end + 1);
            i = lastDb;
        } else {
            out.copy(i);
            if (long(i) == m_lastCellTable && !merging) {
                keepOriginalDbCells(i + 1);
                emitNewBlocks(firstNew);
            }
        }
    }

    for (size_t s = m_firstSheet + 1; s < m_layout.sheets.size(); ++s)
        out.copy(m_layout.sheets[s].bof, m_layout.sheets[s].eof);

    std::string result = out.join(m_stream, m_layout.tailAt);

    // Every stream position that records carry, now that everything has its place.
    for (size_t b : m_boundSheets) {
        const uint32_t at = out.recordPosition(b) + 4 + kBoundSheetPosition; // copied, so placed
        put32(result, at, out.moved(m_layout.records[b].u32(kBoundSheetPosition)));
    }
    if (indexPiece >= 0) {
        if (dbCells.size() != blocksAfter)
            refuse(QStringLiteral("第一个工作表的行块无法重新编排"));
        const uint32_t at = out.position(size_t(indexPiece)) + 4;
        const BiffRecord &old = m_layout.records[size_t(m_index)];
        put32(result, at + kIndexDefColWidth,
              m_defColWidth >= 0 ? out.recordPosition(size_t(m_defColWidth)) : out.moved(old.u32(kIndexDefColWidth)));
        for (size_t k = 0; k < dbCells.size(); ++k)
            put32(result, at + kIndexDbCells + 4 * uint32_t(k),
                  dbCells[k].piece == kOriginal ? out.recordPosition(dbCells[k].offset)
                                                : out.position(dbCells[k].piece) + dbCells[k].offset);
    }
    for (size_t s = 0; s < m_layout.sheets.size(); ++s) {
        if (s == m_firstSheet)
            continue;
        int depth = 0;
        for (size_t i = m_layout.sheets[s].bof; i <= m_layout.sheets[s].eof; ++i) {
            const BiffRecord &r = m_layout.records[i];
            depth += r.type == rec::kBof ? 1 : 0;
            if (depth == 1 && r.type == rec::kIndex && r.length >= kIndexDbCells) {
                const uint32_t at = out.recordPosition(i) + 4;
                put32(result, at + kIndexDefColWidth, out.moved(r.u32(kIndexDefColWidth)));
                for (uint32_t f = kIndexDbCells; f + 4 <= r.length; f += 4)
                    put32(result, at + f, out.moved(r.u32(f)));
            }
            depth -= r.type == rec::kEof ? 1 : 0;
        }
    }
    if (extSstPiece >= 0) {
        const uint32_t perBucket = stringsPerBucket(unique);
        const uint32_t at = out.position(size_t(extSstPiece)) + 4 + 2;
        for (uint32_t k = 0; k * perBucket < unique; ++k) {
            const uint32_t index = k * perBucket;
            uint32_t stream, inRecord;
            if (index < m_sst.uniqueCount()) {
                const SstTable::Start &start = m_sst.starts[index];
                const uint32_t recordAt = start.record == m_sst.sst ? out.position(size_t(sstPiece))
                                                                     : out.recordPosition(start.record);
                stream = recordAt + 4 + start.offset;
                inRecord = 4 + start.offset;
            } else {
                const StringStart &start = newStarts[index - m_sst.uniqueCount()];
                stream = out.position(start.piece) + start.inPiece;
                inRecord = start.inRecord;
            }
            put32(result, at + 8 * k, stream);
            put16(result, at + 8 * k + 4, uint16_t(inRecord));
        }
    }
    return result;
}

} // namespace xls
