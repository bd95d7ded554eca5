// The cost of the log's request lines. At the default level (500) the two
// lines must add no more than 2% to GetDeviceCode, measured against the bare
// computation in the same run; at level 600, the cost of writing both lines
// (file and debugger output) per request.
//
// The library is linked into this program, so the program is its own host:
// the log file lands beside the benchmark (or under a Logs folder near it).
#include <log4cpp/Category.hh>

#include <cstring>
#include <string>

#include "devicecode.h"
#include "devicecode/adapter_selection.h"
#include "devicecode/device_code.h"
#include "log/logger.h"
#include "platform/platform.h"
#include "ratio_reporter.h"

namespace {

// What GetDeviceCode does without its two log lines.
void BM_BareComputation(benchmark::State& state) {
  for (auto _ : state) {
    const auto code = devicecode::ComputeDeviceCode(devicecode::GetMacText().value_or(""));
    char* buffer = static_cast<char*>(platform::Malloc(code.size()));
    std::memcpy(buffer, code.data(), code.size());
    benchmark::DoNotOptimize(buffer);
    platform::Free(buffer);
  }
}
BENCHMARK(BM_BareComputation);

void BM_GetDeviceCodeDefaultLevel(benchmark::State& state) {
  devicecode::GetLogCategoryName();  // the one-time set-up stays outside
  for (auto _ : state) {
    char* code = GetDeviceCode();
    benchmark::DoNotOptimize(code);
    FreeBuffer(code);
  }
  state.SetLabel("baseline:BM_BareComputation");
}
BENCHMARK(BM_GetDeviceCodeDefaultLevel);

void WriteBothLines(benchmark::State& state) {
  for (auto _ : state) {
    devicecode::WriteRequestLine(devicecode::kBeginMessage);
    devicecode::WriteRequestLine(devicecode::kEndMessage);
  }
}

// The overhead itself, as a share of the bare computation: the 2% budget is
// a ratio of 0.02 here, free of the run-to-run noise of the adapter listing.
void BM_RequestLinesDefaultLevel(benchmark::State& state) {
  devicecode::GetLogCategoryName();
  WriteBothLines(state);
  state.SetLabel("baseline:BM_BareComputation");
}
BENCHMARK(BM_RequestLinesDefaultLevel);

// Each iteration writes two lines to the file and to the system log: keep the
// count modest.
void BM_RequestLinesLevel600(benchmark::State& state) {
  const std::string name = devicecode::GetLogCategoryName();
  if (name.empty()) state.SkipWithError("log set-up failed");
  log4cpp::Category& category = log4cpp::Category::getInstance(name);
  const log4cpp::Priority::Value saved = category.getPriority();
  category.setPriority(log4cpp::Priority::INFO);
  WriteBothLines(state);
  category.setPriority(saved);
  state.SetLabel("baseline:BM_BareComputation");
}
BENCHMARK(BM_RequestLinesLevel600)->Iterations(5000);

}  // namespace

DEVICECODE_BENCHMARK_MAIN()
