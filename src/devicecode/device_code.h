// The device code: the MD5 digest of a hardware-address text in hex.
#pragma once

#include <array>
#include <string>

namespace devicecode {

constexpr std::size_t kDeviceCodeLength = 32;

// The 32 upper-case hex digits of the MD5 digest of `text` (its bytes only,
// no terminator), followed by a NUL.
std::array<char, kDeviceCodeLength + 1> ComputeDeviceCode(const std::string& text);

}  // namespace devicecode
