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
  // Cleared on every way out: a throw must not leave the backend pointing at
  // this dead local.
  struct InspectionScope {
    explicit InspectionScope(platform::Inspection* inspection) {
      platform::SetInspection(inspection);
    }
    ~InspectionScope() { platform::SetInspection(nullptr); }
    InspectionScope(const InspectionScope&) = delete;
    InspectionScope& operator=(const InspectionScope&) = delete;
  };
  LogEnvironment environment;
  std::uint32_t optionLevel = 0;
  std::uint32_t pluginLevel = 0;
  {
    const InspectionScope scope(&inspection);
    environment = DiscoverLogEnvironment();
    // The set-up's own order: the option file first, then plugin.ini.
    optionLevel = ReadOptionLogLevel(environment.configFolder, environment.tempFolder);
    pluginLevel = ReadPluginLogLevel();
  }
  log.iniFilesRead = inspection.profilesRead;
  log.plan = PlanLogSetUp(std::move(environment), optionLevel, pluginLevel);
  // The private temporary folder the backend would make comes first.
  log.plan.foldersToCreate.insert(log.plan.foldersToCreate.begin(),
                                  inspection.foldersToCreate.begin(),
                                  inspection.foldersToCreate.end());
  return log;
}

}  // namespace devicecode
