// Counts the heap allocations of the test program (operator new replaced).
#pragma once

// False where operator new cannot be replaced (ThreadSanitizer's runtime has
// its own); counts are then always 0.
bool AllocationCount_Available();
// Starts counting from zero.
void AllocationCount_Start();
// Stops counting; the number of allocations since the start.
long AllocationCount_Stop();
