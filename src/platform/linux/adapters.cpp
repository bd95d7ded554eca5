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
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/platform.h"

namespace platform {
namespace {

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

void Describe(const char* name, AdapterInfo* record) {
  std::snprintf(record->AdapterName, sizeof record->AdapterName, "%s", name);
  const std::string sysfs = std::string("/sys/class/net/") + name;
  const std::string device = ReadLink(sysfs);
  if (device.find("/devices/virtual/") != std::string::npos) {
    std::snprintf(record->Description, sizeof record->Description, "Virtual network interface %s",
                  name);
    return;
  }
  record->hardware = true;
  const std::string driver = ReadLink(sysfs + "/device/driver");
  const std::size_t slash = driver.rfind('/');
  if (driver.empty()) {
    std::snprintf(record->Description, sizeof record->Description, "Network interface %s", name);
  } else {
    const char* base = driver.c_str() + (slash == std::string::npos ? 0 : slash + 1);
    std::snprintf(record->kindDetail, sizeof record->kindDetail, "%s", base);
    std::snprintf(record->Description, sizeof record->Description,
                  "Network interface %s (driver %s)", name, base);
  }
}

// Whether an IPv4 entry's name belongs to `interface`: getifaddrs names such
// entries by the address's label, which is the interface's name or, for an
// alias address, that name followed by ":" and the alias ("eth0:1").
bool NamesInterface(const char* entryName, const char* interface) {
  const std::size_t length = std::strlen(interface);
  return std::strncmp(entryName, interface, length) == 0 &&
         (entryName[length] == '\0' || entryName[length] == ':');
}

// Reads the kernel's interfaces as records in index order (Next unset); empty
// when there are none or the kernel cannot be asked.
std::vector<AdapterInfo> ReadAdapters() {
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return {};
  std::unique_ptr<ifaddrs, void (*)(ifaddrs*)> owner(list, freeifaddrs);

  // The list holds one AF_PACKET entry per interface and one entry per address.
  std::vector<Interface> interfaces;
  for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
    if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_PACKET) continue;
    const auto* link = reinterpret_cast<const sockaddr_ll*>(entry->ifa_addr);
    interfaces.push_back({static_cast<unsigned>(link->sll_ifindex), entry->ifa_name, link, false});
  }
  for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
    if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET) continue;
    for (Interface& i : interfaces) {
      if (NamesInterface(entry->ifa_name, i.name)) i.hasIpv4 = true;
    }
  }
  std::sort(interfaces.begin(), interfaces.end(),
            [](const Interface& a, const Interface& b) { return a.index < b.index; });

  std::vector<AdapterInfo> records(interfaces.size());
  for (std::size_t i = 0; i < interfaces.size(); ++i) {
    AdapterInfo& record = records[i];
    std::memset(&record, 0, sizeof record);
    Describe(interfaces[i].name, &record);
    const std::size_t length =
        std::min<std::size_t>(interfaces[i].link->sll_halen, sizeof record.Address);
    record.AddressLength = static_cast<std::uint32_t>(length);
    std::memcpy(record.Address, interfaces[i].link->sll_addr, length);
    record.IpAddressList.Context = interfaces[i].hasIpv4 ? interfaces[i].index : 0;
  }
  return records;
}

// The list read for a size query, kept for the same thread's following call.
// Asking the kernel once per query-and-fill pair instead of twice halves the
// cost of a request, which the kernel's interface dump dominates; a
// snapshot taken microseconds earlier is as current as a fresh one.
struct Snapshot {
  std::thread::id thread;
  std::vector<AdapterInfo> records;
};
constexpr std::size_t kMaxSnapshots = 16;
std::mutex snapshotLock;
std::deque<Snapshot> snapshots;

void KeepSnapshot(std::vector<AdapterInfo> records) {
  const std::thread::id self = std::this_thread::get_id();
  std::lock_guard<std::mutex> hold(snapshotLock);
  for (Snapshot& s : snapshots) {
    if (s.thread == self) {
      s.records = std::move(records);
      return;
    }
  }
  // A thread that never made its second call leaves a slot behind; the
  // oldest goes first.
  if (snapshots.size() == kMaxSnapshots) snapshots.pop_front();
  snapshots.push_back({self, std::move(records)});
}

bool TakeSnapshot(std::vector<AdapterInfo>* records) {
  const std::thread::id self = std::this_thread::get_id();
  std::lock_guard<std::mutex> hold(snapshotLock);
  for (auto it = snapshots.begin(); it != snapshots.end(); ++it) {
    if (it->thread == self) {
      *records = std::move(it->records);
      snapshots.erase(it);
      return true;
    }
  }
  return false;
}

}  // namespace

std::uint32_t GetAdaptersInfo(AdapterInfo* buffer, std::uint32_t* size) {
  std::vector<AdapterInfo> records;
  if (buffer == nullptr || !TakeSnapshot(&records)) records = ReadAdapters();
  if (records.empty()) return kErrorNoData;

  const auto needed = static_cast<std::uint32_t>(records.size() * sizeof(AdapterInfo));
  if (buffer == nullptr || *size < needed) {
    *size = needed;
    if (buffer == nullptr) KeepSnapshot(std::move(records));
    return kErrorBufferOverflow;
  }
  for (std::size_t i = 0; i < records.size(); ++i) {
    buffer[i] = records[i];
    buffer[i].Next = i + 1 < records.size() ? &buffer[i + 1] : nullptr;
  }
  return kErrorSuccess;
}

AdapterIdentity DescribeAdapter(const AdapterInfo& adapter) {
  AdapterIdentity identity;
  identity.interfaceName.assign(adapter.AdapterName,
                                strnlen(adapter.AdapterName, sizeof adapter.AdapterName));
  identity.kind =
      adapter.hardware ? AdapterIdentity::Kind::kHardware : AdapterIdentity::Kind::kSoftware;
  identity.detail.assign(adapter.kindDetail,
                         strnlen(adapter.kindDetail, sizeof adapter.kindDetail));
  return identity;
}

}  // namespace platform
