#include "station/Outbox.h"

#include "core/RuntimeError.h"
#include "platform/RegularFile.h"
#include "station/BoxLines.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

using namespace boxlines;

namespace {

const QByteArray kHeader = "# Zantrel 待上传到中央记录的外箱（程序自动写入，请勿在运行时修改）\n";
const QByteArray kBox = "box";
const QByteArray kStation = "station";
const QByteArray kEnd = "end";

QByteArray linesOf(const Outbox::Entry &e)
{
    QByteArray out = kBox + ' ' + e.id.toByteArray(QUuid::WithoutBraces) + ' '
                     + timeText(e.writtenAt).toUtf8() + ' ' + QByteArray::number(e.firstRow) + ' '
                     + escaped(e.workbook) + '\n';
    out += kStation + ' ' + escaped(e.station) + '\n';
    if (e.job)
        out += jobLine(*e.job);
    for (const BoxRow &row : e.rows)
        out += rowLine(row);
    return out + kEnd + '\n';
}

[[noreturn]] void unreadable(const QString &path, int line)
{
    throw RuntimeError(RuntimeError::WorkbookFailed, QStringLiteral("Outbox"),
                       QStringLiteral("%1 第 %2 行无法识别").arg(QDir::toNativeSeparators(path)).arg(line));
}

// The "box" line's fields; false when they do not read.
bool readBoxLine(const QByteArray &rest, Outbox::Entry &e)
{
    const QByteArrayList f = rest.split(' ');
    if (f.size() < 4)
        return false;
    e.id = QUuid::fromString(QLatin1String(f[0]));
    e.writtenAt = QDateTime::fromString(QString::fromLatin1(f[1]), Qt::ISODateWithMs);
    bool ok = false;
    e.firstRow = f[2].toInt(&ok);
    const std::optional<QString> workbook = unescaped(rest.mid(f[0].size() + f[1].size() + f[2].size() + 3));
    if (e.id.isNull() || !e.writtenAt.isValid() || !ok || e.firstRow < 1 || !workbook)
        return false;
    e.workbook = *workbook;
    return true;
}

} // namespace

QString Outbox::fileName()
{
    return QStringLiteral("outbox.txt");
}

Outbox::Outbox(const QString &programFolder)
    : m_path(QDir(programFolder).filePath(fileName())), m_log(m_path)
{
}

void Outbox::add(const Entry &entry)
{
    // Nothing goes in that would not read back: the file would be damaged for every box after it.
    if (entry.id.isNull() || !entry.writtenAt.isValid() || entry.firstRow < 1 || entry.rows.empty())
        throw RuntimeError(RuntimeError::InvalidProcedureCall, QStringLiteral("Outbox"),
                           QStringLiteral("外箱 %1 的记录不完整，未放入 %2").arg(entry.rows.empty() ? QString() : entry.rows[0].text, fileName()));
    const QMutexLocker locker(&m_lock);
    if (!m_tailChecked) {
        bool torn = false;
        std::vector<Entry> whole;
        try {
            whole = read(&torn);
        } catch (const RuntimeError &) {
            torn = false; // a damaged file is set aside at start, not mended here
        }
        if (torn)
            m_log.replace(contentOf(whole));
        m_tailChecked = true;
    }
    m_log.append(linesOf(entry));
}

QByteArray Outbox::contentOf(const std::vector<Entry> &entries) const
{
    QByteArray content = kHeader;
    for (const Entry &e : entries)
        content += linesOf(e);
    return content;
}

QString Outbox::setAsideIfDamaged()
{
    const QMutexLocker locker(&m_lock);
    try {
        read();
        return {};
    } catch (const RuntimeError &e) {
        const QString aside = QStringLiteral("outbox.damaged-%1.txt").arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss")));
        const QFileInfo file(m_path);
        if (!QFile::rename(m_path, file.dir().filePath(aside)))
            throw e.withPrefix(QStringLiteral("该文件也无法改名保留："));
        return aside;
    }
}

std::vector<Outbox::Entry> Outbox::pending() const
{
    const QMutexLocker locker(&m_lock);
    return read();
}

std::vector<Outbox::Entry> Outbox::read(bool *torn) const
{
    std::optional<QByteArray> bytes;
    try {
        bytes = regularfile::read(m_path, regularfile::kOutboxLimit);
    } catch (const RuntimeError &e) {
        throw RuntimeError(RuntimeError::WorkbookFailed, QStringLiteral("Outbox"),
                           QStringLiteral("无法读取 %1：%2").arg(QDir::toNativeSeparators(m_path), e.description()));
    }
    std::vector<Entry> entries;
    if (!bytes)
        return entries;
    std::optional<Entry> open; // the box being read, until its "end"
    const QList<QByteArray> lines = bytes->split('\n');
    // The piece after the last line end is a torn line (or nothing); a box without its
    // "end" was torn by a crash and is skipped.
    for (qsizetype n = 0; n + 1 < lines.size(); ++n) {
        const QByteArray &line = lines[n];
        const int number = int(n + 1);
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        const qsizetype space = line.indexOf(' ');
        const QByteArray keyword = space < 0 ? line : line.left(space);
        const QByteArray rest = space < 0 ? QByteArray() : line.mid(space + 1);
        if (keyword == kBox && !open) {
            open = Entry();
            if (!readBoxLine(rest, *open))
                unreadable(m_path, number);
        } else if (!open) {
            unreadable(m_path, number);
        } else if (keyword == kStation) {
            const std::optional<QString> station = unescaped(rest);
            if (!station)
                unreadable(m_path, number);
            open->station = *station;
        } else if (keyword == kJobKeyword) {
            open->job = jobFrom(rest);
            if (!open->job)
                unreadable(m_path, number);
        } else if (const std::optional<BoxRow::Kind> kind = kindOf(keyword)) {
            const std::optional<QString> text = unescaped(rest);
            if (!text)
                unreadable(m_path, number);
            open->rows.push_back({*kind, *text});
        } else if (keyword == kEnd) {
            entries.push_back(std::move(*open));
            open.reset();
        } else {
            unreadable(m_path, number);
        }
    }
    if (torn)
        *torn = open || !lines.last().isEmpty();
    return entries;
}

void Outbox::remove(const QSet<QUuid> &delivered)
{
    const QMutexLocker locker(&m_lock);
    std::vector<Entry> left;
    for (Entry &e : read())
        if (!delivered.contains(e.id))
            left.push_back(std::move(e));
    m_log.replace(contentOf(left));
}
