// A malloc of this test binary's own that counts the calls of one thread.
//
// malloc, calloc and realloc of the whole process (operator new and stdio
// included) are replaced by ones that hand on to the C library's and count
// the calls made on a thread while it has counting switched on.
#pragma once

namespace alloctest {

// Switches counting on or off for the calling thread.
void count_allocations(bool on);

// Allocations counted on the calling thread since the last reset.
long counted_allocations();

// Sets the calling thread's count to 0.
void reset_allocation_count();

}  // namespace alloctest
