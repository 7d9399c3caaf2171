#pragma once

// The points of a delivery where a test may step in through the fault seam (to kill
// the process there): before each statement and before the outbox is compacted.
namespace deliverysteps {

void step();

} // namespace deliverysteps
