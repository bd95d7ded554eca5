// The support report: the library's selection and log logic run in the tool.
#include "report.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <set>

#include "devicecode/adapter_selection.h"
#include "devicecode/device_code.h"
#include "log/log_environment.h"
#include "log/log_level.h"
#include "platform/linux/inspection.h"

namespace devicecode {
namespace {

// What one strategy decided about one record. `chosen` tells whether the
// record is the one whose address gives the code; `ran` whether the strategy
// was run by the library at all (the fallback runs only when the first finds
// nothing); a strategy that did not run is judged all the same, marked so.
std::string DescribeVerdict(Verdict verdict, const platform::AdapterInfo& adapter, bool chosen,
                            bool ran) {
  std::string text;
  switch (verdict) {
    case Verdict::kChosen:
      text = chosen ? "chosen" : ran ? "qualified, after the chosen one" : "qualified";
      break;
    case Verdict::kSkippedVirtual:
      text = "skipped: description names a virtual adapter";
      break;
    case Verdict::kSkippedUnusable:
      text = adapter.AddressLength == 0 ? "skipped: no address" : "skipped: all-zero address";
      break;
    case Verdict::kSkippedNoContext:
      text = "skipped: no IPv4 context and not the last";
      break;
  }
  return ran ? text : text + " (not run)";
}

// The first record of the chain that `judge` chooses: the record whose text
// the matching Select* function returned.
template <typename Judge>
int FirstChosen(const platform::AdapterInfo* first, Judge judge) {
  std::string text;
  int index = 0;
  for (const platform::AdapterInfo* a = first; a != nullptr; a = a->Next, ++index) {
    if (judge(*a, &text) == Verdict::kChosen) return index;
  }
  return -1;
}

void ExplainList(const platform::AdapterInfo* first, Report& report) {
  report.hardwareAddressText = SelectPhysicalMacText(first);
  report.strategy = "physical";
  report.chosenIndex = FirstChosen(first, JudgePhysical);
  if (report.hardwareAddressText.empty()) {
    report.hardwareAddressText = SelectFallbackMacText(first);
    report.strategy = "fallback";
    report.chosenIndex = FirstChosen(first, JudgeFallback);
  }
  if (report.hardwareAddressText.empty()) report.strategy = "none";

  std::set<std::string> qualified;  // distinct addresses under the deciding strategy
  std::uint8_t firstByte = 0;
  int index = 0;
  for (const platform::AdapterInfo* a = first; a != nullptr; a = a->Next, ++index) {
    AdapterReport entry;
    entry.index = index;
    entry.description.assign(a->Description, strnlen(a->Description, sizeof a->Description));
    entry.address = WriteAddressText(*a, &entry.usable);
    entry.addressLength = a->AddressLength;
    entry.context = a->IpAddressList.Context;
    std::string text;
    const Verdict physical = JudgePhysical(*a, &text);
    const Verdict fallback = JudgeFallback(*a, &text);
    const bool isChosen = index == report.chosenIndex;
    entry.physical = DescribeVerdict(physical, *a, isChosen && report.strategy == "physical", true);
    entry.fallback = DescribeVerdict(fallback, *a, isChosen && report.strategy == "fallback",
                                     report.strategy != "physical");
    const Verdict deciding = report.strategy == "physical" ? physical : fallback;
    if (report.strategy != "none" && deciding == Verdict::kChosen) qualified.insert(entry.address);
    if (isChosen) firstByte = a->Address[0];
    report.adapters.push_back(std::move(entry));
  }

  if (report.chosenIndex >= 0 && (firstByte & 0x02) != 0) {
    report.warnings.push_back(
        "locally administered address: bit 0x02 of its first byte is set, so software assigned "
        "it (a virtual machine, container, VPN or address randomisation) and it may change");
  }
  if (qualified.size() > 1) {
    report.warnings.push_back(
        "the choice depends on list order alone: " + std::to_string(qualified.size()) +
        " adapters with different addresses qualified under the " + report.strategy +
        " strategy; the first in list order decided");
  }
  if (report.strategy == "fallback") {
    report.warnings.push_back(
        "the fallback decided: no adapter with a usable address has a description free of "
        "\"virtual\" and \"vmware\"");
  }
}

// Restates the set-up's test of a log file path, which it makes by opening
// the file for appending (creating it): a file that exists must be writable;
// otherwise its folder must be, and a folder the set-up would create first
// (recorded by the inspection) counts by its parent.
bool CanAppend(const std::string& path, const std::vector<std::string>& foldersToCreate) {
  struct stat status {};
  if (stat(path.c_str(), &status) == 0) {
    return !S_ISDIR(status.st_mode) && access(path.c_str(), W_OK) == 0;
  }
  std::string folder = path.substr(0, path.rfind('/') + 1);
  if (access(folder.c_str(), F_OK) != 0 &&
      std::find(foldersToCreate.begin(), foldersToCreate.end(), folder) != foldersToCreate.end()) {
    folder.resize(folder.rfind('/', folder.size() - 2) + 1);
  }
  return !folder.empty() && access(folder.c_str(), W_OK | X_OK) == 0;
}

std::string LevelText(std::uint32_t level) {
  static const char* const kNames[] = {"FATAL",  "ALERT", "CRIT",  "ERROR", "WARN",
                                       "NOTICE", "INFO",  "DEBUG", "NOTSET"};
  std::string text = std::to_string(level);
  if (level % 100 == 0 && level / 100 < std::size(kNames)) {
    text += std::string(" (") + kNames[level / 100] + ")";
  }
  return text;
}

}  // namespace

Report ExplainAdapters() {
  Report report;
  report.strategy = "none";
  EnumerateAdapters([&report](const platform::AdapterInfo* first) { ExplainList(first, report); });
  if (report.strategy == "none") {
    report.warnings.push_back(
        "no adapter qualified: the code is the digest of the empty text, which every such machine "
        "shares");
  }
  report.deviceCode = ComputeDeviceCode(report.hardwareAddressText).data();
  return report;
}

LogReport ExplainLog(const std::string& hostPath, const std::string& libraryPath) {
  LogReport log;
  log.host = hostPath;
  log.library = libraryPath;
  platform::Inspection inspection;
  inspection.hostPath = hostPath;
  inspection.libraryPath = libraryPath;
  platform::SetInspection(&inspection);
  DiscoverLogEnvironment(log.categoryName, log.logFolder, log.configFolder, log.tempFolder,
                         log.logFileName, &log.baseFolder);
  // The set-up's own order: the option file first, then plugin.ini.
  log.optionLogLevel = ReadOptionLogLevel(log.configFolder, log.tempFolder);
  log.pluginLogLevel = ReadPluginLogLevel();
  log.iniFilesRead = inspection.profilesRead;
  log.combinedLogLevel = GetCombinedLogLevel(log.configFolder, log.tempFolder);
  platform::SetInspection(nullptr);
  log.foldersToCreate = inspection.foldersToCreate;

  // Restated from the set-up: log4cpp compares the level as a signed number,
  // and 800 or more falls back to the root's INFO, so INFO lines pass from 600.
  log.requestLinesWritten = static_cast<std::int32_t>(log.combinedLogLevel) >= 600;
  // Restated from the set-up: the first path if it opens, else the second.
  for (const std::string* folder : {&log.logFolder, &log.tempFolder}) {
    if (CanAppend(*folder + log.logFileName, log.foldersToCreate)) {
      log.logFile = *folder + log.logFileName;
      break;
    }
  }
  return log;
}

std::string FormatText(const Report& report) {
  std::string out = "Adapters, in the platform's list order:\n";
  if (report.adapters.empty()) out += "  none (the platform gave no list)\n";
  for (const AdapterReport& a : report.adapters) {
    out += "  " + std::to_string(a.index) + "  " + a.description + "\n";
    out += "     address " + (a.address.empty() ? "(none)" : a.address) + ", length " +
           std::to_string(a.addressLength) + ", context " + std::to_string(a.context) + "\n";
    out += "     physical: " + a.physical + "\n";
    out += "     fallback: " + a.fallback + "\n";
  }
  out += "Strategy: " + report.strategy + "\n";
  out += "Chosen adapter: ";
  if (report.chosenIndex >= 0) {
    const AdapterReport& chosen = report.adapters[static_cast<std::size_t>(report.chosenIndex)];
    out += std::to_string(chosen.index) + " (" + chosen.description + ")\n";
  } else {
    out += "none\n";
  }
  out += "Hardware-address text: " + report.hardwareAddressText + "\n";
  out += "Device code: " + report.deviceCode + "\n";
  out += "Warnings:" + std::string(report.warnings.empty() ? " none\n" : "\n");
  for (const std::string& warning : report.warnings) out += "  - " + warning + "\n";

  const LogReport& log = report.log;
  const auto line = [&out](const char* name, const std::string& value) {
    char head[32];
    std::snprintf(head, sizeof head, "  %-18s ", name);
    out += head + value + "\n";
  };
  out += "\nLog environment:\n";
  line("host", log.host);
  line("library", log.library);
  line("categoryName", log.categoryName);
  line("logFolder", log.logFolder);
  line("configFolder", log.configFolder);
  line("tempFolder", log.tempFolder);
  line("logFileName", log.logFileName);
  line("baseFolder", log.baseFolder);
  if (log.iniFilesRead.empty()) line("INI files read", "none found");
  for (const std::string& file : log.iniFilesRead) line("INI file read", file);
  line("optionLogLevel", LevelText(log.optionLogLevel));
  line("pluginLogLevel", LevelText(log.pluginLogLevel));
  line("combinedLogLevel",
       LevelText(log.combinedLogLevel) +
           (log.requestLinesWritten ? ": request lines written" : ": request lines not written"));
  line("logFile", log.logFile.empty() ? "none can be opened (debugger output only)" : log.logFile);
  for (const std::string& folder : log.foldersToCreate) line("set-up creates", folder);
  out +=
      "Nothing was created or written; the session and process in categoryName are this "
      "tool's.\n";
  return out;
}

std::string FormatJson(const Report& report) {
  nlohmann::ordered_json adapters = nlohmann::ordered_json::array();
  for (const AdapterReport& a : report.adapters) {
    adapters.push_back({{"index", a.index},
                        {"description", a.description},
                        {"address", a.address},
                        {"addressLength", a.addressLength},
                        {"context", a.context},
                        {"usable", a.usable},
                        {"physical", a.physical},
                        {"fallback", a.fallback}});
  }
  const LogReport& log = report.log;
  const nlohmann::ordered_json logJson = {
      {"host", log.host},
      {"library", log.library},
      {"categoryName", log.categoryName},
      {"logFolder", log.logFolder},
      {"configFolder", log.configFolder},
      {"tempFolder", log.tempFolder},
      {"logFileName", log.logFileName},
      {"baseFolder", log.baseFolder},
      {"iniFilesRead", log.iniFilesRead},
      {"optionLogLevel", log.optionLogLevel},
      {"pluginLogLevel", log.pluginLogLevel},
      {"combinedLogLevel", log.combinedLogLevel},
      {"requestLinesWritten", log.requestLinesWritten},
      {"logFile",
       log.logFile.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(log.logFile)},
      {"foldersToCreate", log.foldersToCreate},
  };
  const nlohmann::ordered_json json = {
      {"adapters", adapters},
      {"strategy", report.strategy},
      {"chosenIndex",
       report.chosenIndex >= 0 ? nlohmann::ordered_json(report.chosenIndex) : nullptr},
      {"hardwareAddressText", report.hardwareAddressText},
      {"deviceCode", report.deviceCode},
      {"warnings", report.warnings},
      {"log", logJson},
  };
  return json.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}

}  // namespace devicecode
