// For tests only: puts the library back into its just-loaded state. Not exported.
#pragma once

namespace telvar {

// Closes every slot's trace file and port without tracing, restores the ports to
// their constructed state, zeroes the stored statuses and the shared buffers.
void ResetLibraryState();

}  // namespace telvar
