// The platform layer's own guard of mapped views (shared_memory_posix.cpp): a page of a
// guarded view that disappears because a peer shrank the object under it reads as zeros
// instead of raising SIGBUS. Every kind of view the layer maps uses it.
#pragma once

#include <cstddef>

namespace platform {

void GuardMappedView(void* view, std::size_t size);
void UnguardMappedView(void* view);

}  // namespace platform
