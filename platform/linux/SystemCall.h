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
inline int writeAll(int fd, const char *data, size_t size)
{
    while (size > 0) {
        const ssize_t n = retried([&] { return ::write(fd, data, size); });
        if (n < 0)
            return errno;
        data += n;
        size -= size_t(n);
    }
    return 0;
}

} // namespace sys
