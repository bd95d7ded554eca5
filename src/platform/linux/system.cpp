// Process, heap, time and file operations on Linux.
#include <cstdlib>

#include "platform/platform.h"

namespace platform {

const char kPathSeparator = '/';

void* Malloc(std::size_t size) { return std::malloc(size); }

void Free(void* block) { std::free(block); }

}  // namespace platform
