// Counts the heap allocations of the test program (operator new replaced).
#pragma once

// Starts counting from zero.
void AllocationCount_Start();
// Stops counting; the number of allocations since the start.
long AllocationCount_Stop();
