#pragma once

#include <cstddef>

// How the program uses memory for its large buffers (a workbook's stream, a long
// outbox): each goes back to the system when freed, instead of raising the heap's
// high-water mark for the rest of the day. The program sets it first thing; the
// benchmarks set it too, so that they measure what the program does.
namespace memoryuse {

void returnLargeBuffersToTheSystem();

// Makes the pages of a buffer about to be filled present in one go, instead of
// one page fault each as it is written (which a virtual machine pays dearly for).
// Only an optimisation: where the system cannot, the pages come as before.
void prepareForWriting(void *data, size_t size);

} // namespace memoryuse
