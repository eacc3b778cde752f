// The platform layer's own guard of mapped views (mapped_view_guard_posix.cpp): a page of a
// guarded view that disappears because a peer shrank the object under it reads as zeros
// instead of raising SIGBUS. Every kind of view the layer maps uses it.
//
// A view of a file is never mended (the guard does not change a file's size): at its first
// fault the whole rest of the view becomes zeros at once, so a truncated file costs one
// fault, not one per page, and the view is marked faulted for its owner to report once.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

void GuardMappedView(void* view, std::size_t size);
// Stops guarding the view; true when a page of it was lost to a fault meanwhile.
bool UnguardMappedView(void* view);
// True once a page of the guarded view was lost to a fault (it reads as zeros).
bool MappedViewFaulted(const void* view);

// A view of a shared memory segment: a lost page is mended by giving the object its size
// back through `fd` (a read-write descriptor of the object, open while the view is guarded).
void GuardSegmentView(void* view, std::size_t size, int fd);
// Stops guarding it; `restores` and `lost` tell what the guard had to do for it.
void UnguardSegmentView(void* view, uint32_t* restores, bool* lost);

}  // namespace platform
