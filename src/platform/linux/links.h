// The Linux backend's adapter records from what rtnetlink says about the
// caller's own network namespace, apart from the reading, so that the
// judgement of each link can be tried on any kernel's answers.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace platform {

// One link of an RTM_GETLINK dump, with what the RTM_GETADDR dump adds.
struct Link {
  unsigned index = 0;
  unsigned short type = 0;            // ifi_type (ARPHRD_*)
  std::string name;                   // IFLA_IFNAME
  std::vector<std::uint8_t> address;  // IFLA_ADDRESS; empty for tun, wireguard, ...
  std::string parentBus;              // IFLA_PARENT_DEV_BUS_NAME (kernel 5.14+)
  std::string parentDevice;           // IFLA_PARENT_DEV_NAME (kernel 5.14+)
  std::string kind;                   // IFLA_INFO_KIND: veth, bridge, tun, ...
  std::string driver;                 // for a link with a parent: its driver, as ethtool says
  bool hasIpv4 = false;
};

// The records for `links` (Next unset), in the order given. A link with a
// parent device is hardware, described with its driver; no other is when the
// kernel names parents (some link has one). Where no link has one (a kernel before 5.14, or
// software links only) the sysfs tree under `sysfsRoot` ("/sys") judges, but
// only when its class/net folder lists exactly these links under these
// indexes: a /sys mounted for another network namespace shows that
// namespace's interfaces, and then every link counts as a software device.
std::vector<AdapterInfo> DescribeLinks(const std::vector<Link>& links,
                                       const std::string& sysfsRoot);

}  // namespace platform
