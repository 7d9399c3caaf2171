#include "platform/FileTrace.h"

#include "platform/linux/FileTracing.h"

#include <atomic>
#include <mutex>
#include <sys/stat.h>

namespace {

std::mutex g_lock;
std::function<void(const filetrace::Event &)> g_tracer;
std::atomic<bool> g_on{false};

} // namespace

namespace filetrace {

void setTracerForTests(std::function<void(const Event &)> tracer)
{
    const std::lock_guard<std::mutex> hold(g_lock);
    g_tracer = std::move(tracer);
    g_on = bool(g_tracer);
}

bool tracing()
{
    return g_on;
}

void tell(Event &&e)
{
    const std::lock_guard<std::mutex> hold(g_lock);
    if (g_tracer)
        g_tracer(e);
}

uint64_t inodeOf(int fd)
{
    struct stat st {};
    return ::fstat(fd, &st) == 0 ? uint64_t(st.st_ino) : 0;
}

} // namespace filetrace
