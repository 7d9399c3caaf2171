#include "platform/xls/FirstSheet.h"

#include "core/RuntimeError.h"
#include "platform/xls/Records.h"

namespace xls {

namespace {

[[noreturn]] void refuse(const QString &why)
{
    throw RuntimeError(RuntimeError::WorkbookFailed, QStringLiteral("WorkbookAppender"), why);
}

} // namespace

void FirstSheetScanner::other(size_t i, const BiffRecord &r)
{
    switch (r.type) {
    case rec::kIndex:
        if (m_sheet.index < 0 && r.length >= fields::kIndexDbCells)
            m_sheet.index = long(i);
        break;
    case rec::kDefColWidth:
        m_sheet.defColWidth = long(i);
        break;
    case rec::kColInfo:
        if (r.length < fields::kColInfoLength)
            refuse(QStringLiteral("列宽记录太短"));
        m_sheet.colInfos.push_back({i, r.u16(fields::kColInfoFirst), r.u16(fields::kColInfoLast), r.u16(fields::kColInfoWidth)});
        break;
    case rec::kDimensions:
        if (m_dimensions < 0) {
            if (r.length < fields::kDimMinLength)
                refuse(QStringLiteral("使用范围记录太短"));
            m_dimensions = long(i);
            m_usedRows = std::max<int32_t>(m_usedRows, int32_t(std::min<uint32_t>(r.u32(fields::kDimEndRow), sheet::kRows)));
        }
        break;
    case rec::kDbCell:
        m_sheet.dbCells.push_back(i);
        // Its block's first ROW, where it should point.
        m_sheet.blockFirstRows.push_back(m_blockFirstRow >= 0 ? size_t(m_blockFirstRow) : SIZE_MAX);
        m_blockFirstRow = -1;
        m_sheet.lastCellTable = long(i);
        break;
    default:
        if (isFormulaAttachment(r.type))
            m_sheet.lastCellTable = long(i);
        break;
    }
}

void FirstSheetScanner::refuseDamagedCell(long column)
{
    if (column < 0)
        refuse(QStringLiteral("单元格记录太短"));
    refuse(QStringLiteral("单元格记录损坏（第 %1 列超出 %2 列）").arg(column + 1).arg(uint32_t(sheet::kColumns)));
}

FirstSheet FirstSheetScanner::finish(const BiffLayout &layout)
{
    if (m_dimensions < 0)
        refuse(QStringLiteral("第一个工作表缺少使用范围记录"));
    FirstSheet s = std::move(m_sheet);
    s.dimensions = size_t(m_dimensions);
    s.lastUsedRow = std::max<int32_t>(1, m_usedRows);

    // The last block can take the box's first rows when it ends the cell table with
    // its DBCELL and holds nothing but its rows' records.
    if (s.dbCells.empty() || long(s.dbCells.back()) != s.lastCellTable)
        return s;
    const size_t lastDb = s.dbCells.back();
    const size_t from = s.dbCells.size() >= 2 ? s.dbCells[s.dbCells.size() - 2] + 1 : s.dimensions + 1;
    uint32_t lowest = UINT32_MAX;
    for (size_t i = from; i < lastDb; ++i) {
        const BiffRecord &r = layout.records[i];
        if (r.type == rec::kRow || isCellRecord(r.type))
            lowest = std::min<uint32_t>(lowest, r.u16(0));
        else if (!isFormulaAttachment(r.type))
            return s;
    }
    if (lowest == UINT32_MAX)
        return s;
    s.blockStart = long(from);
    s.blockBase = lowest - lowest % fields::kRowsPerBlock;
    return s;
}

} // namespace xls
