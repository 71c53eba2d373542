// Counts the heap allocations of the test program (operator new replaced).
#pragma once

// False where operator new cannot be replaced (ThreadSanitizer's runtime has
// its own); counts are then always 0.
bool AllocationCount_Available();
// Starts counting from zero.
void AllocationCount_Start();
// Stops counting; the number of allocations since the start.
long AllocationCount_Stop();

// From here on operator delete keeps the blocks it is given (up to 64; more
// are freed at once), so that a test can see whether anything writes into an
// object after its deletion. Does nothing where counting is not available.
void AllocationCount_HoldFrees();
// Whether `block` is among the blocks held since AllocationCount_HoldFrees.
bool AllocationCount_IsHeld(const void* block);
// Frees the held blocks and lets operator delete free again.
void AllocationCount_FreeHeld();
