// Counts the test program's heap allocations (operator new replaced).
#pragma once

void HcaAllocationCountStart();
// Stops counting; the number of allocations since the start.
long HcaAllocationCountStop();
