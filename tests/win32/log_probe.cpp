// A test DLL holding the log environment and level code, so that a host
// loading it with LoadLibraryA gives that code a real library module: its
// own handle, path and folder differ from the host executable's.
#include <cstdint>
#include <cstring>
#include <string>

#include "log/log_environment.h"
#include "log/log_level.h"

namespace {

void CopyOut(const std::string& text, char* buffer, int size) {
  std::strncpy(buffer, text.c_str(), static_cast<std::size_t>(size) - 1);
  buffer[size - 1] = '\0';
}

}  // namespace

// The five texts, in DiscoverLogEnvironment's order, one per buffer.
extern "C" __declspec(dllexport) void ProbeDiscover(char (*fields)[1024]) {
  std::string texts[5];
  devicecode::DiscoverLogEnvironment(texts[0], texts[1], texts[2], texts[3], texts[4]);
  for (int i = 0; i < 5; ++i) CopyOut(texts[i], fields[i], sizeof fields[i]);
}

extern "C" __declspec(dllexport) void* ProbeOwnModule() { return devicecode::GetOwnModuleHandle(); }

extern "C" __declspec(dllexport) std::uint32_t
    ProbeOptionLevel(const char* configFolder, const char* tempFolder) {
  return devicecode::ReadOptionLogLevel(configFolder, tempFolder);
}

extern "C" __declspec(dllexport) std::uint32_t ProbePluginLevel() {
  return devicecode::ReadPluginLogLevel();
}
