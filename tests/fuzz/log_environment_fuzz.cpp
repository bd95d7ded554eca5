// Fuzzes the log environment over the fake with arbitrary temporary-folder,
// host and library paths, short and past 260 bytes, and arbitrary folders.
//
// Input: NUL-separated fields: the temporary folder, the host path, the
// library path, then folders to create. A field starting with 0x01 is
// lengthened to 300 bytes, so that over-long paths stay in reach.
#include <cstdint>
#include <string>
#include <vector>

#include "log/log_environment.h"
#include "log/log_level.h"
#include "platform/fake/fake_platform.h"

namespace {

bool EndsWithSeparator(const std::string& folder) {
  return !folder.empty() && folder.back() == platform::kPathSeparator;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> fields(1);
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] == 0) {
      fields.emplace_back();
    } else {
      fields.back() += static_cast<char>(data[i]);
    }
  }
  for (std::string& field : fields) {
    if (!field.empty() && field[0] == '\x01') field.resize(300, 'p');
  }
  fields.resize(std::max<std::size_t>(fields.size(), 3));

  platform::fake::Reset();
  platform::fake::State& s = platform::fake::Get();
  // The platform's temporary folder always ends with the separator.
  s.tempPath = fields[0].empty() ? fields[0] : fields[0] + platform::kPathSeparator;
  s.hostPath = fields[1];
  s.ownModulePath = fields[2];
  for (std::size_t i = 3; i < fields.size() && i < 16; ++i) platform::fake::AddFolder(fields[i]);

  const devicecode::LogEnvironment e = devicecode::DiscoverLogEnvironment();
  devicecode::GetCombinedLogLevel(e.configFolder, e.tempFolder);

  if (e.categoryName.rfind("[S1P4242]->", 0) != 0) __builtin_trap();
  if (!EndsWithSeparator(e.logFolder) || !EndsWithSeparator(e.configFolder) ||
      !EndsWithSeparator(e.tempFolder)) {
    __builtin_trap();
  }
  if (e.logFileName.find(platform::kPathSeparator) != std::string::npos) __builtin_trap();
  // A temporary folder that does not fit the 260-byte buffer is never cut.
  const std::string fallback = platform::GetFallbackTempFolder();
  if (e.tempFolder != fallback && e.tempFolder.size() >= platform::kMaxPath) {
    __builtin_trap();
  }
  // At most the fallback folder and the day's folder are made.
  for (const std::string& made : s.createdFolders) {
    if (made != fallback && made != e.logFolder) __builtin_trap();
  }
  return 0;
}
