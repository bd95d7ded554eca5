// How the Windows text queries (GetTempPathA, GetLongPathNameA, ...) hand a
// text back, for the backends that stand in for them.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>

namespace platform {

// Copies `text` and its terminator into `buffer` and returns its length when
// it fits in `size` bytes; otherwise returns the size it needs and leaves the
// buffer untouched.
inline std::uint32_t CopyOut(const std::string& text, char* buffer, std::uint32_t size) {
  const auto length = static_cast<std::uint32_t>(text.size());
  if (length + 1 > size) return length + 1;
  std::memcpy(buffer, text.c_str(), length + 1);
  return length;
}

// Copies a module's path as GetModuleFileNameA does: its length when it fits
// with its terminator; otherwise the path cut to size - 1 characters and
// `size`, the count that tells the caller the path was cut. `size` > 0.
inline std::uint32_t CopyModulePath(const std::string& path, char* buffer, std::uint32_t size) {
  if (path.size() >= size) {
    std::memcpy(buffer, path.data(), size - 1);
    buffer[size - 1] = '\0';
    return size;
  }
  std::memcpy(buffer, path.c_str(), path.size() + 1);
  return static_cast<std::uint32_t>(path.size());
}

}  // namespace platform
