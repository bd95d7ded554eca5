// GetPrivateProfileIntA's reading of an INI text (see ini_reader.h).
#include "platform/ini_reader.h"

#include <cstddef>
#include <string>

namespace platform {
namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r' || c == 0x1a;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (Lower(a[i]) != Lower(b[i])) return false;
  }
  return true;
}

// Finds the value text of `key` in the first section named `section`; false
// when the section, the key or its "=" is missing.
bool FindValue(std::string_view text, std::string_view section, std::string_view key,
               std::string_view* value) {
  bool inSection = false;
  bool sectionSeen = false;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    std::string_view line = Trim(text.substr(0, end));
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (line.empty()) continue;

    if (line.front() == '[') {
      const std::size_t close = line.rfind(']');
      if (close != std::string_view::npos) {
        // Only the first section of the name counts.
        if (sectionSeen) return false;
        inSection = SameName(Trim(line.substr(1, close - 1)), section);
        sectionSeen = inSection;
        continue;
      }
    }
    if (!inSection) continue;

    const std::size_t equals = line.find('=');
    const std::string_view name = Trim(line.substr(0, equals));
    if (!SameName(name, key)) continue;
    if (equals == std::string_view::npos) return false;
    *value = Trim(line.substr(equals + 1));
    return true;
  }
  return false;
}

std::uint32_t ParseNumber(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size() && static_cast<unsigned char>(s[i]) <= ' ') ++i;
  bool minus = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) minus = s[i++] == '-';
  std::uint32_t base = 10;
  if (i + 1 < s.size() && s[i] == '0') {
    if (s[i + 1] == 'b') base = 2;
    if (s[i + 1] == 'o') base = 8;
    if (s[i + 1] == 'x') base = 16;
    if (base != 10) i += 2;
  }
  std::uint32_t total = 0;
  for (; i < s.size(); ++i) {
    const char c = s[i];
    std::uint32_t digit = 36;
    if (c >= '0' && c <= '9') digit = static_cast<std::uint32_t>(c - '0');
    if (c >= 'A' && c <= 'Z') digit = static_cast<std::uint32_t>(c - 'A' + 10);
    if (c >= 'a' && c <= 'z') digit = static_cast<std::uint32_t>(c - 'a' + 10);
    if (digit >= base) break;
    total = total * base + digit;
  }
  return minus ? 0u - total : total;
}

// A UTF-16 text in narrow characters: each code unit below 128 as itself,
// any other as '?', as the conversion to an ANSI code page leaves a
// character it has no byte for; names and numbers are plain ASCII.
std::string NarrowUtf16(std::string_view bytes, bool bigEndian) {
  std::string text;
  text.reserve(bytes.size() / 2);
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    const auto first = static_cast<unsigned char>(bytes[i]);
    const auto second = static_cast<unsigned char>(bytes[i + 1]);
    const unsigned unit = bigEndian ? first << 8 | second : second << 8 | first;
    text += unit < 0x80 ? static_cast<char>(unit) : '?';
  }
  return text;
}

}  // namespace

std::uint32_t ReadProfileInt(std::string_view text, std::string_view section, std::string_view key,
                             int defaultValue) {
  const auto fallback = static_cast<std::uint32_t>(defaultValue);
  text = text.substr(0, kMaxProfileSize);
  // A byte-order mark tells the encoding: UTF-8's is not part of the first
  // line; a UTF-16 file (Notepad's "Unicode") is read in narrow characters.
  std::string narrow;
  if (text.substr(0, 3) == "\xEF\xBB\xBF") {
    text.remove_prefix(3);
  } else if (text.substr(0, 2) == "\xFF\xFE" || text.substr(0, 2) == "\xFE\xFF") {
    narrow = NarrowUtf16(text.substr(2), text[0] == '\xFE');
    text = narrow;
  }

  std::string_view value;
  if (!FindValue(text, Trim(section), Trim(key), &value)) return fallback;

  // The value is copied into a 30-character buffer, a pair of quotes dropped.
  constexpr std::size_t kBufferSize = 30;
  bool quoted = false;
  if (value.size() > 1 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    quoted = true;
    value.remove_prefix(1);
  }
  const bool fits = value.size() <= kBufferSize;
  value = value.substr(0, kBufferSize - 1);
  if (quoted && fits) value.remove_suffix(1);
  if (value.empty()) return fallback;
  return ParseNumber(value);
}

}  // namespace platform
