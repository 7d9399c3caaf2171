#include "platform/xls/WorkbookAppender.h"

#include "core/RuntimeError.h"
#include "platform/xls/ByteSink.h"
#include "platform/xls/PositionChecks.h"
#include "platform/xls/Records.h"
#include "platform/xls/RowBlock.h"
#include "platform/xls/SharedStrings.h"
#include "platform/xls/StreamSplice.h"
#include "platform/xls/StringRecords.h"
#include "platform/xls/Styles.h"

#include <algorithm>

namespace xls {

namespace {

constexpr uint16_t kColumns = sheet::kBoxColumns;

[[noreturn]] void refuse(const QString &why)
{
    throw RuntimeError(RuntimeError::WorkbookFailed, QStringLiteral("WorkbookAppender"), why);
}

std::string recordBytes(const BiffRecord &r)
{
    return std::string(r.data - 4, r.length + 4);
}

// A field of a record's bytes (its header included) set in place.
void set16(std::string &record, size_t field, uint16_t v)
{
    ByteSink::patch16(record, 4 + field, v);
}
void set32(std::string &record, size_t field, uint32_t v)
{
    ByteSink::patch32(record, 4 + field, v);
}

void writeCell(ByteSink &out, uint16_t row, uint16_t column, uint16_t xf, long sstIndex)
{
    if (sstIndex >= 0)
        records::labelSst(out, row, column, xf, uint32_t(sstIndex));
    else // empty texts are blank cells: an empty shared string makes some readers refuse the file
        records::blank(out, row, column, xf);
}

// A COLINFO for those columns: a copy of the one it splits (model), or a new one.
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
    set16(bytes, fields::kColInfoFirst, first);
    set16(bytes, fields::kColInfoLast, last);
    set16(bytes, fields::kColInfoWidth, width);
    return bytes;
}

// Where a new string begins in the output: a piece, and the offset of its header
// inside that piece and inside its record.
struct StringStart
{
    size_t piece = 0;
    uint32_t inPiece = 0;
    uint32_t inRecord = 0; // from the record's first header byte
};

} // namespace

// The new stream as it is put together: the pieces in order, then every position
// that records carry patched once all pieces have their place.
class WorkbookAppender::Assembly
{
public:
    Assembly(const WorkbookAppender &book, const AppendPlan &plan)
        : m_book(book), m_layout(book.m_layout), m_sheet(book.m_sheet), m_plan(plan), m_out(book.m_layout)
    {
    }

    void globals();
    void firstSheet();
    void otherSheets(size_t from, size_t to)
    {
        for (size_t s = from; s < to; ++s)
            m_out.copy(m_layout.sheets[s].bof, m_layout.sheets[s].eof);
    }
    std::string joined(std::string into) { return m_out.join(m_book.m_stream, m_layout.tailAt, std::move(into)); }
    void patchSheetDirectory(std::string &stream) const;
    void patchFirstSheetIndex(std::string &stream) const;
    void patchOtherIndexes(std::string &stream) const;
    void patchExtSst(std::string &stream) const;

private:
    // A DBCELL of the first sheet afterwards: in a piece of our own at an offset,
    // or an old record (piece kOld, offset its index).
    struct DbCellAt
    {
        size_t piece;
        uint32_t offset;
    };
    static constexpr size_t kOld = SIZE_MAX;

    size_t strings(StringRecords records, long replaces);
    void extSst(long replaces);
    void sharedStringRecord(size_t i);
    void colInfos();
    void block(size_t oldFirst, size_t oldEnd, uint32_t from, uint32_t to);
    void newBlocks(uint32_t from);
    std::vector<size_t> changedFirstSheetRecords() const;
    void changedFirstSheetRecord(size_t &i);
    void index(const BiffRecord &r, size_t i);
    void dimensions(const BiffRecord &r, size_t i);
    void keepOldDbCells(size_t before);

    const WorkbookAppender &m_book;
    const BiffLayout &m_layout;
    const FirstSheet &m_sheet;
    const AppendPlan &m_plan;
    StreamSplice m_out;
    std::vector<StringStart> m_newStarts;
    long m_extSstPiece = -1;
    long m_sstPiece = -1;
    long m_indexPiece = -1;
    std::vector<DbCellAt> m_dbCells;
};

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
    FirstSheetScanner scanner;
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
            scanner.record(i, r);
            scanning = r.type != rec::kEof;
        }
    });
    readGlobals();
    if (m_layout.sheets[m_firstSheet].bof != scannedBof) // both follow the same rule; never seen
        refuse(QStringLiteral("找不到第一个工作表"));
    m_sheet = scanner.finish(m_layout);
    m_sst = readSstTable(m_layout);
    checkPositions(m_layout, m_boundSheets, m_firstSheet, m_sheet);
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

std::string WorkbookAppender::append(const std::vector<SheetRow> &rows, std::string spare) const
{
    const AppendPlan plan = planAppend(rows, m_sheet, m_sst, m_textXf >= 0 ? uint16_t(m_textXf) : m_xfCount);
    if (rows.empty())
        return m_stream;
    Assembly assembly(*this, plan);
    assembly.globals();
    assembly.otherSheets(0, m_firstSheet);
    assembly.firstSheet();
    assembly.otherSheets(m_firstSheet + 1, m_layout.sheets.size());
    std::string stream = assembly.joined(std::move(spare));
    assembly.patchSheetDirectory(stream);
    assembly.patchFirstSheetIndex(stream);
    assembly.patchOtherIndexes(stream);
    assembly.patchExtSst(stream);
    return stream;
}

// New strings after the last one: in the table's last record while it has room,
// then in CONTINUEs; or a whole new SST when the workbook had none.
size_t WorkbookAppender::Assembly::strings(StringRecords records, long replaces)
{
    std::vector<uint32_t> inPiece, inRecord;
    for (const QString &s : m_plan.newStrings)
        records.add(s, inPiece, inRecord);
    const size_t piece = m_out.own(records.finish(), replaces);
    for (size_t i = 0; i < inPiece.size(); ++i)
        m_newStarts.push_back({piece, inPiece[i], inRecord[i]});
    return piece;
}

void WorkbookAppender::Assembly::extSst(long replaces)
{
    const uint32_t perBucket = stringsPerBucket(m_plan.unique);
    const uint32_t buckets = (m_plan.unique + perBucket - 1) / perBucket;
    ByteSink b;
    b.header(rec::kExtSst, uint16_t(2 + 8 * buckets));
    b.u16(uint16_t(perBucket));
    b.zeros(8 * buckets); // filled in once every string's place is known
    m_extSstPiece = long(m_out.own(b.take(), replaces));
}

// The SST with its new counts, or the table's last record with the new strings.
void WorkbookAppender::Assembly::sharedStringRecord(size_t i)
{
    const SstTable &sst = m_book.m_sst;
    std::string bytes = recordBytes(m_layout.records[i]);
    if (i == sst.sst) {
        set32(bytes, fields::kSstTotal, m_plan.total);
        set32(bytes, fields::kSstUnique, m_plan.unique);
    }
    const size_t piece = i == sst.last ? strings(StringRecords(bytes), long(i)) : m_out.own(std::move(bytes), long(i));
    if (i == sst.sst)
        m_sstPiece = long(piece);
    if (i == sst.last && sst.extSst < 0)
        extSst(-1);
}

// The globals, record by record: the shared strings and the XFs change.
void WorkbookAppender::Assembly::globals()
{
    const SstTable &sst = m_book.m_sst;
    for (size_t i = m_layout.globals.bof; i <= m_layout.globals.eof; ++i) {
        if (sst.present && (i == sst.sst || i == sst.last)) {
            sharedStringRecord(i);
        } else if (long(i) == sst.extSst) {
            extSst(long(i));
        } else if (i == m_layout.globals.eof && !sst.present && !m_plan.newStrings.empty()) {
            m_sstPiece = long(strings(StringRecords(m_plan.total, m_plan.unique), -1));
            extSst(-1);
            m_out.copy(i);
        } else {
            m_out.copy(i);
        }
        if (i == m_book.m_lastXfRecord && m_book.m_textXf < 0)
            m_out.own(textXfRecord());
    }
}

// Columns A to C widened: ranges split so that only the widened columns change.
void WorkbookAppender::Assembly::colInfos()
{
    std::vector<std::pair<uint16_t, std::string>> entries; // by first column
    auto wanted = [&](uint16_t c) { return c < kColumns ? m_plan.wanted[c] : uint16_t(0); };
    for (const FirstSheet::ColInfo &info : m_sheet.colInfos) {
        const BiffRecord &model = m_layout.records[info.record];
        bool touched = false;
        for (uint16_t c = 0; c < kColumns; ++c)
            touched = touched || (wanted(c) && info.first <= c && c <= info.last);
        if (!touched) {
            entries.emplace_back(info.first, recordBytes(model));
            continue;
        }
        uint16_t from = info.first;
        for (uint16_t c = info.first; c <= info.last && c < kColumns; ++c) {
            if (!wanted(c))
                continue;
            if (from < c)
                entries.emplace_back(from, colInfoRecord(&model, from, uint16_t(c - 1), info.width));
            entries.emplace_back(c, colInfoRecord(&model, c, c, wanted(c)));
            from = uint16_t(c + 1);
        }
        if (from <= info.last)
            entries.emplace_back(from, colInfoRecord(&model, from, info.last, info.width));
    }
    for (uint16_t c = 0; c < kColumns; ++c) {
        const bool covered = std::any_of(m_sheet.colInfos.begin(), m_sheet.colInfos.end(),
                                         [c](const FirstSheet::ColInfo &info) { return info.first <= c && c <= info.last; });
        if (wanted(c) && !covered)
            entries.emplace_back(c, colInfoRecord(nullptr, c, c, wanted(c)));
    }
    std::stable_sort(entries.begin(), entries.end(), [](const auto &a, const auto &b) { return a.first < b.first; });
    std::string bytes;
    for (const auto &e : entries)
        bytes += e.second;
    m_out.own(std::move(bytes));
}

// One block of rows: the old records oldFirst up to oldEnd (ROWs first, then the
// rest), the rows from..to of the box, and the DBCELL.
void WorkbookAppender::Assembly::block(size_t oldFirst, size_t oldEnd, uint32_t from, uint32_t to)
{
    ByteSink b;
    RowBlock rows(b);
    for (size_t i = oldFirst; i < oldEnd; ++i) {
        const BiffRecord &r = m_layout.records[i];
        if (r.type == rec::kRow) {
            rows.rowRecordHere(r.u16(0));
            b.bytes(r.data - 4, r.length + 4u);
        }
    }
    for (uint32_t row = from; row <= to; ++row) {
        rows.rowRecordHere(uint16_t(row));
        records::row(b, uint16_t(row), 0, kColumns);
    }
    for (size_t i = oldFirst; i < oldEnd; ++i) {
        const BiffRecord &r = m_layout.records[i];
        if (r.type == rec::kRow)
            continue;
        if (isCellRecord(r.type))
            rows.cellHere(r.u16(0));
        b.bytes(r.data - 4, r.length + 4u);
    }
    for (uint32_t row = from; row <= to; ++row) {
        rows.cellHere(uint16_t(row));
        for (uint16_t c = 0; c < kColumns; ++c)
            writeCell(b, uint16_t(row), c, m_plan.xf, m_plan.sstIndex[row - m_plan.firstNew][c]);
    }
    const size_t dbCell = rows.finish();
    m_dbCells.push_back({m_out.own(b.take()), uint32_t(dbCell)});
}

void WorkbookAppender::Assembly::newBlocks(uint32_t from)
{
    for (uint32_t start = from; start <= m_plan.lastNew;) {
        const uint32_t end = std::min(m_plan.lastNew, start - start % fields::kRowsPerBlock + fields::kRowsPerBlock - 1);
        block(0, 0, start, end);
        start = end + 1;
    }
}

void WorkbookAppender::Assembly::keepOldDbCells(size_t before)
{
    for (size_t d : m_sheet.dbCells)
        if (d < before)
            m_dbCells.push_back({kOld, uint32_t(d)});
}

// The first sheet's records that change, in order; the runs between them are copied whole.
std::vector<size_t> WorkbookAppender::Assembly::changedFirstSheetRecords() const
{
    const BiffSubstream &sheet = m_layout.sheets[m_book.m_firstSheet];
    std::vector<size_t> changed;
    auto mark = [&](long i) {
        if (i >= long(sheet.bof) && i <= long(sheet.eof))
            changed.push_back(size_t(i));
    };
    mark(m_sheet.index);
    mark(long(m_sheet.dimensions));
    mark(m_plan.merging ? m_sheet.blockStart : m_sheet.lastCellTable);
    if (m_plan.widen)
        for (const FirstSheet::ColInfo &c : m_sheet.colInfos)
            mark(long(c.record));
    std::sort(changed.begin(), changed.end());
    return changed;
}

// The first sheet: only a few of its records change. The old DBCELLs that stay
// are all before the new blocks.
void WorkbookAppender::Assembly::firstSheet()
{
    const BiffSubstream &sheet = m_layout.sheets[m_book.m_firstSheet];
    const std::vector<size_t> changed = changedFirstSheetRecords();
    auto next = changed.begin();
    for (size_t i = sheet.bof; i <= sheet.eof; ++i) {
        while (next != changed.end() && *next < i)
            ++next;
        if (next == changed.end() || *next > i) {
            const size_t last = next == changed.end() ? sheet.eof : *next - 1;
            m_out.copy(i, last);
            i = last;
            continue;
        }
        changedFirstSheetRecord(i);
    }
}

// One record that changes; i moves past the records it stands for.
void WorkbookAppender::Assembly::changedFirstSheetRecord(size_t &i)
{
    const BiffRecord &r = m_layout.records[i];
    if (long(i) == m_sheet.index) {
        index(r, i);
    } else if (r.type == rec::kColInfo && m_plan.widen) {
        if (i == m_sheet.colInfos.front().record)
            colInfos();
    } else if (i == m_sheet.dimensions) {
        dimensions(r, i);
    } else if (long(i) == m_sheet.blockStart && m_plan.merging) {
        // The last block again, with the box's first rows in it.
        const size_t lastDb = m_sheet.dbCells.back();
        keepOldDbCells(i);
        const uint32_t end = std::min(m_plan.lastNew, m_sheet.blockBase + fields::kRowsPerBlock - 1);
        block(i, lastDb, m_plan.firstNew, end);
        if (end < m_plan.lastNew)
            newBlocks(end + 1);
        i = lastDb;
    } else {
        m_out.copy(i);
        if (long(i) == m_sheet.lastCellTable && !m_plan.merging) {
            keepOldDbCells(i + 1);
            newBlocks(m_plan.firstNew);
        }
    }
}

// INDEX with room for every DBCELL afterwards (filled in once they have their place).
void WorkbookAppender::Assembly::index(const BiffRecord &r, size_t i)
{
    ByteSink b;
    b.header(rec::kIndex, uint16_t(fields::kIndexDbCells + 4 * m_plan.blocksAfter));
    b.bytes(r.data, fields::kIndexDbCells);
    b.zeros(4 * m_plan.blocksAfter);
    std::string bytes = b.take();
    const uint32_t oldFirst = r.u32(fields::kIndexFirstRow), oldEnd = r.u32(fields::kIndexEndRow);
    set32(bytes, fields::kIndexFirstRow, oldEnd == 0 ? m_plan.firstNew : std::min(oldFirst, m_plan.firstNew));
    set32(bytes, fields::kIndexEndRow, std::max(oldEnd, m_plan.lastNew + 1));
    m_indexPiece = long(m_out.own(std::move(bytes), long(i)));
}

// DIMENSIONS widened to the box and to every cell, also those a careless writer
// left outside it; the widths go before it when the sheet had none.
void WorkbookAppender::Assembly::dimensions(const BiffRecord &r, size_t i)
{
    if (m_plan.widen && m_sheet.colInfos.empty())
        colInfos();
    std::string bytes = recordBytes(r);
    const uint32_t oldFirst = r.u32(fields::kDimFirstRow), oldEnd = r.u32(fields::kDimEndRow);
    const bool wasEmpty = oldEnd == 0;
    set32(bytes, fields::kDimFirstRow, std::min({wasEmpty ? m_plan.firstNew : oldFirst, m_plan.firstNew, m_sheet.firstCellRow}));
    set32(bytes, fields::kDimEndRow, std::max(oldEnd, m_plan.lastNew + 1));
    set16(bytes, fields::kDimFirstColumn, 0);
    const uint32_t columns = std::max<uint32_t>({wasEmpty ? 0u : r.u16(fields::kDimEndColumn), m_sheet.usedColumns, kColumns});
    set16(bytes, fields::kDimEndColumn, uint16_t(std::min<uint32_t>(columns, uint32_t(sheet::kColumns))));
    m_out.own(std::move(bytes), long(i));
    if (m_sheet.lastCellTable < 0)
        newBlocks(m_plan.firstNew);
}

void WorkbookAppender::Assembly::patchSheetDirectory(std::string &stream) const
{
    for (size_t b : m_book.m_boundSheets) {
        const uint32_t at = m_out.recordPosition(b) + 4 + kBoundSheetPosition; // copied, so placed
        ByteSink::patch32(stream, at, m_out.moved(m_layout.records[b].u32(kBoundSheetPosition)));
    }
}

void WorkbookAppender::Assembly::patchFirstSheetIndex(std::string &stream) const
{
    if (m_indexPiece < 0)
        return;
    if (m_dbCells.size() != m_plan.blocksAfter)
        refuse(QStringLiteral("第一个工作表的行块无法重新编排"));
    const uint32_t at = m_out.position(size_t(m_indexPiece)) + 4;
    const BiffRecord &old = m_layout.records[size_t(m_sheet.index)];
    ByteSink::patch32(stream, at + fields::kIndexDefColWidth,
                      m_sheet.defColWidth >= 0 ? m_out.recordPosition(size_t(m_sheet.defColWidth))
                                               : m_out.moved(old.u32(fields::kIndexDefColWidth)));
    for (size_t k = 0; k < m_dbCells.size(); ++k)
        ByteSink::patch32(stream, at + fields::kIndexDbCells + 4 * uint32_t(k),
                          m_dbCells[k].piece == kOld ? m_out.recordPosition(m_dbCells[k].offset)
                                                     : m_out.position(m_dbCells[k].piece) + m_dbCells[k].offset);
}

void WorkbookAppender::Assembly::patchOtherIndexes(std::string &stream) const
{
    for (size_t s = 0; s < m_layout.sheets.size(); ++s) {
        if (s == m_book.m_firstSheet)
            continue;
        int depth = 0;
        for (size_t i = m_layout.sheets[s].bof; i <= m_layout.sheets[s].eof; ++i) {
            const BiffRecord &r = m_layout.records[i];
            depth += r.type == rec::kBof ? 1 : 0;
            if (depth == 1 && r.type == rec::kIndex && r.length >= fields::kIndexDbCells) {
                const uint32_t at = m_out.recordPosition(i) + 4;
                ByteSink::patch32(stream, at + fields::kIndexDefColWidth, m_out.moved(r.u32(fields::kIndexDefColWidth)));
                for (uint32_t f = fields::kIndexDbCells; f + 4 <= r.length; f += 4)
                    ByteSink::patch32(stream, at + f, m_out.moved(r.u32(f)));
            }
            depth -= r.type == rec::kEof ? 1 : 0;
        }
    }
}

// EXTSST: where every bucket's first string now starts.
void WorkbookAppender::Assembly::patchExtSst(std::string &stream) const
{
    if (m_extSstPiece < 0)
        return;
    const SstTable &sst = m_book.m_sst;
    const uint32_t perBucket = stringsPerBucket(m_plan.unique);
    const uint32_t at = m_out.position(size_t(m_extSstPiece)) + 4 + 2;
    for (uint32_t k = 0; k * perBucket < m_plan.unique; ++k) {
        const uint32_t index = k * perBucket;
        uint32_t position, inRecord;
        if (index < sst.uniqueCount()) {
            const SstTable::Start &start = sst.starts[index];
            const uint32_t recordAt = start.record == sst.sst ? m_out.position(size_t(m_sstPiece)) : m_out.recordPosition(start.record);
            position = recordAt + 4 + start.offset;
            inRecord = 4 + start.offset;
        } else {
            const StringStart &start = m_newStarts[index - sst.uniqueCount()];
            position = m_out.position(start.piece) + start.inPiece;
            inRecord = start.inRecord;
        }
        ByteSink::patch32(stream, at + 8 * k, position);
        ByteSink::patch16(stream, at + 8 * k + 4, uint16_t(inRecord));
    }
}

} // namespace xls
