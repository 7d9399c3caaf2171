#include "platform/linux/SystemCall.h"

#include "platform/linux/FileTracing.h"

#include <fcntl.h>
#include <sys/stat.h>

namespace sys {

using filetrace::Event;
using filetrace::inodeOf;
using filetrace::tell;

int openForWriting(const char *path, int flags, mode_t mode)
{
    const bool tracing = filetrace::tracing();
    struct stat before {};
    const bool existed = tracing && ::stat(path, &before) == 0;
    const int fd = retried([&] { return ::open(path, flags, mode); });
    if (fd >= 0 && tracing)
        tell({Event::Opened, path, {}, inodeOf(fd), 0, {}, !existed});
    return fd;
}

int makeTemporary(char *pathTemplate)
{
    const int fd = retried([&] { return ::mkstemp(pathTemplate); });
    if (fd >= 0 && filetrace::tracing())
        tell({Event::Opened, pathTemplate, {}, inodeOf(fd), 0, {}, true});
    return fd;
}

int writeAll(int fd, const char *data, size_t size)
{
    while (size > 0) {
        const ssize_t n = retried([&] { return ::write(fd, data, size); });
        if (n < 0)
            return errno;
        if (filetrace::tracing()) {
            const off_t end = ::lseek(fd, 0, SEEK_CUR);
            tell({Event::Wrote, {}, {}, inodeOf(fd), int64_t(end) - n, std::string(data, size_t(n)), false});
        }
        data += n;
        size -= size_t(n);
    }
    return 0;
}

int syncFile(int fd, bool dataOnly)
{
    const int r = retried([&] { return dataOnly ? ::fdatasync(fd) : ::fsync(fd); });
    if (r == 0 && filetrace::tracing())
        tell({Event::Synced, {}, {}, inodeOf(fd), 0, {}, false});
    return r;
}

int truncateFile(int fd, off_t size)
{
    const int r = retried([&] { return ::ftruncate(fd, size); });
    if (r == 0 && filetrace::tracing())
        tell({Event::Truncated, {}, {}, inodeOf(fd), int64_t(size), {}, false});
    return r;
}

int renamePath(const char *from, const char *to)
{
    const int r = ::rename(from, to);
    if (r == 0 && filetrace::tracing()) {
        struct stat st {};
        tell({Event::Renamed, from, to, ::stat(to, &st) == 0 ? uint64_t(st.st_ino) : 0, 0, {}, false});
    }
    return r;
}

int removePath(const char *path)
{
    const int r = ::unlink(path);
    if (r == 0 && filetrace::tracing())
        tell({Event::Removed, path, {}, 0, 0, {}, false});
    return r;
}

int makeFolder(const char *path, mode_t mode)
{
    const int r = ::mkdir(path, mode);
    if (r == 0 && filetrace::tracing())
        tell({Event::MadeFolder, path, {}, 0, 0, {}, true});
    return r;
}

int syncFolder(const char *path)
{
    const int fd = retried([&] { return ::open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC); });
    if (fd < 0)
        return errno;
    const int r = retried([&] { return ::fsync(fd); });
    const int err = r == 0 ? 0 : errno;
    ::close(fd);
    if (err == 0 && filetrace::tracing())
        tell({Event::SyncedFolder, path, {}, 0, 0, {}, false});
    return err;
}

} // namespace sys
