// The fake backend: every platform result set by the test, any call failable.
//
// Every platform call counts as one step. A fault plan fails step n only, or
// every step from n on, or throws std::bad_alloc at step n, the way storage
// engines sweep I/O errors: rerun with n = 1, 2, ... until a run completes
// before step n is reached.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace platform::fake {

enum class FaultMode { kNone, kFailOnce, kFailFrom, kThrowAt };

struct State {
  // Adapters reported by GetAdaptersInfo, in list order (Next is set by the
  // fake). No adapters: the first call fails, as on Windows.
  std::vector<AdapterInfo> adapters;
  // Records appended after the first GetAdaptersInfo call of each pair, so
  // that the second call finds the list grown.
  std::vector<AdapterInfo> appearBetweenCalls;
  // When set, replaces the result of the first call of each pair (the size
  // query, made without a buffer).
  bool overrideFirstResult = false;
  std::uint32_t firstResult = 0;
  // When set, replaces the result of the second call of each pair.
  bool overrideSecondResult = false;
  std::uint32_t secondResult = 0;

  // Fault plan over the step counter.
  FaultMode faultMode = FaultMode::kNone;
  std::uint64_t faultStep = 0;

  // Observations.
  std::uint64_t steps = 0;            // platform calls made
  bool faultReached = false;          // the plan fired at least once
  std::uint64_t adapterCalls = 0;     // GetAdaptersInfo calls
  std::uint64_t liveAllocations = 0;  // Malloc minus Free
};

// The state every fake call reads; Reset() restores the defaults.
State& Get();
void Reset();

// For fake operations: counts one step for `operation` and applies the fault
// plan. Returns true when this call must fail; throws std::bad_alloc when the
// plan says so.
bool EnterCall(const char* operation);

}  // namespace platform::fake
