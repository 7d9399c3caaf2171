#include "platform/StandardOutput.h"

#include "core/SystemReason.h"
#include "platform/linux/SystemCall.h"

#include <csignal>
#include <unistd.h>

StandardOutput::StandardOutput()
{
    std::signal(SIGPIPE, SIG_IGN); // a closed pipe is told as EPIPE by the write
    open(QIODevice::WriteOnly | QIODevice::Unbuffered);
}

qint64 StandardOutput::writeData(const char *data, qint64 size)
{
    if (const int err = sys::writeAll(STDOUT_FILENO, data, size_t(size))) {
        setErrorString(reason::fromErrno(err));
        return -1;
    }
    return size;
}
