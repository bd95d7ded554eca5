// Fuzzes both adapter selections over arbitrary record lists: any
// AddressLength, descriptions without a NUL, any contexts.
#include <cstdint>
#include <cstring>
#include <vector>

#include "devicecode/adapter_selection.h"

namespace {

constexpr std::size_t kRecordBytes = sizeof(platform::AdapterInfo{}.Description) + 4 + 8 + 4;

void CheckText(const std::string& text) {
  if (text.size() % 2 != 0 || text.size() > 16) __builtin_trap();
  for (char c : text) {
    if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) __builtin_trap();
  }
  if (!text.empty() && text.find_first_not_of('0') == std::string::npos) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<platform::AdapterInfo> records(size / kRecordBytes);
  for (std::size_t i = 0; i < records.size(); ++i) {
    const std::uint8_t* p = data + i * kRecordBytes;
    platform::AdapterInfo& r = records[i];
    std::memcpy(r.Description, p, sizeof r.Description);
    p += sizeof r.Description;
    std::memcpy(&r.AddressLength, p, 4);
    std::memcpy(r.Address, p + 4, 8);
    std::memcpy(&r.IpAddressList.Context, p + 12, 4);
    r.Next = i + 1 < records.size() ? &records[i + 1] : nullptr;
  }
  const platform::AdapterInfo* first = records.empty() ? nullptr : records.data();
  CheckText(devicecode::SelectPhysicalMacText(first));
  CheckText(devicecode::SelectFallbackMacText(first));
  return 0;
}
