#include "platform/xls/AppendPlan.h"

#include "core/RuntimeError.h"
#include "platform/xls/ColumnWidth.h"
#include "platform/xls/Records.h"
#include "platform/xls/SharedStrings.h"

#include <QHash>
#include <algorithm>

namespace xls {

namespace {

constexpr int kColumns = sheet::kBoxColumns;

[[noreturn]] void refuse(const QString &why)
{
    throw RuntimeError(RuntimeError::WorkbookFailed, QStringLiteral("WorkbookAppender"), why);
}

// The box's texts as shared strings: repeats within the box share one; the widest
// text of each column is noted for its width.
void planStrings(AppendPlan &plan, const std::vector<SheetRow> &rows, const SstTable &sst, std::array<int, kColumns> &widest)
{
    QHash<QString, uint32_t> added;
    uint32_t textCells = 0;
    plan.sstIndex.resize(rows.size());
    for (size_t r = 0; r < rows.size(); ++r) {
        for (int c = 0; c < kColumns; ++c) {
            const QString &text = rows[r][size_t(c)];
            widest[size_t(c)] = std::max(widest[size_t(c)], displayWidth(text));
            long &index = plan.sstIndex[r][size_t(c)];
            if (text.isEmpty()) {
                index = -1;
                continue;
            }
            if (text.size() > kMaxCellText)
                refuse(QStringLiteral("第 %1 行的文字有 %2 个字符，超过单元格上限 %3")
                           .arg(plan.firstNew + r + 1).arg(text.size()).arg(kMaxCellText));
            ++textCells;
            if (const auto n = added.constFind(text); n != added.constEnd()) {
                index = long(*n);
            } else {
                const uint32_t next = sst.uniqueCount() + uint32_t(plan.newStrings.size());
                added.insert(text, next);
                plan.newStrings.push_back(text);
                index = long(next);
            }
        }
    }
    plan.unique = sst.uniqueCount() + uint32_t(plan.newStrings.size());
    plan.total = sst.total + textCells;
}

// Columns A to C: fitted to the box, never narrower than they are.
void planWidths(AppendPlan &plan, const FirstSheet &sheet, const std::array<int, kColumns> &widest)
{
    for (uint16_t c = 0; c < kColumns; ++c) {
        uint16_t &wanted = plan.wanted[c];
        wanted = fittedColumnWidth(widest[c]);
        for (const FirstSheet::ColInfo &info : sheet.colInfos)
            if (info.first <= c && c <= info.last)
                wanted = info.width >= wanted ? 0 : wanted;
        plan.widen = plan.widen || wanted != 0;
    }
}

} // namespace

AppendPlan planAppend(const std::vector<SheetRow> &rows, const FirstSheet &sheet, const SstTable &sst, uint16_t textXf)
{
    AppendPlan plan;
    plan.firstNew = uint32_t(sheet.lastUsedRow);
    if (int64_t(plan.firstNew) + int64_t(rows.size()) > sheet::kRows)
        refuse(QStringLiteral("第一个工作表已用 %1 行，再加 %2 行将超过 %3 行的上限").arg(plan.firstNew).arg(rows.size()).arg(sheet::kRows));
    if (rows.empty())
        return plan;
    plan.lastNew = plan.firstNew + uint32_t(rows.size()) - 1;
    plan.xf = textXf;
    constexpr uint32_t kBlock = fields::kRowsPerBlock;
    plan.merging = sheet.blockStart >= 0 && plan.firstNew < sheet.blockBase + kBlock;
    plan.blocksAfter = sheet.dbCells.size() + (plan.lastNew / kBlock - plan.firstNew / kBlock + 1) - (plan.merging ? 1 : 0);
    std::array<int, kColumns> widest{};
    planStrings(plan, rows, sst, widest);
    planWidths(plan, sheet, widest);
    return plan;
}

} // namespace xls
