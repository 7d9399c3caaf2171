#include "plant/ToldConflicts.h"

#include "core/LineCodec.h"
#include "platform/DurableLogReader.h"
#include "platform/RegularFile.h"

#include <QDir>

namespace {
const QByteArray kTold = "told";
constexpr int64_t kLimit = 64ll << 20; // years of conflicts at a busy station
} // namespace

ToldConflicts::ToldConflicts(const QString &programFolder)
    : m_path(QDir(programFolder).filePath(fileName())), m_log(m_path, RuntimeError::Kind::Outbox)
{
}

QSet<QString> ToldConflicts::read() const
{
    QSet<QString> told;
    try {
        DurableLogReader log(m_path, kLimit, RuntimeError::Kind::Outbox, RuntimeError::OutboxFailed, QStringLiteral("ToldConflicts"));
        DurableLogReader::Line line;
        while (log.next(line))
            if (line.keyword == kTold)
                if (const std::optional<QString> key = linecodec::unescaped(line.rest))
                    told.insert(*key);
    } catch (const RuntimeError &) {
        // Not a file that can be read: every open conflict is told again.
    }
    return told;
}

void ToldConflicts::add(const QStringList &keys)
{
    QByteArray lines;
    for (const QString &key : keys)
        lines += linecodec::line(kTold, {linecodec::escaped(key)});
    m_log.append(lines);
}
