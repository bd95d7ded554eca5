// GetAdaptersInfo on Linux: the kernel's interfaces as adapter records.
//
// Records follow interface-index order and include every interface, up or
// down. Address is the link-layer address; Description contains "Virtual"
// exactly for software devices (the sysfs entry resolves under
// /sys/devices/virtual/), else names the interface and its driver;
// IpAddressList.Context is the interface index when it has an IPv4 address,
// else 0.
#include <ifaddrs.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace platform {
namespace {

constexpr std::uint32_t kErrorNoData = 232;

struct Interface {
  unsigned index;
  const char* name;
  const sockaddr_ll* link;
  bool hasIpv4;
};

// Reads the target of a sysfs link; empty when there is none.
std::string ReadLink(const std::string& path) {
  char target[512];
  const ssize_t n = readlink(path.c_str(), target, sizeof target - 1);
  if (n <= 0) return {};
  return std::string(target, static_cast<std::size_t>(n));
}

void Describe(const char* name, char (&description)[sizeof(AdapterInfo{}.Description)]) {
  const std::string sysfs = std::string("/sys/class/net/") + name;
  const std::string device = ReadLink(sysfs);
  if (device.find("/devices/virtual/") != std::string::npos) {
    std::snprintf(description, sizeof description, "Virtual network interface %s", name);
    return;
  }
  const std::string driver = ReadLink(sysfs + "/device/driver");
  const std::size_t slash = driver.rfind('/');
  if (driver.empty()) {
    std::snprintf(description, sizeof description, "Network interface %s", name);
  } else {
    std::snprintf(description, sizeof description, "Network interface %s (driver %s)", name,
                  driver.c_str() + (slash == std::string::npos ? 0 : slash + 1));
  }
}

}  // namespace

std::uint32_t GetAdaptersInfo(AdapterInfo* buffer, std::uint32_t* size) {
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return kErrorNoData;
  std::unique_ptr<ifaddrs, void (*)(ifaddrs*)> owner(list, freeifaddrs);

  // One entry per interface, in index order; the list holds one AF_PACKET
  // entry per interface and one entry per address.
  std::vector<Interface> interfaces;
  for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
    if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_PACKET) continue;
    const auto* link = reinterpret_cast<const sockaddr_ll*>(entry->ifa_addr);
    interfaces.push_back({static_cast<unsigned>(link->sll_ifindex), entry->ifa_name, link, false});
  }
  const std::size_t count = interfaces.size();
  for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
    if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET) continue;
    for (std::size_t i = 0; i < count; ++i) {
      if (std::strcmp(interfaces[i].name, entry->ifa_name) == 0) interfaces[i].hasIpv4 = true;
    }
  }
  std::sort(interfaces.begin(), interfaces.end(),
            [](const Interface& a, const Interface& b) { return a.index < b.index; });

  const std::uint32_t needed = static_cast<std::uint32_t>(count * sizeof(AdapterInfo));
  std::uint32_t result = kErrorSuccess;
  if (count == 0) {
    result = kErrorNoData;
  } else if (buffer == nullptr || *size < needed) {
    *size = needed;
    result = kErrorBufferOverflow;
  } else {
    for (std::size_t i = 0; i < count; ++i) {
      AdapterInfo& record = buffer[i];
      std::memset(&record, 0, sizeof record);
      record.Next = i + 1 < count ? &buffer[i + 1] : nullptr;
      Describe(interfaces[i].name, record.Description);
      const std::size_t length =
          std::min<std::size_t>(interfaces[i].link->sll_halen, sizeof record.Address);
      record.AddressLength = static_cast<std::uint32_t>(length);
      std::memcpy(record.Address, interfaces[i].link->sll_addr, length);
      record.IpAddressList.Context = interfaces[i].hasIpv4 ? interfaces[i].index : 0;
    }
  }
  return result;
}

}  // namespace platform
