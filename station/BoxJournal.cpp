#include "station/BoxJournal.h"

#include "core/LineCodec.h"
#include "core/RuntimeError.h"
#include "platform/DurableLogReader.h"
#include "platform/RegularFile.h"
#include "station/files/BoxLines.h"

#include <QDir>

using namespace boxlines;
using namespace boxlines::keyword;

namespace {

const QByteArray kHeader = "# Zantrel 当前外箱（程序自动写入，请勿在运行时修改）\n";

QByteArray numbersLine(int32_t middleNo, int32_t outerNo)
{
    return linecodec::line(kNumbers, {QByteArray::number(middleNo), QByteArray::number(outerNo)});
}

QByteArray exportLine(const QString &folder, const ExportTarget &target)
{
    // Relative to the program folder, so a moved folder still finds its workbook.
    const QString relative = QDir(folder).relativeFilePath(target.workbook);
    if (target.boxId.isNull())
        return linecodec::line(kExport, {QByteArray::number(target.firstRow), escaped(relative)});
    return linecodec::line(kExport, {QByteArray::number(target.firstRow), target.boxId.toByteArray(QUuid::WithoutBraces), escaped(relative)});
}

// "export ROW [ID] PATH": the box's id, in journals written since boxes have one; a
// path never reads as one.
std::optional<ExportTarget> exportFrom(const QString &folder, const QByteArray &rest)
{
    const std::optional<linecodec::Leading> row = linecodec::leading(rest, 1);
    if (!row)
        return std::nullopt;
    bool ok = false;
    const int firstRow = row->fields[0].toInt(&ok);
    QByteArrayView path = row->tail;
    QUuid id;
    if (const std::optional<linecodec::Leading> withId = linecodec::leading(path, 1)) {
        id = QUuid::fromString(QLatin1StringView(withId->fields[0]));
        if (!id.isNull())
            path = withId->tail;
    }
    const std::optional<QString> relative = unescaped(path.toByteArray());
    if (!ok || firstRow < 1 || !relative || relative->isEmpty())
        return std::nullopt;
    return ExportTarget{QDir::cleanPath(QDir(folder).absoluteFilePath(*relative)), firstRow, id};
}

[[noreturn]] void impossible(const QString &path, const QString &why)
{
    throw RuntimeError(RuntimeError::JournalFailed, QStringLiteral("BoxJournal"),
                       QStringLiteral("%1 记录的外箱不可能存在：%2").arg(QDir::toNativeSeparators(path), why), RuntimeError::Kind::Journal);
}

// Packs counted without a limit, so that a journal made by hand cannot wrap them.
int64_t packsIn(const std::vector<BoxRow> &rows)
{
    int64_t n = 0;
    for (const BoxRow &row : rows)
        n += row.kind == BoxRow::Pack ? 1 : 0;
    return n;
}

// A box the journal describes must be one the station could have packed and can finish.
void checkWhole(const QString &path, const BoxJournal::Saved &saved)
{
    const int64_t packs = packsIn(saved.rows);
    if (packs > INT16_MAX)
        impossible(path, QStringLiteral("%1 个内包，一箱最多 %2 个").arg(packs).arg(INT16_MAX));
    if (saved.job) {
        if (saved.job->iPerMiddle < 1 || saved.job->iPerOuter < 1)
            impossible(path, QStringLiteral("包装数量 %1 / %2 无效").arg(saved.job->iPerMiddle).arg(saved.job->iPerOuter));
        if (packs > saved.job->iPerOuter)
            impossible(path, QStringLiteral("%1 个内包，超过该箱的外箱包装数量 %2").arg(packs).arg(saved.job->iPerOuter));
    }
    if (saved.rows.empty())
        return;
    if (saved.rows.front().kind != BoxRow::OuterLabel)
        impossible(path, QStringLiteral("第一行不是外箱号"));
    for (size_t i = 1; i < saved.rows.size(); ++i)
        if (saved.rows[i].kind == BoxRow::OuterLabel)
            impossible(path, QStringLiteral("一箱中有两个外箱号"));
    if (packs == 0)
        return;
    if (!saved.middleNo || !saved.outerNo)
        impossible(path, QStringLiteral("缺少序号"));
    if (*saved.middleNo == INT32_MAX || *saved.outerNo == INT32_MAX)
        impossible(path, QStringLiteral("序号 %1 无法再增加，这一箱无法装完").arg(INT32_MAX));
}

} // namespace

QString BoxJournal::fileName()
{
    return QStringLiteral("open-box.txt");
}

int16_t BoxJournal::Saved::packs() const
{
    return int16_t(std::min<int64_t>(packsIn(rows), INT16_MAX));
}

QString BoxJournal::Saved::outerLabel() const
{
    for (const BoxRow &row : rows)
        if (row.kind == BoxRow::OuterLabel)
            return row.text;
    return {};
}

BoxJournal::BoxJournal(const QString &programFolder)
    : m_folder(programFolder), m_log(QDir(programFolder).filePath(fileName()), RuntimeError::Kind::Journal)
{
}

std::optional<BoxJournal::Saved> BoxJournal::load(const QString &programFolder)
{
    const QString path = QDir(programFolder).filePath(fileName());
    DurableLogReader log(path, regularfile::kJournalLimit, RuntimeError::Kind::Journal, RuntimeError::JournalFailed,
                         QStringLiteral("BoxJournal"));
    if (!log.exists())
        return std::nullopt;
    Saved saved;
    std::optional<Saved> beforeScan; // the state before an open begin … end
    DurableLogReader::Line line;
    while (log.next(line)) {
        const QByteArray &keyword = line.keyword;
        const QByteArray &rest = line.rest;
        if (const std::optional<BoxRow::Kind> kind = kindOf(keyword)) {
            const std::optional<QString> text = unescaped(rest);
            if (!text)
                log.unreadable(line);
            saved.rows.push_back({*kind, *text});
        } else if (keyword == kGs1) {
            if (!attachFields(saved.rows, rest))
                log.unreadable(line);
        } else if (keyword == kRemove) {
            if (saved.rows.empty())
                log.unreadable(line);
            saved.rows.pop_back();
        } else if (keyword == kPending) {
            saved.exportPending = rest == "1";
            if (!saved.exportPending)
                saved.target.reset();
        } else if (keyword == kNumbers) {
            const QList<QByteArray> parts = rest.split(' ');
            bool okMiddle = false, okOuter = false;
            const int32_t middle = parts.size() == 2 ? parts[0].toInt(&okMiddle) : 0;
            const int32_t outer = parts.size() == 2 ? parts[1].toInt(&okOuter) : 0;
            if (!okMiddle || !okOuter)
                log.unreadable(line);
            saved.middleNo = middle;
            saved.outerNo = outer;
        } else if (keyword == kJob) {
            saved.job = jobFrom(rest);
            if (!saved.job)
                log.unreadable(line);
        } else if (keyword == kOperator) {
            const std::optional<QString> id = operatorFrom(rest);
            if (!id)
                log.unreadable(line);
            if (!saved.operators.contains(*id))
                saved.operators << *id;
        } else if (keyword == kBatch) {
            saved.batch = batchFrom(rest);
            if (!saved.batch)
                log.unreadable(line);
        } else if (keyword == kExport) {
            saved.target = exportFrom(programFolder, rest);
            if (!saved.target)
                log.unreadable(line);
        } else if (keyword == kBegin && !beforeScan) {
            beforeScan = saved;
        } else if (keyword == kEnd && beforeScan) {
            beforeScan.reset();
        } else {
            log.unreadable(line);
        }
    }
    // A scan whose end never reached the disk did not happen.
    if (beforeScan)
        saved = *beforeScan;
    checkWhole(path, saved);
    return saved;
}

void BoxJournal::startWith(const std::vector<BoxRow> &rows, bool exportPending, int32_t middleNo, int32_t outerNo,
                           const std::optional<PackingJob> &job, const std::optional<ExportTarget> &target,
                           const std::optional<Batch> &batch, const QStringList &operators)
{
    const QByteArray batchText = batch ? batchLine(*batch) : QByteArray();
    QByteArray content = kHeader + batchText + numbersLine(middleNo, outerNo);
    if (job)
        content += jobLine(*job);
    for (const QString &id : operators)
        content += linecodec::line(kOperator, {id.toLatin1()});
    for (const BoxRow &row : rows)
        content += rowLine(row);
    if (exportPending)
        content += linecodec::line(kPending, {"1"});
    if (exportPending && target)
        content += exportLine(m_folder, *target);
    m_log.replace(content);
    m_rewriteFirst.reset();
    m_batchLine = batchText;
}

void BoxJournal::batchTaken(const Batch &batch)
{
    const QByteArray line = batchLine(batch);
    write(line);
    m_batchLine = line;
}

void BoxJournal::write(const QByteArray &lines)
{
    if (m_rewriteFirst) {
        m_log.replace(*m_rewriteFirst + lines);
        m_rewriteFirst.reset();
        return;
    }
    m_log.append(lines);
}

void BoxJournal::changed(const BoxChange &change)
{
    QByteArray lines;
    if (change.job)
        lines += jobLine(*change.job);
    if (!change.operatorId.isEmpty())
        lines += linecodec::line(kOperator, {change.operatorId.toLatin1()});
    for (const BoxRow &row : change.rows)
        lines += rowLine(row);
    if (change.numbers)
        lines += numbersLine(change.numbers->middleNo, change.numbers->outerNo);
    // One line is whole or torn by itself; several are one scan only between begin and end.
    if (lines.count('\n') > 1)
        lines = linecodec::line(kBegin) + lines + linecodec::line(kEnd);
    write(lines);
}

void BoxJournal::exportPendingChanged(bool pending)
{
    write(linecodec::line(kPending, {pending ? "1" : "0"}));
}

void BoxJournal::exporting(const ExportTarget &target)
{
    write(exportLine(m_folder, target));
}

void BoxJournal::jobChanged(const PackingJob &job)
{
    write(jobLine(job));
}

void BoxJournal::emptied(int32_t middleNo, int32_t outerNo)
{
    const QByteArray content = kHeader + m_batchLine + numbersLine(middleNo, outerNo);
    try {
        m_log.replace(content);
        m_rewriteFirst.reset();
    } catch (const RuntimeError &) {
        m_rewriteFirst = content;
        throw;
    }
}

void BoxJournal::closedShort(bool takeBack, const RunningNumbers &numbers)
{
    QByteArray lines = linecodec::line(kBegin);
    if (takeBack)
        lines += linecodec::line(kRemove);
    lines += numbersLine(numbers.middleNo, numbers.outerNo) + linecodec::line(kPending, {"1"}) + linecodec::line(kEnd);
    write(lines);
}

void BoxJournal::numbersAdvanced(int32_t middleNo, int32_t outerNo)
{
    write(numbersLine(middleNo, outerNo));
}
