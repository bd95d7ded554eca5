// The fake backend's state, fault plan and the adapter and heap operations.
#include "platform/fake/fake_platform.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>

namespace platform {

#ifdef DEVICECODE_FAKE_ON_DISK
const char kPathSeparator = '/';
#else
const char kPathSeparator = '\\';
#endif

namespace fake {
namespace {

std::mutex& Lock() {
  static std::mutex lock;
  return lock;
}

constexpr std::uint32_t kErrorNotSupported = 50;

}  // namespace

State& Get() {
  static State state;
  return state;
}

void Reset() {
  std::lock_guard<std::mutex> hold(Lock());
  Get() = State{};
}

bool EnterCall(const char* operation) {
  std::lock_guard<std::mutex> hold(Lock());
  State& s = Get();
  const std::uint64_t step = ++s.steps;
  s.trace.push_back(operation);
  bool fail = false;
  switch (s.faultMode) {
    case FaultMode::kNone:
      break;
    case FaultMode::kFailOnce:
      fail = step == s.faultStep;
      break;
    case FaultMode::kFailFrom:
      fail = step >= s.faultStep;
      break;
    case FaultMode::kThrowAt:
      if (step == s.faultStep) {
        s.faultReached = true;
        throw std::bad_alloc();
      }
      break;
  }
  if (fail) s.faultReached = true;
  return fail;
}

}  // namespace fake

std::uint32_t GetAdaptersInfo(AdapterInfo* buffer, std::uint32_t* size) {
  if (fake::EnterCall("GetAdaptersInfo")) return fake::kErrorNotSupported;
  fake::State& s = fake::Get();
  // The size query of a pair comes without a buffer.
  const bool first = buffer == nullptr;
  std::vector<AdapterInfo> list = s.adapters;
  const std::uint64_t growths = std::min<std::uint64_t>(s.adapterCalls, s.growingCalls);
  for (std::uint64_t i = 0; i < growths; ++i) {
    list.insert(list.end(), s.appearBetweenCalls.begin(), s.appearBetweenCalls.end());
  }
  ++s.adapterCalls;

  std::uint32_t result;
  const auto needed = static_cast<std::uint32_t>(list.size() * sizeof(AdapterInfo));
  if (list.empty()) {
    result = kErrorNoData;
  } else if (buffer == nullptr || *size < needed) {
    *size = needed;
    result = kErrorBufferOverflow;
  } else {
    for (std::size_t i = 0; i < list.size(); ++i) {
      buffer[i] = list[i];
      buffer[i].Next = i + 1 < list.size() ? &buffer[i + 1] : nullptr;
    }
    result = kErrorSuccess;
  }
  if (first && s.overrideFirstResult) result = s.firstResult;
  if (!first && s.overrideSecondResult) result = s.secondResult;
  return result;
}

AdapterIdentity DescribeAdapter(const AdapterInfo& adapter) {
  AdapterIdentity identity;
  identity.interfaceName.assign(adapter.AdapterName,
                                strnlen(adapter.AdapterName, sizeof adapter.AdapterName));
  return identity;
}

void* Malloc(std::size_t size) {
  if (fake::EnterCall("Malloc")) return nullptr;
  void* block = std::malloc(size);
  if (block != nullptr) ++fake::Get().liveAllocations;
  return block;
}

void Free(void* block) {
  if (block == nullptr) return;
  --fake::Get().liveAllocations;
  std::free(block);
}

}  // namespace platform
