// Small file and text helpers shared by the tests that read real log files.
#pragma once

#include <cstddef>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace testing_support {

// The request lines' messages, with the full-width colon as the bytes A3 BA.
inline const std::string kBeginMessage = "[GetDeviceCode]\xA3\xBA Begin";
inline const std::string kEndMessage = "[GetDeviceCode]\xA3\xBA End";
// The code every machine without a usable adapter gets: MD5 of "".
constexpr char kEmptyTextCode[] = "D41D8CD98F00B204E9800998ECF8427E";

inline std::string ReadAll(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void WriteAll(const std::filesystem::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

// Occurrences of `part` in `text`, overlapping ones included.
inline std::size_t Count(const std::string& text, const std::string& part) {
  std::size_t n = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

// Today's local date as the log's day folders name it.
inline std::string Today() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[16];
  std::strftime(text, sizeof text, "%Y-%m-%d", &local);
  return text;
}

}  // namespace testing_support
