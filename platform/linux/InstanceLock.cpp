#include "platform/InstanceLock.h"

#include "core/RuntimeError.h"

#include <QDir>
#include <QFile>
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace instance {

QString lockFileName()
{
    return QStringLiteral("zantrel.lock");
}

bool lockProgramFolder(const QString &folder)
{
    const QString path = QDir(folder).filePath(lockFileName());
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        throw RuntimeError::fromErrno(errno, QStringLiteral("InstanceLock"), QStringLiteral("无法打开 %1").arg(path));
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int err = errno;
        ::close(fd);
        if (err == EWOULDBLOCK)
            return false;
        throw RuntimeError::fromErrno(err, QStringLiteral("InstanceLock"), QStringLiteral("无法锁定 %1").arg(path));
    }
    // The descriptor stays open on purpose: closing it would release the lock.
    return true;
}

} // namespace instance
