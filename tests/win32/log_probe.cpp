// A test DLL holding the log environment and level code, so that a host
// loading it with LoadLibraryA gives that code a real library module: its
// own handle, path and folder differ from the host executable's.
#include <cstdint>
#include <cstring>
#include <string>

#include "log/log_environment.h"
#include "log/log_level.h"
#include "platform/platform.h"

namespace {

void CopyOut(const std::string& text, char* buffer, int size) {
  std::strncpy(buffer, text.c_str(), static_cast<std::size_t>(size) - 1);
  buffer[size - 1] = '\0';
}

}  // namespace

// The five texts of the environment, in its field order, one per buffer; the
// folders it names for the set-up to make are made, as the set-up does.
extern "C" __declspec(dllexport) void ProbeDiscover(char (*fields)[1024]) {
  const devicecode::LogEnvironment e = devicecode::DiscoverLogEnvironment();
  for (const std::string& folder : e.foldersToCreate) platform::CreateDirectoryA(folder.c_str());
  const std::string* texts[] = {&e.categoryName, &e.logFolder, &e.configFolder, &e.tempFolder,
                                &e.logFileName};
  for (int i = 0; i < 5; ++i) CopyOut(*texts[i], fields[i], sizeof fields[i]);
}

extern "C" __declspec(dllexport) void* ProbeOwnModule() { return devicecode::GetOwnModuleHandle(); }

extern "C" __declspec(dllexport) std::uint32_t
    ProbeOptionLevel(const char* configFolder, const char* tempFolder) {
  return devicecode::ReadOptionLogLevel(configFolder, tempFolder);
}

extern "C" __declspec(dllexport) std::uint32_t ProbePluginLevel() {
  return devicecode::ReadPluginLogLevel();
}
