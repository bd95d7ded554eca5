// Adapter selection: which network adapter's hardware address names the
// machine, and that address written as text.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "platform/platform.h"

namespace devicecode {

// What a strategy decided about one adapter record.
enum class Verdict {
  kChosen,            // usable address: the walk stops here
  kSkippedVirtual,    // description names a virtual or VMware adapter
  kSkippedUnusable,   // empty or all-zero address
  kSkippedNoContext,  // no IP context and not the last record
};

// The first AddressLength bytes of Address (at most 8) as upper-case hex
// digits; `*usable` tells whether any of them is non-zero.
std::string WriteAddressText(const platform::AdapterInfo& adapter, bool* usable);

// One record under each strategy; `*text` receives the address text when the
// verdict is kChosen and is emptied otherwise.
Verdict JudgePhysical(const platform::AdapterInfo& adapter, std::string* text);
Verdict JudgeFallback(const platform::AdapterInfo& adapter, std::string* text);

// The strategy that chose, in the order they run.
enum class Strategy { kPhysical, kFallback, kNone };

// A choice over a chain of records: the chosen record's position from 0 and
// its address text, or -1 and the empty text when none qualified.
struct Choice {
  Strategy strategy = Strategy::kNone;
  int index = -1;
  std::string text;
};

// One strategy over a chain of records linked through Next (null: an empty
// list): the first record it chooses. `strategy` must not be kNone.
Choice ChooseAdapter(const platform::AdapterInfo* first, Strategy strategy);

// Both strategies as a request applies them: the first, and the fallback only
// when the first chooses nothing.
Choice SelectAdapter(const platform::AdapterInfo* first);

// ChooseAdapter's text alone.
std::string SelectPhysicalMacText(const platform::AdapterInfo* first);
std::string SelectFallbackMacText(const platform::AdapterInfo* first);

// What the platform's enumeration gave.
enum class AdapterList {
  kRead,        // the chain was handed to `use`
  kNone,        // the machine has no adapters
  kUnreadable,  // the list could not be had: a failed call, or one that kept growing
};

// Runs the platform's two-call enumeration and hands the chain of records to
// `use`, which runs only for kRead; the chain lives until `use` returns. A
// list that grew between the two calls is asked for again a few times. An
// exhausted heap throws std::bad_alloc.
AdapterList EnumerateAdapters(const std::function<void(const platform::AdapterInfo* first)>& use);

// One enumeration, both strategies over the same list: the physical
// strategy's text, else the fallback's, else the empty text (no adapters, or
// none qualifies). No text at all when the list cannot be read, so that a
// failure never passes for "no adapter qualified"; an exhausted heap throws
// std::bad_alloc.
std::optional<std::string> GetMacText();

}  // namespace devicecode
