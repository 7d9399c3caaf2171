#include "platform/DurableLogReader.h"

#include "core/LineCodec.h"

#include "platform/RegularFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

DurableLogReader::DurableLogReader(const QString &path, int64_t limit, RuntimeError::Kind kind, int number,
                                   const QString &source)
    : m_path(path), m_kind(kind), m_number(number), m_source(source)
{
    std::optional<QByteArray> read;
    try {
        read = regularfile::read(path, limit);
    } catch (const RuntimeError &e) {
        throw RuntimeError(number, source, QStringLiteral("无法读取 %1：%2").arg(QDir::toNativeSeparators(path), e.description()), kind);
    }
    m_exists = bool(read);
    if (read)
        m_bytes = std::move(*read);
}

bool DurableLogReader::next(Line &line)
{
    for (qsizetype end; (end = m_bytes.indexOf('\n', m_pos)) >= 0;) {
        const qsizetype from = m_pos;
        m_pos = end + 1;
        ++m_lineNumber;
        const QByteArrayView text = QByteArrayView(m_bytes).sliced(from, end - from);
        if (text.isEmpty() || text.startsWith('#'))
            continue;
        const linecodec::Parts parts = linecodec::split(text);
        line.number = m_lineNumber;
        line.from = from;
        line.to = m_pos;
        line.keyword = parts.keyword.toByteArray();
        line.rest = parts.rest.toByteArray();
        return true;
    }
    return false;
}

void DurableLogReader::unreadable(const Line &line) const
{
    throw RuntimeError(m_number, m_source,
                       QStringLiteral("%1 第 %2 行无法识别").arg(QDir::toNativeSeparators(m_path)).arg(line.number), m_kind);
}

QString DurableLogReader::setAside(const QString &path, const QDateTime &at)
{
    const QFileInfo file(path);
    const QString aside = QStringLiteral("%1.damaged-%2.txt").arg(file.completeBaseName(), at.toString(QStringLiteral("yyyyMMdd-HHmmss")));
    return regularfile::rename(path, file.dir().filePath(aside)).isEmpty() ? aside : QString();
}
