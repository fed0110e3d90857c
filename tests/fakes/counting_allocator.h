// Counts every heap allocation of the process (malloc, calloc, realloc, operator new),
// the library's and its serial backend's alike. glibc only: the wrappers forward to
// glibc's own allocator.
#pragma once

namespace counting_allocator {

// Zero the count and count from now on.
void Start();
// Stop counting; the allocations since Start.
long Stop();

}  // namespace counting_allocator
