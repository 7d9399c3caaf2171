#include "platform/DurableLog.h"

#include "core/RuntimeError.h"
#include "platform/AtomicFile.h"
#include "platform/linux/SystemCall.h"

#include <QFile>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace {
const QString kSource = QStringLiteral("DurableLog");
}

DurableLog::DurableLog(QString path, RuntimeError::Kind kind) : m_path(std::move(path)), m_kind(kind) {}

DurableLog::~DurableLog()
{
    close();
}

void DurableLog::open()
{
    if (m_fd >= 0)
        return;
    const QByteArray name = QFile::encodeName(m_path);
    m_fd = sys::retried([&] { return ::open(name.constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644); });
    if (m_fd < 0)
        throw RuntimeError::fromErrno(errno, kSource, QStringLiteral("无法打开 %1").arg(m_path)).as(m_kind);
}

void DurableLog::close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

void DurableLog::append(const QByteArray &lines)
{
    open();
    const off_t before = ::lseek(m_fd, 0, SEEK_END);
    int err = sys::writeAll(m_fd, lines.constData(), size_t(lines.size()));
    if (err == 0 && sys::retried([this] { return ::fdatasync(m_fd); }) != 0)
        err = errno;
    if (err != 0) {
        // Cut off what part of the lines got in, so the next append starts on a line of its own.
        if (before >= 0 && ::ftruncate(m_fd, before) != 0) {
            // Nothing more can be done here; a torn last line is skipped when the log is read.
        }
        close();
        throw RuntimeError::fromErrno(err, kSource, QStringLiteral("无法写入 %1").arg(m_path)).as(m_kind);
    }
}

void DurableLog::replace(const QByteArray &content)
{
    // The descriptor would still point at the replaced file.
    close();
    try {
        replaceFileAtomically(m_path, content);
    } catch (const RuntimeError &e) {
        throw e.as(m_kind);
    }
}
