#pragma once

#include <functional>

// The points of a delivery where a test may step in (to kill the process there):
// before each statement and before the outbox is compacted.
namespace deliverysteps {

void step();
// Empty: nothing happens at a step.
void setHook(std::function<void()> hook);

} // namespace deliverysteps
