#include "platform/InstanceLock.h"

#include "core/RuntimeError.h"

#include <QDir>
#include <QFile>
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace instance {

bool lockProgramFolder(const QString &folder)
{
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        throw RuntimeError::fromErrno(errno, QStringLiteral("InstanceLock"),
                                      QStringLiteral("无法打开程序文件夹 %1").arg(QDir::toNativeSeparators(folder)));
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int err = errno;
        ::close(fd);
        if (err == EWOULDBLOCK)
            return false;
        throw RuntimeError::fromErrno(err, QStringLiteral("InstanceLock"),
                                      QStringLiteral("无法锁定程序文件夹 %1").arg(QDir::toNativeSeparators(folder)));
    }
    // The descriptor stays open on purpose: closing it would release the lock.
    return true;
}

} // namespace instance
