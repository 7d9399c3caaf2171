#pragma once

#include "platform/FileTrace.h"

#include <cstdint>

// The platform layer's side of the file tracer: the system call wrappers tell each
// change they made here.
namespace filetrace {

// Whether a test set a tracer: without one nothing is looked up for it.
bool tracing();
void tell(Event &&e);
// The inode of an open file, for its events; 0 when it cannot be had.
uint64_t inodeOf(int fd);

} // namespace filetrace
