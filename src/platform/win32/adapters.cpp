// GetAdaptersInfo on Windows: the IP Helper call itself.
#include "platform/platform.h"

namespace platform {

std::uint32_t GetAdaptersInfo(AdapterInfo* buffer, std::uint32_t* size) {
  // ULONG is 32 bits on Windows but a distinct type from std::uint32_t.
  ULONG length = *size;
  const DWORD result = ::GetAdaptersInfo(buffer, &length);
  *size = length;
  return result;
}

}  // namespace platform
