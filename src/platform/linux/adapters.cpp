// GetAdaptersInfo on Linux: the kernel's interfaces as adapter records.
//
// Records follow interface-index order and include every interface of the
// caller's own network namespace, up or down, with or without a link-layer
// address, read with two rtnetlink dumps (links, then IPv4 addresses).
// Address is the link-layer address (AddressLength 0 when there is none);
// Description contains "Virtual" exactly for software devices (see
// links.h), else names the interface and its driver; IpAddressList.Context
// is the interface index when it has an IPv4 address, else 0.
#include <dirent.h>
#include <errno.h>
#include <linux/ethtool.h>
#include <linux/if.h>
#include <linux/if_arp.h>
#include <linux/if_link.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <linux/sockios.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/linux/links.h"
#include "platform/platform.h"

namespace platform {
namespace {

// What a failed read returns: any result but success, overflow and no data
// tells the caller the list cannot be had (ERROR_GEN_FAILURE).
constexpr std::uint32_t kErrorGenFailure = 31;

// Reads the target of a sysfs link; empty when there is none.
std::string ReadLink(const std::string& path) {
  char target[512];
  const ssize_t n = readlink(path.c_str(), target, sizeof target - 1);
  if (n <= 0) return {};
  return std::string(target, static_cast<std::size_t>(n));
}

std::string BaseName(const std::string& path) { return path.substr(path.rfind('/') + 1); }

// Whether `root`/class/net lists exactly `links`, each under its index: then
// it shows the caller's own namespace.
bool SysfsShowsTheseLinks(const std::vector<Link>& links, const std::string& root) {
  const std::string net = root + "/class/net/";
  DIR* folder = opendir(net.c_str());
  if (folder == nullptr) return false;
  std::set<std::string> listed;
  while (const dirent* entry = readdir(folder)) {
    const std::string name = entry->d_name;
    // bonding_masters is the bonding driver's control file, no interface.
    if (name != "." && name != ".." && name != "bonding_masters") listed.insert(name);
  }
  closedir(folder);
  if (listed.size() != links.size()) return false;
  for (const Link& link : links) {
    std::ifstream in(net + link.name + "/ifindex");
    unsigned index = 0;
    if (!(in >> index) || index != link.index) return false;
  }
  return true;
}

// Writes `pieces` one after another into the text field `field`, cut to
// fit with its NUL; a request's dozen descriptions cost no formatter.
void WriteField(char* field, std::size_t size, std::initializer_list<std::string_view> pieces) {
  std::size_t used = 0;
  for (const std::string_view piece : pieces) {
    const std::size_t n = std::min(piece.size(), size - 1 - used);
    std::memcpy(field + used, piece.data(), n);
    used += n;
  }
  field[used] = '\0';
}

struct Judgement {
  bool hardware = false;
  std::string driver;
};

Judgement Judge(const Link& link, bool kernelNamesParents, bool sysfsIsOurs,
                const std::string& root) {
  Judgement j;
  if (!link.parentDevice.empty()) {
    j.hardware = true;
    j.driver = link.driver;
  } else if (!kernelNamesParents && sysfsIsOurs) {
    const std::string entry = root + "/class/net/" + link.name;
    j.hardware = ReadLink(entry).find("/devices/virtual/") == std::string::npos;
    if (j.hardware) j.driver = BaseName(ReadLink(entry + "/device/driver"));
  }
  return j;
}

}  // namespace

std::vector<AdapterInfo> DescribeLinks(const std::vector<Link>& links,
                                       const std::string& sysfsRoot) {
  const bool kernelNamesParents = std::any_of(
      links.begin(), links.end(), [](const Link& l) { return !l.parentDevice.empty(); });
  const bool sysfsIsOurs = !kernelNamesParents && SysfsShowsTheseLinks(links, sysfsRoot);

  std::vector<AdapterInfo> records(links.size());
  for (std::size_t i = 0; i < links.size(); ++i) {
    const Link& link = links[i];
    AdapterInfo& record = records[i];
    std::memset(&record, 0, sizeof record);
    const std::string& name = link.name;
    WriteField(record.AdapterName, sizeof record.AdapterName, {name});
    const Judgement j = Judge(link, kernelNamesParents, sysfsIsOurs, sysfsRoot);
    record.hardware = j.hardware;
    char* const description = record.Description;
    char* const detail = record.kindDetail;
    if (!j.hardware) {
      WriteField(description, sizeof record.Description, {"Virtual network interface ", name});
      const bool loopback = link.type == ARPHRD_LOOPBACK && link.kind.empty();
      WriteField(detail, sizeof record.kindDetail, {loopback ? "loopback" : link.kind});
    } else if (j.driver.empty()) {
      WriteField(description, sizeof record.Description, {"Network interface ", name});
      WriteField(detail, sizeof record.kindDetail, {link.parentBus});
    } else {
      WriteField(description, sizeof record.Description,
                 {"Network interface ", name, " (driver ", j.driver, ")"});
      WriteField(detail, sizeof record.kindDetail, {j.driver});
    }
    const std::size_t length = std::min(link.address.size(), sizeof record.Address);
    record.AddressLength = static_cast<std::uint32_t>(length);
    if (length > 0) std::memcpy(record.Address, link.address.data(), length);
    record.IpAddressList.Context = link.hasIpv4 ? link.index : 0;
  }
  return records;
}

namespace {

class NetlinkSocket {
 public:
  NetlinkSocket() : fd_(socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE)) {}
  ~NetlinkSocket() {
    if (fd_ >= 0) close(fd_);
  }
  NetlinkSocket(const NetlinkSocket&) = delete;
  NetlinkSocket& operator=(const NetlinkSocket&) = delete;
  bool IsOpen() const { return fd_ >= 0; }

  // The driver of the interface `name` in the socket's namespace, as ethtool
  // tells it; empty when it does not say.
  std::string Driver(const std::string& name) const {
    ethtool_drvinfo info{};
    info.cmd = ETHTOOL_GDRVINFO;
    ifreq request{};
    WriteField(request.ifr_name, sizeof request.ifr_name, {name});
    request.ifr_data = reinterpret_cast<char*>(&info);
    if (ioctl(fd_, SIOCETHTOOL, &request) != 0) return {};
    return std::string(info.driver, strnlen(info.driver, sizeof info.driver));
  }

  // Sends `request` (a header and its body, `header` filled in here but for
  // its type) as a dump request and hands each message of the answer to
  // `take`. False when the kernel cannot be asked or reports an error, or
  // when the dump was interrupted by a change (its messages then disagree).
  template <typename Request, typename Take>
  bool Dump(Request request, Take take) {
    request.header.nlmsg_len = sizeof request;
    request.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    request.header.nlmsg_seq = ++sequence_;
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    if (sendto(fd_, &request, sizeof request, 0, reinterpret_cast<sockaddr*>(&kernel),
               sizeof kernel) != static_cast<ssize_t>(sizeof request)) {
      return false;
    }
    for (;;) {
      // MSG_TRUNC: the datagram's whole length, so that a cut one is seen.
      const ssize_t n = recv(fd_, buffer_.get(), kBufferSize, MSG_TRUNC);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0 || static_cast<std::size_t>(n) > kBufferSize) return false;
      auto left = static_cast<unsigned>(n);
      for (auto* m = reinterpret_cast<nlmsghdr*>(buffer_.get()); NLMSG_OK(m, left);
           m = NLMSG_NEXT(m, left)) {
        if (m->nlmsg_seq != sequence_) continue;
        if ((m->nlmsg_flags & NLM_F_DUMP_INTR) != 0) return false;
        if (m->nlmsg_type == NLMSG_DONE) return true;
        if (m->nlmsg_type == NLMSG_ERROR) return false;
        take(m);
      }
    }
  }

 private:
  int fd_;
  std::uint32_t sequence_ = 0;
  // The kernel puts at most 32 KiB of a dump in one datagram.
  static constexpr std::size_t kBufferSize = 32768;
  // Not zeroed: only what recv writes is read.
  std::unique_ptr<char[]> buffer_{new char[kBufferSize]};
};

std::string AttributeText(const rtattr* a) {
  const char* data = static_cast<const char*>(RTA_DATA(a));
  return std::string(data, strnlen(data, RTA_PAYLOAD(a)));
}

Link ReadLinkMessage(const nlmsghdr* m) {
  Link link;
  const auto* info = static_cast<const ifinfomsg*>(NLMSG_DATA(m));
  link.index = static_cast<unsigned>(info->ifi_index);
  link.type = info->ifi_type;
  int left = static_cast<int>(IFLA_PAYLOAD(m));
  for (const rtattr* a = IFLA_RTA(info); RTA_OK(a, left); a = RTA_NEXT(a, left)) {
    switch (a->rta_type) {
      case IFLA_IFNAME:
        link.name = AttributeText(a);
        break;
      case IFLA_ADDRESS: {
        const auto* bytes = static_cast<const std::uint8_t*>(RTA_DATA(a));
        link.address.assign(bytes, bytes + RTA_PAYLOAD(a));
        break;
      }
      case IFLA_PARENT_DEV_NAME:
        link.parentDevice = AttributeText(a);
        break;
      case IFLA_PARENT_DEV_BUS_NAME:
        link.parentBus = AttributeText(a);
        break;
      case IFLA_LINKINFO: {
        int nestedLeft = static_cast<int>(RTA_PAYLOAD(a));
        for (const rtattr* n = static_cast<const rtattr*>(RTA_DATA(a)); RTA_OK(n, nestedLeft);
             n = RTA_NEXT(n, nestedLeft)) {
          if (n->rta_type == IFLA_INFO_KIND) link.kind = AttributeText(n);
        }
        break;
      }
      default:
        break;
    }
  }
  return link;
}

// Reads the links of the caller's network namespace in index order, with
// their IPv4 flag; false when the kernel cannot be asked.
bool ReadLinks(std::vector<Link>* links) {
  NetlinkSocket kernel;
  if (!kernel.IsOpen()) return false;
  links->clear();
  // Without their statistics, which are most of each link's message: the
  // kernel then fills and copies far less (older kernels ignore the flag).
  struct {
    nlmsghdr header;
    ifinfomsg body;
    rtattr maskHeader;
    std::uint32_t mask;
  } linkRequest{};
  linkRequest.header.nlmsg_type = RTM_GETLINK;
  linkRequest.body.ifi_family = AF_UNSPEC;
  linkRequest.maskHeader.rta_type = IFLA_EXT_MASK;
  linkRequest.maskHeader.rta_len = RTA_LENGTH(sizeof linkRequest.mask);
  linkRequest.mask = RTEXT_FILTER_SKIP_STATS;
  links->reserve(16);
  const bool linksRead = kernel.Dump(linkRequest, [links](const nlmsghdr* m) {
    if (m->nlmsg_type == RTM_NEWLINK) links->push_back(ReadLinkMessage(m));
  });
  if (!linksRead) return false;
  std::sort(links->begin(), links->end(),
            [](const Link& a, const Link& b) { return a.index < b.index; });
  // Asked of the kernel rather than read from /sys: cheaper than a sysfs
  // path walk, and in the caller's own namespace.
  for (Link& link : *links) {
    if (!link.parentDevice.empty()) link.driver = kernel.Driver(link.name);
  }
  struct {
    nlmsghdr header;
    ifaddrmsg body;
  } addressRequest{};
  addressRequest.header.nlmsg_type = RTM_GETADDR;
  addressRequest.body.ifa_family = AF_INET;
  return kernel.Dump(addressRequest, [links](const nlmsghdr* m) {
    if (m->nlmsg_type != RTM_NEWADDR) return;
    const auto index = static_cast<const ifaddrmsg*>(NLMSG_DATA(m))->ifa_index;
    const auto found = std::lower_bound(links->begin(), links->end(), index,
                                        [](const Link& l, unsigned i) { return l.index < i; });
    if (found != links->end() && found->index == index) found->hasIpv4 = true;
  });
}

// Dumps interrupted by a change are read again, a few times.
constexpr int kReadAttempts = 3;

// The records of the caller's namespace; false when they cannot be read.
bool ReadAdapters(std::vector<AdapterInfo>* records) {
  std::vector<Link> links;
  for (int attempt = 0; attempt < kReadAttempts; ++attempt) {
    if (ReadLinks(&links)) {
      *records = DescribeLinks(links, "/sys");
      return true;
    }
  }
  return false;
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
  if ((buffer == nullptr || !TakeSnapshot(&records)) && !ReadAdapters(&records)) {
    return kErrorGenFailure;
  }
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
