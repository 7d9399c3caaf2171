#include "platform/DurableLog.h"

#include "core/SystemReason.h"
#include "platform/AtomicFile.h"
#include "platform/linux/SystemCall.h"

#include <QFile>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString kSource = QStringLiteral("DurableLog");

struct Descriptor
{
    int fd;
    ~Descriptor()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

} // namespace

DurableLog::DurableLog(QString path, RuntimeError::Kind kind, Watch watch)
    : m_path(std::move(path)), m_kind(kind), m_watch(watch)
{
}

void DurableLog::fail(int err, const QString &what) const
{
    throw RuntimeError::fromErrno(err, kSource, what.arg(m_path)).as(m_kind);
}

void DurableLog::remember(int fd)
{
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        m_known = false; // nothing to compare the next time: it counts as the log's own
        return;
    }
    m_known = true;
    m_device = st.st_dev;
    m_inode = st.st_ino;
    m_size = st.st_size;
}

void DurableLog::append(const QByteArray &lines)
{
    const QByteArray name = QFile::encodeName(m_path);
    if (m_watch == Watch::Yes && m_known) {
        struct stat st {};
        const bool there = sys::retried([&] { return ::stat(name.constData(), &st); }) == 0;
        if (!there || !S_ISREG(st.st_mode) || st.st_dev != m_device || st.st_ino != m_inode || st.st_size != m_size)
            throw RuntimeError(RuntimeError::FileChanged, kSource,
                               QStringLiteral("%1 在运行中被改动、移走或替换").arg(m_path), m_kind);
    }
    // Non-blocking: a pipe without a reader fails at once instead of waiting for one.
    Descriptor file{sys::openForWriting(name.constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0644)};
    if (file.fd < 0)
        fail(errno, QStringLiteral("无法打开 %1"));
    struct stat st {};
    if (::fstat(file.fd, &st) != 0)
        fail(errno, QStringLiteral("无法打开 %1"));
    if (!S_ISREG(st.st_mode))
        throw RuntimeError(RuntimeError::FileRefused, kSource, QStringLiteral("%1：%2").arg(m_path, reason::notARegularFile()), m_kind);
    const off_t before = st.st_size;
    int err = sys::writeAll(file.fd, lines.constData(), size_t(lines.size()));
    if (err == 0 && sys::syncFile(file.fd, true) != 0)
        err = errno;
    if (err != 0) {
        // Cut off what part of the lines got in, so the next append starts on a line of its own.
        if (sys::truncateFile(file.fd, before) != 0) {
            // Nothing more can be done here; a torn last line is skipped when the log is read.
        }
        remember(file.fd);
        fail(err, QStringLiteral("无法写入 %1"));
    }
    remember(file.fd);
}

void DurableLog::replace(const QByteArray &content)
{
    try {
        replaceFileAtomically(m_path, content);
    } catch (const RuntimeError &e) {
        throw e.as(m_kind);
    }
    Descriptor file{sys::retried([&] { return ::open(QFile::encodeName(m_path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK); })};
    if (file.fd >= 0)
        remember(file.fd);
    else
        m_known = false;
}
