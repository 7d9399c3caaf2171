#include "platform/RegularFile.h"

#include "platform/FaultSeam.h"

#include "core/RuntimeError.h"
#include "core/SystemReason.h"
#include "platform/MemoryUse.h"
#include "platform/linux/SystemCall.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace regularfile {

namespace {

const QString kSource = QStringLiteral("RegularFile");


// What a non-regular file is, as the operator would call it.
QString kindOf(mode_t mode)
{
    if (S_ISDIR(mode))
        return reason::isDirectory();
    if (S_ISFIFO(mode))
        return QStringLiteral("是管道（FIFO），不是文件");
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return QStringLiteral("是设备，不是文件");
    if (S_ISSOCK(mode))
        return QStringLiteral("是套接字，不是文件");
    return reason::notARegularFile();
}

[[noreturn]] void refuse(const QString &why)
{
    throw RuntimeError(RuntimeError::FileRefused, kSource, why);
}

struct Descriptor
{
    int fd = -1;
    ~Descriptor()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

// Opens without blocking (a pipe with no writer, a device) and refuses what is not a
// regular file before a byte moves. False when nothing is at the path and the
// flags do not create it; st then holds nothing.
bool openRegular(Descriptor &file, const QString &path, int flags, struct stat &st)
{
    const QByteArray name = QFile::encodeName(path);
    const int all = flags | O_NONBLOCK | O_CLOEXEC | O_NOCTTY;
    file.fd = (flags & O_CREAT) ? sys::openForWriting(name.constData(), all, 0644)
                                : sys::retried([&] { return ::open(name.constData(), all, 0644); });
    if (file.fd < 0 && errno == ENOENT && !(flags & O_CREAT))
        return false;
    if (file.fd < 0 || ::fstat(file.fd, &st) != 0)
        refuse(reason::fromErrno(errno));
    if (!S_ISREG(st.st_mode))
        refuse(kindOf(st.st_mode));
    return true;
}

// The whole file into bytes (QByteArray or std::string); false when nothing is there.
template <typename Buffer>
bool readWhole(const QString &path, int64_t limit, Buffer &bytes)
{
    if (const int injected = faultseam::at(faultseam::Point::Open, path)) {
        if (injected == ENOENT)
            return false;
        refuse(reason::fromErrno(injected));
    }
    Descriptor file;
    struct stat st {};
    if (!openRegular(file, path, O_RDONLY, st))
        return false;
    if (st.st_size > limit)
        refuse(reason::tooLarge(limit));
    // The size may change while it is read; the bound holds whatever the file does.
    const int64_t expected = std::min<int64_t>(int64_t(st.st_size), limit) + 1;
    // With room to grow, for a buffer that serves again; its pages made present at once.
    bytes.reserve(decltype(bytes.size())(expected + expected / 8));
    memoryuse::prepareForWriting(bytes.data(), size_t(expected));
    bytes.resize(decltype(bytes.size())(expected));
    int64_t size = 0;
    for (;;) {
        if (size == int64_t(bytes.size())) {
            if (size > limit)
                refuse(reason::tooLarge(limit));
            bytes.resize(decltype(bytes.size())(std::min<int64_t>(size * 2, limit + 1)));
        }
        const ssize_t n = sys::retried([&] { return ::read(file.fd, bytes.data() + size, size_t(int64_t(bytes.size()) - size)); });
        if (n < 0)
            refuse(reason::fromErrno(errno));
        if (n == 0)
            break;
        size += n;
    }
    if (size > limit)
        refuse(reason::tooLarge(limit));
    bytes.resize(decltype(bytes.size())(size));
    return true;
}

} // namespace

std::optional<QByteArray> read(const QString &path, int64_t limit)
{
    QByteArray bytes;
    if (!readWhole(path, limit, bytes))
        return std::nullopt;
    return bytes;
}

bool read(const QString &path, int64_t limit, std::string &into)
{
    return readWhole(path, limit, into);
}

void append(const QString &path, const QByteArray &bytes)
{
    Descriptor file;
    struct stat st {};
    openRegular(file, path, O_WRONLY | O_APPEND | O_CREAT, st);
    if (const int err = sys::writeAll(file.fd, bytes.constData(), size_t(bytes.size())))
        refuse(reason::fromErrno(err));
    if (sys::syncFile(file.fd, true) != 0)
        refuse(reason::fromErrno(errno));
}

QString rename(const QString &from, const QString &to)
{
    return sys::renamePath(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0 ? QString() : reason::fromErrno(errno);
}

QString remove(const QString &path)
{
    return sys::removePath(QFile::encodeName(path).constData()) == 0 || errno == ENOENT ? QString() : reason::fromErrno(errno);
}

QString makeFolders(const QString &path)
{
    const QString clean = QDir::cleanPath(QDir(path).absolutePath());
    struct stat st {};
    if (::stat(QFile::encodeName(clean).constData(), &st) == 0)
        return S_ISDIR(st.st_mode) ? QString() : QStringLiteral("已有同名的文件，不是文件夹");
    const QString parent = QFileInfo(clean).path();
    if (parent != clean) {
        const QString why = makeFolders(parent);
        if (!why.isEmpty())
            return why;
    }
    if (sys::makeFolder(QFile::encodeName(clean).constData(), 0755) != 0)
        return errno == EEXIST ? QString() : reason::fromErrno(errno);
    // The new folder's name on disk before anything is put into it: a file synced in a
    // folder whose own entry a power cut took is lost with it. A failing sync only weakens
    // that, as after a file's replace; the folder is there and in use, so it is not told.
    sys::syncFolder(QFile::encodeName(parent).constData());
    return {};
}

QString whyNotReadable(const QString &path, int64_t limit)
{
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return errno == ENOENT ? QString() : reason::fromErrno(errno);
    if (!S_ISREG(st.st_mode))
        return kindOf(st.st_mode);
    if (st.st_size > limit)
        return reason::tooLarge(limit);
    return {};
}

} // namespace regularfile
