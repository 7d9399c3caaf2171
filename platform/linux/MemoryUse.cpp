#include "platform/MemoryUse.h"

#include <cstdint>
#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>

namespace memoryuse {

void returnLargeBuffersToTheSystem()
{
    // From 1 MiB a buffer is a mapping of its own, unmapped when freed.
    mallopt(M_MMAP_THRESHOLD, 1 << 20);
}

void prepareForWriting(void *data, size_t size)
{
    // Below a few pages the faults cost less than the call.
    constexpr size_t kWorthIt = 64 * 1024;
    if (size < kWorthIt)
        return;
    static const uintptr_t page = uintptr_t(::sysconf(_SC_PAGESIZE));
    const uintptr_t first = (uintptr_t(data) + page - 1) & ~(page - 1);
    const uintptr_t end = (uintptr_t(data) + size) & ~(page - 1);
    if (end > first)
        ::madvise(reinterpret_cast<void *>(first), end - first, MADV_POPULATE_WRITE); // may be unsupported: then as before
}

} // namespace memoryuse
