// The support report of `devicecode --explain` and `--match`: why this
// machine's device code is what it is, what it would be if adapters went
// away, and where the log of a host and a library would go. Every decision in
// it comes from the library's own selection and log logic, linked into the
// tool; the report only lays them out.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "devicecode/adapter_selection.h"
#include "log/logger.h"
#include "platform/platform.h"

namespace devicecode {

// The JSON report's schema version: raised when a field changes meaning or
// goes away; new fields keep it.
constexpr int kReportSchemaVersion = 1;

// One strategy's judgement of one adapter.
struct StrategyVerdict {
  // Stable code: "chosen", "qualified" (chosen too, had the walk reached it,
  // or had the strategy run), "virtual", "no-address", "zero-address",
  // "no-context".
  std::string code;
  bool ran = false;     // false: the fallback, when the first strategy decided
  std::string message;  // the same in words
};

struct AdapterReport {
  int index = 0;              // position in the platform's list, from 0
  std::string interfaceName;  // empty where the platform does not tell
  std::string kind;           // "hardware", "software" or "unknown"
  std::string kindDetail;     // link kind or driver; empty when unknown
  std::string description;    // ANSI bytes, as the platform gives them
  std::string address;        // hardware-address text (at most 8 bytes)
  std::uint32_t addressLength = 0;
  std::uint32_t context = 0;
  bool usable = false;  // has a non-zero byte: the library could choose it
  StrategyVerdict physical;
  StrategyVerdict fallback;
};

struct Warning {
  std::string code;  // stable: see FormatJson's schema
  std::string message;
};

// The machine's code with some adapters gone (the library's selection run on
// the list without them).
struct WhatIf {
  std::vector<int> removed;  // indices of the adapters gone, in list order
  std::string strategy;      // "physical", "fallback" or "none"
  int chosenIndex = -1;      // in the full list; -1: none qualifies
  std::string hardwareAddressText;
  std::string deviceCode;
};

struct LogReport {
  std::string host;                       // the files the log is worked out for
  std::string library;                    // (canonical paths)
  std::vector<std::string> iniFilesRead;  // in the order the set-up reads them
  LogPlan plan;
};

struct Report {
  std::vector<AdapterReport> adapters;
  std::string strategy = "none";  // "physical", "fallback" or "none"
  int chosenIndex = -1;           // -1: no adapter qualified
  std::string hardwareAddressText;
  std::string deviceCode;
  std::vector<Warning> warnings;
  // For each later adapter that qualifies under the deciding strategy: the
  // code with every qualifying one before it gone; then with all of them gone.
  std::vector<WhatIf> whatIf;
  LogReport log;
};

// The adapter part over a chain of records (null: the platform gave none).
Report ExplainAdapterList(const platform::AdapterInfo* first);
// The same over this machine's list; nothing when the list cannot be read
// (the library then gives no code either).
std::optional<Report> ExplainAdapters();

// The log part for a host and a library at these paths. Creates and writes
// nothing; session and process numbers in the category name are this
// process's.
LogReport ExplainLog(const std::string& hostPath, const std::string& libraryPath);

// What --match CODE answers (CODE: 32 upper-case hex digits) and whether an
// adapter of the report has that code.
struct MatchAnswer {
  bool found = false;
  std::string text;  // one or more lines, each ending with a line feed
};
MatchAnswer AnswerMatch(const Report& report, const std::string& code);

// The warning of the report with that code, or null.
const Warning* FindWarning(const Report& report, const std::string& code);

std::string FormatText(const Report& report);
// One JSON object, all ASCII; texts that are not UTF-8 get U+FFFD for each
// bad byte.
std::string FormatJson(const Report& report);

// `text` safe to print on a terminal: control characters (C0, DEL, C1) and
// bytes that are not UTF-8 become \xHH; everything else stays.
std::string EscapeControls(const std::string& text);

}  // namespace devicecode
