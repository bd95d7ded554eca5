// GetAdaptersInfo on Windows: the IP Helper call itself.
#include "platform/platform.h"

#include <cstring>

namespace platform {

std::uint32_t GetAdaptersInfo(AdapterInfo* buffer, std::uint32_t* size) {
  // ULONG is 32 bits on Windows but a distinct type from std::uint32_t.
  ULONG length = *size;
  const DWORD result = ::GetAdaptersInfo(buffer, &length);
  *size = length;
  return result;
}

// Windows names an adapter by its GUID; IP Helper's record does not tell a
// hardware device from a software one, so the kind stays unknown.
AdapterIdentity DescribeAdapter(const AdapterInfo& adapter) {
  AdapterIdentity identity;
  identity.interfaceName.assign(adapter.AdapterName,
                                strnlen(adapter.AdapterName, sizeof adapter.AdapterName));
  return identity;
}

}  // namespace platform
