#include "station/Box.h"

#include "core/Checked.h"
#include "core/RuntimeError.h"

void Box::setView(RecordGrid *view)
{
    m_view = view;
    if (m_view)
        m_view->showRows(this);
}

QString Box::cellText(int32_t row, int32_t column) const
{
    if (row < 0 || row >= rowCount())
        return {};
    return m_rows[size_t(row)].cell(column);
}

QString Box::outerLabel() const
{
    for (const BoxRow &row : m_rows)
        if (row.kind == BoxRow::OuterLabel)
            return row.text;
    return {};
}

void Box::appendOuterLabel(const QString &label)
{
    append({BoxRow::OuterLabel, label});
}

void Box::appendMiddleLabel(const QString &label)
{
    append({BoxRow::MiddleLabel, label});
}

void Box::appendPack(const QString &barcode)
{
    checked::add16(m_packs, 1); // raises before anything changes
    append({BoxRow::Pack, barcode});
}

void Box::countBarcode(const QString &barcode, int32_t change)
{
    if (barcode.isEmpty())
        return; // an empty barcode never counts as a repeat
    auto it = m_barcodes.find(barcode);
    if (it == m_barcodes.end()) {
        if (change > 0)
            m_barcodes.insert(barcode, change);
        return;
    }
    *it += change;
    if (*it <= 0)
        m_barcodes.erase(it);
}

void Box::append(BoxRow row)
{
    if (m_log)
        m_log->rowAdded(row);
    // The count is right before the view hears of the row.
    if (row.kind == BoxRow::Pack) {
        ++m_packs;
        countBarcode(row.text, 1);
    }
    m_rows.push_back(std::move(row));
    if (m_view)
        m_view->rowAppended(rowCount() - 1);
}

void Box::removeLastPack()
{
    if (m_rows.empty() || m_rows.back().kind != BoxRow::Pack)
        throw RuntimeError(RuntimeError::InvalidProcedureCall, QStringLiteral("Box"),
                           QStringLiteral("最后一行不是内包条码"));
    if (m_log)
        m_log->lastRowRemoved();
    const QString barcode = m_rows.back().text;
    m_rows.pop_back();
    m_packs = checked::sub16(m_packs, 1);
    countBarcode(barcode, -1);
    if (m_view)
        m_view->rowRemoved(rowCount());
}

void Box::setExportPending(bool pending)
{
    if (pending == m_exportPending)
        return;
    if (m_log)
        m_log->exportPendingChanged(pending);
    m_exportPending = pending;
}

void Box::empty(int32_t middleNo, int32_t outerNo)
{
    // The box leaves memory even when the log cannot record it: it is in the workbook
    // already, and keeping it would write it there a second time.
    struct Clear
    {
        Box &box;
        ~Clear()
        {
            box.m_rows.clear();
            box.m_barcodes.clear();
            box.m_packs = 0;
            box.m_exportPending = false;
            if (box.m_view)
                box.m_view->reset();
        }
    } clear{*this};
    if (m_log)
        m_log->emptied(middleNo, outerNo);
}

void Box::numbersAdvanced(int32_t middleNo, int32_t outerNo)
{
    if (m_log)
        m_log->numbersAdvanced(middleNo, outerNo);
}

void Box::restore(std::vector<BoxRow> rows, bool exportPending)
{
    m_rows = std::move(rows);
    m_barcodes.clear();
    m_packs = 0;
    for (const BoxRow &row : m_rows) {
        if (row.kind != BoxRow::Pack)
            continue;
        m_packs = checked::add16(m_packs, 1);
        countBarcode(row.text, 1);
    }
    m_exportPending = exportPending;
    if (m_view)
        m_view->reset();
}
