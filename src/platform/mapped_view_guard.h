// The platform layer's own guard of mapped views (shared_memory_posix.cpp): a page of a
// guarded view that disappears because a peer shrank the object under it reads as zeros
// instead of raising SIGBUS. Every kind of view the layer maps uses it.
//
// A view of a file is never mended (the guard does not change a file's size): at its first
// fault the whole rest of the view becomes zeros at once, so a truncated file costs one
// fault, not one per page, and the view is marked faulted for its owner to report once.
#pragma once

#include <cstddef>

namespace platform {

void GuardMappedView(void* view, std::size_t size);
// Stops guarding the view; true when a page of it was lost to a fault meanwhile.
bool UnguardMappedView(void* view);
// True once a page of the guarded view was lost to a fault (it reads as zeros).
bool MappedViewFaulted(const void* view);

}  // namespace platform
