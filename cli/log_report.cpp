// The log part of the support report: the library's log discovery and plan,
// run in the backend's inspection mode for a given host and library.
#include "log/log_environment.h"
#include "log/log_level.h"
#include "platform/inspection.h"
#include "report.h"

namespace devicecode {

LogReport ExplainLog(const std::string& hostPath, const std::string& libraryPath) {
  LogReport log;
  log.host = hostPath;
  log.library = libraryPath;
  platform::Inspection inspection;
  inspection.hostPath = hostPath;
  inspection.libraryPath = libraryPath;
  platform::SetInspection(&inspection);
  LogEnvironment environment = DiscoverLogEnvironment();
  // The set-up's own order: the option file first, then plugin.ini.
  const std::uint32_t optionLevel =
      ReadOptionLogLevel(environment.configFolder, environment.tempFolder);
  const std::uint32_t pluginLevel = ReadPluginLogLevel();
  platform::SetInspection(nullptr);
  log.iniFilesRead = inspection.profilesRead;
  log.plan = PlanLogSetUp(std::move(environment), optionLevel, pluginLevel);
  return log;
}

}  // namespace devicecode
