// The support report of `devicecode --explain` and `--match`: why this
// machine's device code is what it is, and where the log of a host and a
// library would go. Runs the library's own selection and log logic, linked
// into the tool, on this machine.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace devicecode {

struct AdapterReport {
  int index = 0;            // position in the platform's list, from 0
  std::string description;  // ANSI bytes, as the platform gives them
  std::string address;      // hardware-address text (at most 8 bytes)
  std::uint32_t addressLength = 0;
  std::uint32_t context = 0;
  bool usable = false;   // has a non-zero byte: the library could choose it
  std::string physical;  // what each strategy decided, and why
  std::string fallback;
};

struct LogReport {
  std::string host;     // the files the log is worked out for
  std::string library;  // (canonical paths)
  std::string categoryName;
  std::string logFolder;
  std::string configFolder;
  std::string tempFolder;
  std::string logFileName;
  std::string baseFolder;
  std::vector<std::string> iniFilesRead;  // in the order the set-up reads them
  std::uint32_t optionLogLevel = 0;
  std::uint32_t pluginLogLevel = 0;
  std::uint32_t combinedLogLevel = 0;
  bool requestLinesWritten = false;
  std::string logFile;  // empty: no file could be opened
  std::vector<std::string> foldersToCreate;
};

struct Report {
  std::vector<AdapterReport> adapters;
  std::string strategy;  // "physical", "fallback" or "none"
  int chosenIndex = -1;  // -1: no adapter qualified
  std::string hardwareAddressText;
  std::string deviceCode;
  std::vector<std::string> warnings;
  LogReport log;
};

// The adapter part: every adapter in list order under both strategies, the
// strategy that decided, the text, the code and the warnings.
Report ExplainAdapters();

// The log part for a host and a library at these paths. Creates and writes
// nothing; session and process numbers in categoryName are this process's.
LogReport ExplainLog(const std::string& hostPath, const std::string& libraryPath);

std::string FormatText(const Report& report);
// One JSON object; texts that are not UTF-8 get U+FFFD for each bad byte.
std::string FormatJson(const Report& report);

}  // namespace devicecode
