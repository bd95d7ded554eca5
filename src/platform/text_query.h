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

}  // namespace platform
