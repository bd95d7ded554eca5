// The support report: the library's selection logic run in the tool, and
// the report's text and JSON forms.
#include "report.h"

#include <cstdio>
#include <cstring>
#include <nlohmann/json.hpp>
#include <set>

#include "devicecode/device_code.h"

namespace devicecode {
namespace {

const char* StrategyName(Strategy strategy) {
  switch (strategy) {
    case Strategy::kPhysical:
      return "physical";
    case Strategy::kFallback:
      return "fallback";
    case Strategy::kNone:
      break;
  }
  return "none";
}

Verdict Judge(Strategy strategy, const platform::AdapterInfo& adapter) {
  std::string text;
  return strategy == Strategy::kPhysical ? JudgePhysical(adapter, &text)
                                         : JudgeFallback(adapter, &text);
}

// What one strategy decided about one record. `chosen` tells whether the
// record is the one whose address gives the code; `ran` whether the library
// ran the strategy at all (the fallback runs only when the first finds
// nothing); a strategy that did not run is judged all the same, marked so.
StrategyVerdict DescribeVerdict(Verdict verdict, const platform::AdapterInfo& adapter, bool chosen,
                                bool ran) {
  StrategyVerdict result;
  result.ran = ran;
  switch (verdict) {
    case Verdict::kChosen:
      result.code = chosen ? "chosen" : "qualified";
      result.message = chosen ? "chosen" : ran ? "qualified, after the chosen one" : "qualified";
      break;
    case Verdict::kSkippedVirtual:
      result.code = "virtual";
      result.message = "skipped: description names a virtual adapter";
      break;
    case Verdict::kSkippedUnusable:
      result.code = adapter.AddressLength == 0 ? "no-address" : "zero-address";
      result.message =
          adapter.AddressLength == 0 ? "skipped: no address" : "skipped: all-zero address";
      break;
    case Verdict::kSkippedNoContext:
      result.code = "no-context";
      result.message = "skipped: no IPv4 context and not the last";
      break;
  }
  if (!ran) result.message += " (not run)";
  return result;
}

const char* KindName(platform::AdapterIdentity::Kind kind) {
  switch (kind) {
    case platform::AdapterIdentity::Kind::kHardware:
      return "hardware";
    case platform::AdapterIdentity::Kind::kSoftware:
      return "software";
    case platform::AdapterIdentity::Kind::kUnknown:
      break;
  }
  return "unknown";
}

// The records of `all` without those at `removed`, linked anew, with each
// one's index in `all`.
struct SubList {
  std::vector<platform::AdapterInfo> records;
  std::vector<int> indices;
};

SubList Without(const std::vector<platform::AdapterInfo>& all, const std::vector<int>& removed) {
  SubList list;
  std::set<int> gone(removed.begin(), removed.end());
  for (std::size_t i = 0; i < all.size(); ++i) {
    if (gone.count(static_cast<int>(i)) != 0) continue;
    list.records.push_back(all[i]);
    list.indices.push_back(static_cast<int>(i));
  }
  for (std::size_t i = 0; i < list.records.size(); ++i) {
    list.records[i].Next = i + 1 < list.records.size() ? &list.records[i + 1] : nullptr;
  }
  return list;
}

WhatIf AskWhatIf(const std::vector<platform::AdapterInfo>& all, const std::vector<int>& removed) {
  const SubList list = Without(all, removed);
  const Choice choice = SelectAdapter(list.records.empty() ? nullptr : &list.records[0]);
  WhatIf answer;
  answer.removed = removed;
  answer.strategy = StrategyName(choice.strategy);
  answer.chosenIndex =
      choice.index >= 0 ? list.indices[static_cast<std::size_t>(choice.index)] : -1;
  answer.hardwareAddressText = choice.text;
  answer.deviceCode = ComputeDeviceCode(choice.text).data();
  return answer;
}

void AddWarnings(const Choice& choice, const platform::AdapterInfo* chosen,
                 std::size_t distinctQualified, Report& report) {
  if (chosen != nullptr && (chosen->Address[0] & 0x02) != 0) {
    report.warnings.push_back(
        {"locally-administered-address",
         "locally administered address: bit 0x02 of its first byte is set, so software "
         "assigned it (a virtual machine, container, VPN or address randomisation) and it may "
         "change"});
  }
  if (distinctQualified > 1) {
    report.warnings.push_back(
        {"order-dependent",
         "the choice depends on list order alone: " + std::to_string(distinctQualified) +
             " adapters with different addresses qualified under the " + report.strategy +
             " strategy; the first in list order decided"});
  }
  if (choice.strategy == Strategy::kFallback) {
    report.warnings.push_back(
        {"fallback-decided",
         "the fallback decided: no adapter with a usable address has a description free of "
         "\"virtual\" and \"vmware\""});
  }
  if (choice.strategy == Strategy::kNone) {
    report.warnings.push_back(
        {"no-adapter-qualified",
         "no adapter qualified: the code is the digest of the empty text, which every such "
         "machine shares"});
  }
}

// The adapter as the text report names it: its index and description, which
// people recognise on every platform (Windows names an interface by a GUID;
// a Linux description holds the interface's name).
std::string Label(const AdapterReport& a) {
  return std::to_string(a.index) + " (" + EscapeControls(a.description) + ")";
}

std::string Join(const std::vector<std::string>& items, const char* separator) {
  std::string text;
  for (const std::string& item : items) text += (text.empty() ? "" : separator) + item;
  return text;
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

nlohmann::ordered_json VerdictJson(const StrategyVerdict& v) {
  return {{"code", v.code}, {"ran", v.ran}, {"message", v.message}};
}

nlohmann::ordered_json IndexJson(int index) {
  return index >= 0 ? nlohmann::ordered_json(index) : nlohmann::ordered_json();
}

nlohmann::ordered_json TextOrNull(const std::string& text) {
  return text.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(text);
}

}  // namespace

Report ExplainAdapterList(const platform::AdapterInfo* first) {
  Report report;
  std::vector<platform::AdapterInfo> records;
  for (const platform::AdapterInfo* a = first; a != nullptr; a = a->Next) records.push_back(*a);

  const Choice choice = SelectAdapter(first);
  report.strategy = StrategyName(choice.strategy);
  report.chosenIndex = choice.index;
  report.hardwareAddressText = choice.text;
  report.deviceCode = ComputeDeviceCode(choice.text).data();

  std::set<std::string> qualifiedAddresses;  // under the deciding strategy
  std::vector<int> qualified;
  for (std::size_t i = 0; i < records.size(); ++i) {
    const platform::AdapterInfo& record = records[i];
    AdapterReport entry;
    entry.index = static_cast<int>(i);
    const platform::AdapterIdentity identity = platform::DescribeAdapter(record);
    entry.interfaceName = identity.interfaceName;
    entry.kind = KindName(identity.kind);
    entry.kindDetail = identity.detail;
    entry.description.assign(record.Description,
                             strnlen(record.Description, sizeof record.Description));
    entry.address = WriteAddressText(record, &entry.usable);
    entry.addressLength = record.AddressLength;
    entry.context = record.IpAddressList.Context;
    const bool isChosen = entry.index == choice.index;
    entry.physical = DescribeVerdict(Judge(Strategy::kPhysical, record), record,
                                     isChosen && choice.strategy == Strategy::kPhysical, true);
    entry.fallback = DescribeVerdict(Judge(Strategy::kFallback, record), record,
                                     isChosen && choice.strategy == Strategy::kFallback,
                                     choice.strategy != Strategy::kPhysical);
    if (choice.strategy != Strategy::kNone && Judge(choice.strategy, record) == Verdict::kChosen) {
      qualifiedAddresses.insert(entry.address);
      qualified.push_back(entry.index);
    }
    report.adapters.push_back(std::move(entry));
  }

  const platform::AdapterInfo* chosen =
      choice.index >= 0 ? &records[static_cast<std::size_t>(choice.index)] : nullptr;
  AddWarnings(choice, chosen, qualifiedAddresses.size(), report);

  // Each later qualifier with those before it gone, and last all of them
  // gone: when the first strategy decided, the fallback's answer.
  for (std::size_t k = 1; k <= qualified.size(); ++k) {
    report.whatIf.push_back(
        AskWhatIf(records, std::vector<int>(qualified.begin(), qualified.begin() + k)));
  }
  return report;
}

std::optional<Report> ExplainAdapters() {
  Report report = ExplainAdapterList(nullptr);
  const AdapterList read = EnumerateAdapters(
      [&report](const platform::AdapterInfo* first) { report = ExplainAdapterList(first); });
  if (read == AdapterList::kUnreadable) return std::nullopt;
  return report;
}

const Warning* FindWarning(const Report& report, const std::string& code) {
  for (const Warning& warning : report.warnings) {
    if (warning.code == code) return &warning;
  }
  return nullptr;
}

MatchAnswer AnswerMatch(const Report& report, const std::string& code) {
  MatchAnswer answer;
  const AdapterReport* chosen = report.chosenIndex >= 0
                                    ? &report.adapters[static_cast<std::size_t>(report.chosenIndex)]
                                    : nullptr;
  const auto describe = [](const AdapterReport& a) {
    return "adapter " + std::to_string(a.index) + " (" + EscapeControls(a.description) + ")";
  };
  for (const AdapterReport& a : report.adapters) {
    // Only usable addresses count: the library never chooses another.
    if (!a.usable || ComputeDeviceCode(a.address).data() != code) continue;
    answer.found = true;
    answer.text += code + " is the code of " + describe(a) + ", address " + a.address + "; ";
    if (chosen == &a) {
      answer.text += "it is the adapter chosen now\n";
      continue;
    }
    const StrategyVerdict& own = report.strategy == "physical" ? a.physical : a.fallback;
    if (chosen != nullptr) {
      const std::string adapter = "adapter " + std::to_string(a.index);
      answer.text +=
          "it is not the chosen one now: " + describe(*chosen) + " decides, the first " +
          "in list order that the " + report.strategy + " strategy chooses; " +
          (own.code == "qualified" ? adapter + " qualifies too but comes later"
                                   : "for that strategy " + adapter + " is " + own.message) +
          "\n";
    } else {
      answer.text += "no adapter is chosen now (for the fallback it is " + a.fallback.message +
                     "), and the code is the empty text's, " + report.deviceCode + "\n";
    }
  }
  if (!answer.found && chosen == nullptr && code == report.deviceCode) {
    answer.found = true;
    answer.text = code +
                  " is the code of the empty address text, this machine's code: no adapter "
                  "qualifies\n";
  }
  if (!answer.found) {
    answer.text = code + " is the code of no adapter of this machine; " +
                  (chosen != nullptr ? "the adapter chosen now is " + describe(*chosen)
                                     : std::string("no adapter is chosen now")) +
                  ", its code " + report.deviceCode + "\n";
  }
  return answer;
}

std::string EscapeControls(const std::string& text) {
  std::string out;
  const auto escape = [&out](unsigned char byte) {
    char hex[5];
    std::snprintf(hex, sizeof hex, "\\x%02X", byte);
    out += hex;
  };
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t size = text.size();
  for (std::size_t i = 0; i < size;) {
    const unsigned char lead = bytes[i];
    if (lead < 0x20 || lead == 0x7F) {
      escape(lead);
      ++i;
      continue;
    }
    if (lead < 0x80) {
      out += static_cast<char>(lead);
      ++i;
      continue;
    }
    // A UTF-8 sequence: its length, the smallest value of that length, and
    // the value; a bad one is escaped byte by byte.
    const std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 0;
    std::uint32_t value = length == 4 ? lead & 0x07u : length == 3 ? lead & 0x0Fu : lead & 0x1Fu;
    bool valid = length != 0 && lead <= 0xF4 && i + length <= size;
    for (std::size_t k = 1; valid && k < length; ++k) {
      valid = (bytes[i + k] & 0xC0) == 0x80;
      value = (value << 6) | (bytes[i + k] & 0x3Fu);
    }
    static const std::uint32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
    valid = valid && value >= kSmallest[length] && value <= 0x10FFFF &&
            (value < 0xD800 || value > 0xDFFF);
    // C1 controls (U+0080 to U+009F) act like C0 ones on many terminals.
    if (!valid || value <= 0x9F) {
      const std::size_t count = valid ? length : 1;
      for (std::size_t k = 0; k < count; ++k) escape(bytes[i + k]);
      i += count;
      continue;
    }
    out.append(text, i, length);
    i += length;
  }
  return out;
}

std::string FormatText(const Report& report) {
  std::string out = "Adapters, in the platform's list order:\n";
  if (report.adapters.empty()) out += "  none (the platform gave no list)\n";
  for (const AdapterReport& a : report.adapters) {
    out += "  " + std::to_string(a.index) + "  " +
           (a.interfaceName.empty() ? "" : EscapeControls(a.interfaceName) + ": ") +
           EscapeControls(a.description) + "\n";
    out += "     " + a.kind + " device" +
           (a.kindDetail.empty() ? "" : " (" + EscapeControls(a.kindDetail) + ")") + ", address " +
           (a.address.empty() ? "(none)" : a.address) + ", length " +
           std::to_string(a.addressLength) + ", context " + std::to_string(a.context) + "\n";
    out += "     physical: " + a.physical.message + "\n";
    out += "     fallback: " + a.fallback.message + "\n";
  }
  out += "Strategy: " + report.strategy + "\n";
  out += "Chosen adapter: ";
  if (report.chosenIndex >= 0) {
    const AdapterReport& chosen = report.adapters[static_cast<std::size_t>(report.chosenIndex)];
    out += std::to_string(chosen.index) + " (" + EscapeControls(chosen.description) + ")\n";
  } else {
    out += "none\n";
  }
  out += "Hardware-address text: " + report.hardwareAddressText + "\n";
  out += "Device code: " + report.deviceCode + "\n";
  out += "Warnings:" + std::string(report.warnings.empty() ? " none\n" : "\n");
  for (const Warning& warning : report.warnings) out += "  - " + warning.message + "\n";
  if (!report.whatIf.empty()) {
    out += "If adapters went away (the adapters gone: what decides then):\n";
  }
  for (const WhatIf& w : report.whatIf) {
    std::vector<std::string> gone;
    for (int index : w.removed) {
      gone.push_back(Label(report.adapters[static_cast<std::size_t>(index)]));
    }
    out += "  without " + Join(gone, ", ") + ": ";
    if (w.chosenIndex >= 0) {
      out += "adapter " + Label(report.adapters[static_cast<std::size_t>(w.chosenIndex)]) +
             " under the " + w.strategy + " strategy";
    } else {
      out += "no adapter qualifies";
    }
    out += ", code " + w.deviceCode + "\n";
  }

  const LogReport& log = report.log;
  const LogEnvironment& e = log.plan.environment;
  const auto line = [&out](const char* name, const std::string& value) {
    char head[32];
    std::snprintf(head, sizeof head, "  %-18s ", name);
    out += head + EscapeControls(value) + "\n";
  };
  out += "\nLog environment:\n";
  line("host", log.host);
  line("library", log.library);
  line("categoryName", e.categoryName);
  line("logFolder", e.logFolder);
  line("configFolder", e.configFolder);
  line("tempFolder", e.tempFolder);
  line("logFileName", e.logFileName);
  line("baseFolder", e.baseFolder);
  if (log.iniFilesRead.empty()) line("INI files read", "none found");
  for (const std::string& file : log.iniFilesRead) line("INI file read", file);
  line("optionLogLevel", LevelText(log.plan.optionLogLevel));
  line("pluginLogLevel", LevelText(log.plan.pluginLogLevel));
  line("combinedLogLevel", LevelText(log.plan.logLevel) + (log.plan.requestLinesWritten
                                                               ? ": request lines written"
                                                               : ": request lines not written"));
  for (std::size_t i = 0; i < log.plan.logFiles.size(); ++i) {
    line(i == 0 ? "logFile" : "else logFile", log.plan.logFiles[i]);
  }
  for (const std::string& folder : log.plan.foldersToCreate) line("set-up creates", folder);
  out +=
      "Nothing was created or written; the session and process in categoryName are this "
      "tool's.\n";
  return out;
}

std::string FormatJson(const Report& report) {
  nlohmann::ordered_json adapters = nlohmann::ordered_json::array();
  for (const AdapterReport& a : report.adapters) {
    adapters.push_back({{"index", a.index},
                        {"interfaceName", TextOrNull(a.interfaceName)},
                        {"kind", a.kind},
                        {"kindDetail", TextOrNull(a.kindDetail)},
                        {"description", a.description},
                        {"address", a.address},
                        {"addressLength", a.addressLength},
                        {"context", a.context},
                        {"usable", a.usable},
                        {"physical", VerdictJson(a.physical)},
                        {"fallback", VerdictJson(a.fallback)}});
  }
  nlohmann::ordered_json warnings = nlohmann::ordered_json::array();
  for (const Warning& w : report.warnings) {
    warnings.push_back({{"code", w.code}, {"message", w.message}});
  }
  nlohmann::ordered_json whatIf = nlohmann::ordered_json::array();
  for (const WhatIf& w : report.whatIf) {
    whatIf.push_back({{"removed", w.removed},
                      {"strategy", w.strategy},
                      {"chosenIndex", IndexJson(w.chosenIndex)},
                      {"hardwareAddressText", w.hardwareAddressText},
                      {"deviceCode", w.deviceCode}});
  }
  const LogReport& log = report.log;
  const LogEnvironment& e = log.plan.environment;
  const nlohmann::ordered_json logJson = {
      {"host", log.host},
      {"library", log.library},
      {"categoryName", e.categoryName},
      {"logFolder", e.logFolder},
      {"configFolder", e.configFolder},
      {"tempFolder", e.tempFolder},
      {"logFileName", e.logFileName},
      {"baseFolder", e.baseFolder},
      {"iniFilesRead", log.iniFilesRead},
      {"optionLogLevel", log.plan.optionLogLevel},
      {"pluginLogLevel", log.plan.pluginLogLevel},
      {"combinedLogLevel", log.plan.logLevel},
      {"requestLinesWritten", log.plan.requestLinesWritten},
      {"logFiles", log.plan.logFiles},
      {"foldersToCreate", log.plan.foldersToCreate},
  };
  const nlohmann::ordered_json json = {
      {"schemaVersion", kReportSchemaVersion},
      {"adapters", adapters},
      {"strategy", report.strategy},
      {"chosenIndex", IndexJson(report.chosenIndex)},
      {"hardwareAddressText", report.hardwareAddressText},
      {"deviceCode", report.deviceCode},
      {"warnings", warnings},
      {"whatIf", whatIf},
      {"log", logJson},
  };
  return json.dump(2, ' ', /*ensure_ascii=*/true,
                   nlohmann::ordered_json::error_handler_t::replace) +
         "\n";
}

}  // namespace devicecode
