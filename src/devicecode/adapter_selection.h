// Adapter selection: which network adapter's hardware address names the
// machine, and that address written as text.
#pragma once

#include <functional>
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

// Runs the platform's two-call enumeration and hands the chain of records to
// `use`; the chain lives until `use` returns. Returns false, without calling
// `use`, when the platform gives no list (no adapters among the causes); an
// exhausted heap throws std::bad_alloc.
bool EnumerateAdapters(const std::function<void(const platform::AdapterInfo* first)>& use);

// Enumerate the platform's adapters and apply one selection. Every platform
// failure gives the empty text; an exhausted heap throws std::bad_alloc, so
// that a shortage never passes for "no adapter qualified".
std::string GetPhysicalMacText();
std::string GetFallbackMacText();

}  // namespace devicecode
