#include "platform/xls/PositionChecks.h"

#include "core/RuntimeError.h"
#include "platform/xls/Records.h"

#include <algorithm>

namespace xls {

namespace {

[[noreturn]] void refuse(const QString &why)
{
    throw RuntimeError(RuntimeError::WorkbookFailed, QStringLiteral("WorkbookAppender"), why);
}

[[noreturn]] void wrongPosition(const QString &where)
{
    refuse(QStringLiteral("工作簿内部的位置信息有误（%1），无法安全追加").arg(where));
}

// Where a position usually points is tried first; a search of every record
// settles the rest. A sheet of 65,536 rows has 2,048 of each.
class Positions
{
public:
    explicit Positions(const BiffLayout &layout) : m_layout(layout) {}

    bool isAt(uint32_t position, uint16_t type) const
    {
        const long i = m_layout.recordAt(position);
        return i >= 0 && m_layout.records[size_t(i)].type == type;
    }
    bool isExpected(uint32_t position, const std::vector<size_t> *expected, size_t k) const
    {
        return expected && k < expected->size() && (*expected)[k] < m_layout.records.size()
               && m_layout.records[(*expected)[k]].at == position;
    }
    void checkIndex(const BiffRecord &r, const std::vector<size_t> *dbCells) const
    {
        const uint32_t defColWidth = r.u32(fields::kIndexDefColWidth);
        if (defColWidth != 0 && !isAt(defColWidth, rec::kDefColWidth))
            wrongPosition(QStringLiteral("INDEX"));
        for (uint32_t f = fields::kIndexDbCells, k = 0; f + 4 <= r.length; f += 4, ++k)
            if (!isExpected(r.u32(f), dbCells, k) && !isAt(r.u32(f), rec::kDbCell))
                wrongPosition(QStringLiteral("INDEX"));
    }
    void checkDbCell(const BiffRecord &r, const std::vector<size_t> *firstRows, size_t k) const
    {
        if (r.length < 4 || r.u32(0) > r.at)
            wrongPosition(QStringLiteral("DBCELL"));
        const uint32_t firstRow = r.at - r.u32(0);
        if (!isExpected(firstRow, firstRows, k) && !isAt(firstRow, rec::kRow))
            wrongPosition(QStringLiteral("DBCELL"));
    }

private:
    const BiffLayout &m_layout;
};

// A sheet other than the first: its positions, and its cells inside its used range
// (the first sheet's range is widened to its cells; another sheet's is not touched).
void checkOtherSheet(const BiffLayout &layout, const Positions &positions, size_t s)
{
    const BiffSubstream &sheet = layout.sheets[s];
    int depth = 0;
    long dimensions = -1;
    for (size_t i = sheet.bof; i <= sheet.eof; ++i) {
        const BiffRecord &r = layout.records[i];
        depth += r.type == rec::kBof ? 1 : 0;
        if (depth == 1) {
            if (r.type == rec::kIndex && r.length >= fields::kIndexDbCells) {
                positions.checkIndex(r, nullptr);
            } else if (r.type == rec::kDbCell) {
                positions.checkDbCell(r, nullptr, 0);
            } else if (r.type == rec::kDimensions && dimensions < 0) {
                if (r.length < fields::kDimMinLength)
                    refuse(QStringLiteral("第 %1 个工作表的使用范围记录损坏").arg(s + 1));
                dimensions = long(i);
            } else if (dimensions >= 0 && isCellRecord(r.type) && r.length >= 4) {
                const BiffRecord &d = layout.records[size_t(dimensions)];
                const uint32_t lastColumn = lastColumnOf(r);
                if (r.u16(0) < d.u32(fields::kDimFirstRow) || r.u16(0) >= d.u32(fields::kDimEndRow)
                    || r.u16(2) < d.u16(fields::kDimFirstColumn) || lastColumn >= d.u16(fields::kDimEndColumn))
                    refuse(QStringLiteral("第 %1 个工作表有单元格在其使用范围之外").arg(s + 1));
            }
        }
        depth -= r.type == rec::kEof ? 1 : 0;
    }
}

} // namespace

void checkPositions(const BiffLayout &layout, const std::vector<size_t> &boundSheets, size_t firstSheetIndex,
                    const FirstSheet &firstSheet)
{
    for (size_t b : boundSheets) {
        const uint32_t position = layout.records[b].u32(kBoundSheetPosition);
        if (std::none_of(layout.sheets.begin(), layout.sheets.end(),
                         [&](const BiffSubstream &s) { return layout.records[s.bof].at == position; }))
            wrongPosition(QStringLiteral("工作表目录"));
    }
    const Positions positions(layout);
    // The first sheet, the large one, from what its scan found.
    if (firstSheet.index >= 0)
        positions.checkIndex(layout.records[size_t(firstSheet.index)], &firstSheet.dbCells);
    for (size_t k = 0; k < firstSheet.dbCells.size(); ++k)
        positions.checkDbCell(layout.records[firstSheet.dbCells[k]], &firstSheet.blockFirstRows, k);
    for (size_t s = 0; s < layout.sheets.size(); ++s)
        if (s != firstSheetIndex)
            checkOtherSheet(layout, positions, s);
}

} // namespace xls
