// Adapter selection and hardware-address text.
#include "devicecode/adapter_selection.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

namespace devicecode {
namespace {

constexpr std::size_t kMaxAddressLength = sizeof(platform::AdapterInfo{}.Address);
// Fills tried before a list that keeps growing counts as unreadable.
constexpr int kFillAttempts = 4;
constexpr std::size_t kDescriptionSize = sizeof(platform::AdapterInfo{}.Description);

// Locale-independent folding: only A-Z change, so "VIRTUAL" matches under any
// code page and no byte of 128 or above is touched.
std::string FoldDescription(const platform::AdapterInfo& adapter) {
  // A description that fills its field without a NUL ends with the field.
  std::string text(adapter.Description, strnlen(adapter.Description, kDescriptionSize));
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

bool NamesVirtualAdapter(const platform::AdapterInfo& adapter) {
  const std::string folded = FoldDescription(adapter);
  return folded.find("virtual") != std::string::npos || folded.find("vmware") != std::string::npos;
}

struct FreeDeleter {
  void operator()(void* block) const { platform::Free(block); }
};

}  // namespace

std::string WriteAddressText(const platform::AdapterInfo& adapter, bool* usable) {
  // A length above the field's 8 bytes cannot come from the platform; never
  // read past the field for it.
  std::size_t length = adapter.AddressLength;
  if (length > kMaxAddressLength) length = kMaxAddressLength;
  std::string text;
  text.reserve(2 * length);
  *usable = false;
  for (std::size_t i = 0; i < length; ++i) {
    char digits[10];
    std::snprintf(digits, sizeof digits, "%02X", static_cast<unsigned>(adapter.Address[i]));
    text += digits;
    if (adapter.Address[i] != 0) *usable = true;
  }
  return text;
}

Verdict JudgePhysical(const platform::AdapterInfo& adapter, std::string* text) {
  text->clear();
  if (NamesVirtualAdapter(adapter)) return Verdict::kSkippedVirtual;
  bool usable = false;
  std::string written = WriteAddressText(adapter, &usable);
  if (!usable) return Verdict::kSkippedUnusable;
  *text = std::move(written);
  return Verdict::kChosen;
}

Verdict JudgeFallback(const platform::AdapterInfo& adapter, std::string* text) {
  text->clear();
  // The last record is a candidate whatever its context.
  if (adapter.IpAddressList.Context == 0 && adapter.Next != nullptr) {
    return Verdict::kSkippedNoContext;
  }
  bool usable = false;
  std::string written = WriteAddressText(adapter, &usable);
  if (!usable) return Verdict::kSkippedUnusable;
  *text = std::move(written);
  return Verdict::kChosen;
}

Choice ChooseAdapter(const platform::AdapterInfo* first, Strategy strategy) {
  const auto judge = strategy == Strategy::kPhysical ? JudgePhysical : JudgeFallback;
  Choice choice;
  int index = 0;
  for (const platform::AdapterInfo* a = first; a != nullptr; a = a->Next, ++index) {
    if (judge(*a, &choice.text) == Verdict::kChosen) {
      choice.strategy = strategy;
      choice.index = index;
      return choice;
    }
  }
  return {};
}

Choice SelectAdapter(const platform::AdapterInfo* first) {
  Choice choice = ChooseAdapter(first, Strategy::kPhysical);
  if (choice.index < 0) choice = ChooseAdapter(first, Strategy::kFallback);
  return choice;
}

std::string SelectPhysicalMacText(const platform::AdapterInfo* first) {
  return ChooseAdapter(first, Strategy::kPhysical).text;
}

std::string SelectFallbackMacText(const platform::AdapterInfo* first) {
  return ChooseAdapter(first, Strategy::kFallback).text;
}

AdapterList EnumerateAdapters(const std::function<void(const platform::AdapterInfo* first)>& use) {
  std::uint32_t size = 0;
  std::uint32_t result = platform::GetAdaptersInfo(nullptr, &size);
  // A list that grows between the size query and the fill (an adapter
  // plugged in, a VPN starting) is asked for again with the size it now
  // needs; only one that keeps growing counts as unreadable.
  for (int attempt = 0; attempt < kFillAttempts; ++attempt) {
    if (result == platform::kErrorNoData) return AdapterList::kNone;
    if (result != platform::kErrorBufferOverflow || size == 0) return AdapterList::kUnreadable;
    std::unique_ptr<platform::AdapterInfo, FreeDeleter> list(
        static_cast<platform::AdapterInfo*>(platform::Malloc(size)));
    if (!list) throw std::bad_alloc();
    result = platform::GetAdaptersInfo(list.get(), &size);
    if (result == platform::kErrorSuccess) {
      use(list.get());
      return AdapterList::kRead;
    }
  }
  return AdapterList::kUnreadable;
}

std::optional<std::string> GetMacText() {
  std::string text;
  const AdapterList read = EnumerateAdapters(
      [&text](const platform::AdapterInfo* first) { text = SelectAdapter(first).text; });
  if (read == AdapterList::kUnreadable) return std::nullopt;
  return text;
}

}  // namespace devicecode
