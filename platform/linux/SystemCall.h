#pragma once

#include <cerrno>
#include <cstddef>
#include <sys/types.h>
#include <unistd.h>

// Every system call of the Linux platform layer that a signal can interrupt goes
// through here, so no caller forgets to try again.
namespace sys {

// Calls f() again for as long as it fails with EINTR; returns its last result.
template <typename F>
auto retried(F &&f)
{
    for (;;) {
        const auto result = f();
        if (!(result < 0 && errno == EINTR))
            return result;
    }
}

// Writes all of it; 0, or the errno of the failure.
int writeAll(int fd, const char *data, size_t size);

// The calls that change files and folders, each told to a test's file tracer
// (platform/FileTrace.h) once it succeeded. Each returns what the system call does
// (-1 with errno), except syncFolder: 0 or the errno.
int openForWriting(const char *path, int flags, mode_t mode);
int makeTemporary(char *pathTemplate); // mkstemp
int syncFile(int fd, bool dataOnly);   // fsync, or fdatasync
int truncateFile(int fd, off_t size);
int renamePath(const char *from, const char *to);
int removePath(const char *path);
int makeFolder(const char *path, mode_t mode);
// The folder's entries on disk: a rename or a new file in it survives a power cut.
int syncFolder(const char *path);

} // namespace sys
