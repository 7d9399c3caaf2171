#include "station/files/DayIndex.h"

#include "core/RuntimeError.h"
#include "packing/Box.h"
#include "station/ports/BoxExport.h"
#include "station/files/DayWorkbooks.h"
#include "packing/Gs1Rules.h"
#include "station/files/PackSearch.h"

#include <QFileInfo>

void DayIndex::load(const QString &programFolder, const QDate &day)
{
    m_folder = programFolder;
    m_day = day;
    m_barcodes.clear();
    for (const int n : dayworkbooks::existing(programFolder, day)) {
        try {
            for (const packsearch::Listed &p : packsearch::packsOf(dayworkbooks::path(programFolder, day, n))) {
                if (p.pack.isEmpty()) // a cleared cell is nothing a scan repeats
                    continue;
                const Pack pack = m_gs1 ? gs1rules::listedPack(p.pack.text(), day) : p.pack;
                m_barcodes.insert(pack.identity(), {p.outerLabel, p.workbook, p.row}); // the later row wins: either says "already there"
            }
        } catch (const RuntimeError &) {
            // An unreadable workbook cannot be checked against; the export tells about it.
        }
    }
}

void DayIndex::addBox(const Box &box, const ExportReceipt &receipt)
{
    const QString workbook = QFileInfo(receipt.workbook).fileName();
    for (int32_t r = 0; r < box.rowCount(); ++r) {
        const BoxRow &row = box.rows()[size_t(r)];
        if (row.kind == BoxRow::Pack && !row.text.isEmpty())
            m_barcodes.insert(row.pack().identity(), {box.outerLabel(), workbook, receipt.firstRow + r});
    }
}

std::optional<DayIndex::Where> DayIndex::find(const Pack &pack) const
{
    const auto it = m_barcodes.constFind(pack.identity());
    if (it == m_barcodes.constEnd())
        return std::nullopt;
    return *it;
}
