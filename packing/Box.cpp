#include "packing/Box.h"

#include "core/Checked.h"
#include "core/RuntimeError.h"

namespace {

int16_t packsIn(const std::vector<BoxRow> &rows)
{
    int16_t packs = 0;
    for (const BoxRow &row : rows)
        if (row.kind == BoxRow::Pack)
            packs = checked::add16(packs, 1);
    return packs;
}

} // namespace

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

const BoxRow *Box::firstPack() const
{
    for (const BoxRow &row : m_rows)
        if (row.kind == BoxRow::Pack)
            return &row;
    return nullptr;
}

int16_t Box::capacity() const
{
    return m_job && m_job->iPerOuter > 0 ? m_job->iPerOuter : INT16_MAX;
}

void Box::countPack(const ::Pack &pack, int32_t change)
{
    if (pack.isEmpty())
        return; // an empty barcode never counts as a repeat
    auto it = m_barcodes.find(pack.identity());
    if (it == m_barcodes.end()) {
        if (change > 0)
            m_barcodes.insert(pack.identity(), change);
        return;
    }
    *it += change;
    if (*it <= 0)
        m_barcodes.erase(it);
}

void Box::apply(const BoxChange &change)
{
    // Checked before anything is logged: a box never holds more than it can.
    const int16_t capacity = change.job && change.job->iPerOuter > 0 ? change.job->iPerOuter : this->capacity();
    const int16_t packs = checked::add16(m_packs, packsIn(change.rows));
    if (packs > capacity)
        throw RuntimeError(RuntimeError::Overflow, QStringLiteral("Box"),
                           QStringLiteral("外箱已装满（%1 个内包），不能再装").arg(capacity));
    if (m_log)
        m_log->changed(change);
    if (change.job)
        m_job = change.job;
    if (!change.operatorId.isEmpty() && !m_operators.contains(change.operatorId))
        m_operators << change.operatorId;
    const int32_t first = rowCount();
    m_rows.insert(m_rows.end(), change.rows.begin(), change.rows.end());
    for (const BoxRow &row : change.rows)
        if (row.kind == BoxRow::Pack)
            countPack(row.pack(), 1);
    // The count is right before the view hears of the rows.
    m_packs = packs;
    if (m_view)
        for (int32_t row = first; row < rowCount(); ++row)
            m_view->rowAppended(row);
}

void Box::setExportPending(bool pending)
{
    if (pending == m_exportPending)
        return;
    if (m_log)
        m_log->exportPendingChanged(pending);
    m_exportPending = pending;
    if (!pending)
        m_target.reset();
}

ExportTarget Box::withId(const ExportTarget &target) const
{
    // The one place a box gets its id. A box that went out once under an id keeps
    // it, so that however often it is handed on, the plant record stores it once.
    ExportTarget noted = target;
    if (noted.boxId.isNull())
        noted.boxId = m_target && !m_target->boxId.isNull() ? m_target->boxId : QUuid::createUuid();
    return noted;
}

void Box::setExportTarget(const ExportTarget &target)
{
    const ExportTarget noted = withId(target);
    if (m_log)
        m_log->exporting(noted);
    m_target = noted;
}

void Box::setJob(const PackingJob &job)
{
    if (m_job == job)
        return;
    if (m_log)
        m_log->jobChanged(job);
    m_job = job;
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
            box.m_job.reset();
            box.m_target.reset();
            box.m_operators.clear();
            if (box.m_view)
                box.m_view->reset();
        }
    } clear{*this};
    if (m_log)
        m_log->emptied(middleNo, outerNo);
}

bool Box::endsWithEmptyMiddle() const
{
    return m_rows.size() > 2 && m_rows.back().kind == BoxRow::MiddleLabel;
}

bool Box::closeShort(const RunningNumbers &numbers)
{
    const bool takeBack = endsWithEmptyMiddle();
    if (m_log)
        m_log->closedShort(takeBack, numbers);
    if (takeBack) {
        m_rows.pop_back();
        if (m_view)
            m_view->reset();
    }
    m_exportPending = true;
    return takeBack;
}

void Box::numbersAdvanced(int32_t middleNo, int32_t outerNo)
{
    if (m_log)
        m_log->numbersAdvanced(middleNo, outerNo);
}

void Box::restore(std::vector<BoxRow> rows, bool exportPending, std::optional<PackingJob> job,
                  std::optional<ExportTarget> target, QStringList operators)
{
    const int16_t packs = packsIn(rows); // raises before anything changes
    m_rows = std::move(rows);
    m_barcodes.clear();
    for (const BoxRow &row : m_rows)
        if (row.kind == BoxRow::Pack)
            countPack(row.pack(), 1);
    m_packs = packs;
    m_exportPending = exportPending;
    m_job = std::move(job);
    m_operators = std::move(operators);
    m_target.reset();
    if (target) // a journal from before box ids holds none
        m_target = withId(*target);
    if (m_view)
        m_view->reset();
}
