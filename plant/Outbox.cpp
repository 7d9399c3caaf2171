#include "plant/Outbox.h"

#include "core/LineCodec.h"
#include "core/RuntimeError.h"
#include "platform/DurableLogReader.h"
#include "platform/RegularFile.h"
#include "station/files/BoxLines.h"

#include <QDir>
#include <QFileInfo>
#include <cstring>
#include <utility>

using namespace boxlines;
using namespace boxlines::keyword;

namespace {

const QByteArray kHeader = "# Zantrel 待上传到中央记录的外箱（程序自动写入，请勿在运行时修改）\n";

QByteArray linesOf(const Outbox::Entry &e)
{
    QByteArray out = linecodec::line(kBox, {e.id.toByteArray(QUuid::WithoutBraces), timeText(e.writtenAt).toUtf8(),
                                            QByteArray::number(e.firstRow), escaped(e.workbook)});
    out += linecodec::line(kStation, {escaped(e.station)});
    if (e.job)
        out += jobLine(*e.job);
    if (!e.writtenBy.isEmpty() || !e.operators.isEmpty()) {
        // "by WRITER ID…": "-" for a writer nobody logged in as.
        QByteArray by = linecodec::line(kBy, {e.writtenBy.isEmpty() ? QByteArray("-") : e.writtenBy.toLatin1()});
        for (const QString &id : e.operators)
            by.insert(by.size() - 1, ' ' + id.toLatin1());
        out += by;
    }
    for (const BoxRow &row : e.rows)
        out += rowLine(row);
    return out + linecodec::line(kEnd);
}

// The "box" line's fields; false when they do not read.
bool readBoxLine(const QByteArray &rest, Outbox::Entry &e)
{
    const std::optional<linecodec::Leading> f = linecodec::leading(rest, 3);
    if (!f)
        return false;
    e.id = QUuid::fromString(QLatin1StringView(f->fields[0]));
    e.writtenAt = QDateTime::fromString(QString::fromLatin1(f->fields[1]), Qt::ISODateWithMs);
    bool ok = false;
    e.firstRow = f->fields[2].toInt(&ok);
    const std::optional<QString> workbook = unescaped(f->tail.toByteArray());
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

Outbox::Outbox(const QString &programFolder, const QString &name)
    : m_path(QDir(programFolder).filePath(name)), m_log(m_path, RuntimeError::Kind::Outbox, DurableLog::Watch::Yes)
{
}

void Outbox::add(const Entry &entry)
{
    // Nothing goes in that would not read back: the file would be damaged for every box after it.
    if (entry.id.isNull() || !entry.writtenAt.isValid() || entry.firstRow < 1 || entry.rows.empty())
        throw RuntimeError(RuntimeError::InvalidProcedureCall, QStringLiteral("Outbox"),
                           QStringLiteral("外箱 %1 的记录不完整，未放入 %2").arg(entry.rows.empty() ? QString() : entry.rows[0].text, QFileInfo(m_path).fileName()), RuntimeError::Kind::Outbox);
    const QMutexLocker locker(&m_lock);
    if (!m_tailChecked) {
        bool torn = false;
        try {
            torn = parse(0).torn;
        } catch (const RuntimeError &) {
            // A damaged file is set aside at start, not mended here.
        }
        m_tailChecked = true;
        if (torn)
            rewriteKeeping([](const QUuid &) { return true; });
    }
    const QByteArray lines = linesOf(entry);
    try {
        m_log.append(lines);
    } catch (const RuntimeError &e) {
        // Cut, written by someone, moved away or replaced (by a pipe, say) while the
        // station runs: what is there now is kept for a person, and this box starts a
        // fresh outbox. The boxes it held reach the record from the workbooks.
        if (e.number() != RuntimeError::FileChanged && e.number() != RuntimeError::FileRefused)
            throw;
        const QFileInfo there(m_path);
        QString aside;
        if (there.exists() || there.isSymLink()) {
            aside = DurableLogReader::setAside(m_path, QDateTime::currentDateTime());
            if (aside.isEmpty())
                throw e.withPrefix(QStringLiteral("该文件也无法改名保留："));
        }
        const QString name = QFileInfo(m_path).fileName();
        m_changes << (aside.isEmpty() ? QStringLiteral("%1 在运行中被移走或删除").arg(name)
                                      : QStringLiteral("%1 在运行中被改动或替换，已改名为 %2 保留").arg(name, aside));
        m_log.forget();
        m_log.append(lines);
    }
}

QStringList Outbox::takeChanges()
{
    const QMutexLocker locker(&m_lock);
    return std::exchange(m_changes, QStringList());
}


QString Outbox::setAsideIfDamaged()
{
    const QMutexLocker locker(&m_lock);
    try {
        parse(0);
        return {};
    } catch (const RuntimeError &e) {
        const QString aside = DurableLogReader::setAside(m_path, QDateTime::currentDateTime());
        if (aside.isEmpty())
            throw e.withPrefix(QStringLiteral("该文件也无法改名保留："));
        return aside;
    }
}

std::vector<Outbox::Entry> Outbox::pending() const
{
    const QMutexLocker locker(&m_lock);
    return parse(SIZE_MAX).entries;
}

Outbox::Batch Outbox::oldest(size_t limit) const
{
    const QMutexLocker locker(&m_lock);
    Parsed parsed = parse(limit);
    return {std::move(parsed.entries), int(parsed.spans.size())};
}

Outbox::Parsed Outbox::parse(size_t limit, QByteArray *content) const
{
    DurableLogReader log(m_path, regularfile::kOutboxLimit, RuntimeError::Kind::Outbox, RuntimeError::OutboxFailed,
                         QStringLiteral("Outbox"));
    Parsed parsed;
    if (!log.exists())
        return parsed;
    // Every line is checked, however many boxes are wanted: damage anywhere is told.
    // Only the wanted boxes are built, so a long backlog costs its bytes, not its rows.
    std::optional<Entry> open; // the box being read, until its "end"
    bool fieldsMayFollow = false; // the last line was a pack row: a "gs1" line may give it its fields
    qsizetype openFrom = 0;
    DurableLogReader::Line line;
    while (log.next(line)) {
        const QByteArray &keyword = line.keyword;
        const QByteArray &rest = line.rest;
        const bool wanted = parsed.entries.size() < limit;
        const bool afterPack = fieldsMayFollow;
        fieldsMayFollow = false;
        if (keyword == kBox && !open) {
            open = Entry();
            openFrom = line.from;
            if (!readBoxLine(rest, *open))
                log.unreadable(line);
        } else if (!open) {
            log.unreadable(line);
        } else if (keyword == kStation) {
            const std::optional<QString> station = unescaped(rest);
            if (!station)
                log.unreadable(line);
            open->station = *station;
        } else if (keyword == kJob) {
            open->job = jobFrom(rest);
            if (!open->job)
                log.unreadable(line);
        } else if (keyword == kBy) {
            const QByteArrayList ids = rest.split(' ');
            if (ids[0] != "-") {
                const std::optional<QString> writer = operatorFrom(ids[0]);
                if (!writer)
                    log.unreadable(line);
                open->writtenBy = *writer;
            }
            for (qsizetype i = 1; i < ids.size(); ++i) {
                const std::optional<QString> id = operatorFrom(ids[i]);
                if (!id)
                    log.unreadable(line);
                open->operators << *id;
            }
        } else if (const std::optional<BoxRow::Kind> kind = kindOf(keyword)) {
            const std::optional<QString> text = unescaped(rest);
            if (!text)
                log.unreadable(line);
            if (wanted)
                open->rows.push_back({*kind, *text});
            fieldsMayFollow = *kind == BoxRow::Pack;
        } else if (keyword == kGs1) {
            // Checked whether the box is wanted or not, as every line is.
            if (!afterPack || !fieldsFrom(rest) || (wanted && !attachFields(open->rows, rest)))
                log.unreadable(line);
        } else if (keyword == kEnd) {
            parsed.spans.push_back({open->id, openFrom, line.to});
            if (wanted)
                parsed.entries.push_back(std::move(*open));
            open.reset();
        } else {
            log.unreadable(line);
        }
    }
    // A box without its "end" was torn by a crash and is skipped.
    parsed.torn = open || log.tornTail();
    if (content)
        *content = std::move(log.bytes());
    return parsed;
}

void Outbox::remove(const QSet<QUuid> &delivered)
{
    const QMutexLocker locker(&m_lock);
    rewriteKeeping([&](const QUuid &id) { return !delivered.contains(id); });
}

void Outbox::rewriteKeeping(const std::function<bool(const QUuid &)> &keep)
{
    QByteArray bytes;
    const Parsed parsed = parse(0, &bytes);
    // The boxes that stay are moved up in the buffer they were read into, byte for
    // byte, behind the header: a long backlog is held once, not twice.
    qsizetype out = kHeader.size();
    if (bytes.size() < out)
        bytes.resize(out); // no file, or one shorter than the header
    bool inPlace = true;
    QByteArray copy;
    for (const Span &span : parsed.spans) {
        if (!keep(span.id))
            continue;
        if (inPlace && span.from < out) {
            // A file without the header at its start: put together afresh.
            inPlace = false;
            copy = kHeader + QByteArrayView(bytes).sliced(kHeader.size(), out - kHeader.size()).toByteArray();
        }
        if (inPlace) {
            std::memmove(bytes.data() + out, bytes.constData() + span.from, size_t(span.to - span.from));
            out += span.to - span.from;
        } else {
            copy += QByteArrayView(bytes).sliced(span.from, span.to - span.from);
        }
    }
    if (!inPlace) {
        m_log.replace(copy);
        return;
    }
    bytes.truncate(out);
    std::memcpy(bytes.data(), kHeader.constData(), size_t(kHeader.size()));
    m_log.replace(bytes);
}
