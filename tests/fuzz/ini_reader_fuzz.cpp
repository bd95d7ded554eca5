// Fuzzes the INI reader over arbitrary file contents: it must read any bytes,
// and a file that never names the key must give the default.
#include <cstdint>
#include <string_view>

#include "platform/ini_reader.h"

namespace {

bool NamesKey(std::string_view text) {
  constexpr std::string_view kKey = "loglevel";
  for (std::size_t i = 0; i + kKey.size() <= text.size(); ++i) {
    std::size_t j = 0;
    while (j < kKey.size() && (text[i + j] | 0x20) == kKey[j]) ++j;
    if (j == kKey.size()) return true;
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  for (const int defaultValue : {400, 500, -1}) {
    const std::uint32_t level = platform::ReadProfileInt(text, "Common", "LogLevel", defaultValue);
    if (!NamesKey(text) && level != static_cast<std::uint32_t>(defaultValue)) __builtin_trap();
  }
  return 0;
}
