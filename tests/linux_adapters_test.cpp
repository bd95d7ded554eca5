// The Linux backend's adapter records against what sysfs and the kernel's
// ioctl interface say about this machine's interfaces, and its judgement of
// each link against the answers of other kernels and other sysfs trees.
#include <dirent.h>
#include <net/if.h>
#include <net/if_arp.h>
#include <netinet/in.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "devicecode/adapter_selection.h"
#include "platform/linux/links.h"
#include "platform/platform.h"
#include "test_files.h"

namespace {

struct SysfsInterface {
  int index;
  std::string name;
  std::string address;  // as sysfs writes it: lower-case hex, colons
  bool isVirtual;
  bool hasIpv4;
};

std::string ReadFirstLine(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  return line;
}

bool HasIpv4(const std::string& name) {
  const int fd = socket(AF_INET, SOCK_DGRAM, 0);
  if (fd < 0) return false;
  ifreq request{};
  std::strncpy(request.ifr_name, name.c_str(), IFNAMSIZ - 1);
  request.ifr_addr.sa_family = AF_INET;
  const bool found = ioctl(fd, SIOCGIFADDR, &request) == 0;
  close(fd);
  return found;
}

std::vector<SysfsInterface> ReadSysfs() {
  std::vector<SysfsInterface> result;
  DIR* dir = opendir("/sys/class/net");
  if (dir == nullptr) return result;
  while (dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name == "." || name == ".." || name == "bonding_masters") continue;
    const std::string base = "/sys/class/net/" + name;
    char target[512] = {};
    const ssize_t n = readlink(base.c_str(), target, sizeof target - 1);
    const bool isVirtual = n > 0 && std::strstr(target, "/devices/virtual/") != nullptr;
    result.push_back({std::stoi(ReadFirstLine(base + "/ifindex")), name,
                      ReadFirstLine(base + "/address"), isVirtual, HasIpv4(name)});
  }
  closedir(dir);
  std::sort(result.begin(), result.end(),
            [](const auto& a, const auto& b) { return a.index < b.index; });
  return result;
}

// "00:1a:2b" -> "001A2B"
std::string SysfsAddressText(const std::string& address) {
  std::string text;
  for (char c : address) {
    if (c != ':') text += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  return text;
}

TEST(LinuxAdaptersTest, RecordsMatchSysfs) {
  const auto expected = ReadSysfs();
  ASSERT_FALSE(expected.empty()) << "no /sys/class/net entries";

  std::uint32_t size = 0;
  ASSERT_EQ(platform::GetAdaptersInfo(nullptr, &size), platform::kErrorBufferOverflow);
  std::vector<unsigned char> storage(size);
  auto* first = reinterpret_cast<platform::AdapterInfo*>(storage.data());
  ASSERT_EQ(platform::GetAdaptersInfo(first, &size), platform::kErrorSuccess);

  std::size_t i = 0;
  for (const platform::AdapterInfo* a = first; a != nullptr; a = a->Next, ++i) {
    ASSERT_LT(i, expected.size());
    const SysfsInterface& e = expected[i];
    SCOPED_TRACE(e.name);
    const std::string description = a->Description;
    EXPECT_NE(description.find(e.name), std::string::npos) << description;
    EXPECT_EQ(description.find("Virtual") != std::string::npos, e.isVirtual) << description;
    bool usable = false;
    EXPECT_EQ(devicecode::WriteAddressText(*a, &usable), SysfsAddressText(e.address));
    EXPECT_EQ(a->IpAddressList.Context != 0, e.hasIpv4);
  }
  EXPECT_EQ(i, expected.size());
}

TEST(LinuxAdaptersTest, SmallBufferAsksForTheSize) {
  std::uint32_t size = 0;
  ASSERT_EQ(platform::GetAdaptersInfo(nullptr, &size), platform::kErrorBufferOverflow);
  std::uint32_t tooSmall = size - 1;
  std::vector<unsigned char> storage(size);
  EXPECT_EQ(platform::GetAdaptersInfo(reinterpret_cast<platform::AdapterInfo*>(storage.data()),
                                      &tooSmall),
            platform::kErrorBufferOverflow);
  EXPECT_EQ(tooSmall, size);
}

namespace fs = std::filesystem;

// A sysfs tree in a private folder: class/net entries with their ifindex,
// pointing into devices/virtual/ or at a PCI device with a driver.
class DescribeLinksTest : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/describe_links.XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root_ = pattern;
    fs::create_directories(root_ / "bus/pci/drivers/e1000e");
    fs::create_directories(root_ / "devices/pci0000:00/0000:00:19.0");
    fs::create_directories(root_ / "bus/pci/devices");
    fs::create_directory_symlink("../../../devices/pci0000:00/0000:00:19.0",
                                 root_ / "bus/pci/devices/0000:00:19.0");
    fs::create_directory_symlink("../../../bus/pci/drivers/e1000e",
                                 root_ / "devices/pci0000:00/0000:00:19.0/driver");
    fs::create_directories(root_ / "class/net");
  }
  void TearDown() override { fs::remove_all(root_); }

  // A class/net entry; `device` empty: a software device.
  void AddEntry(const std::string& name, unsigned index, const std::string& device) {
    const fs::path target = device.empty() ? root_ / "devices/virtual/net" / name
                                           : root_ / "devices" / device / "net" / name;
    fs::create_directories(target);
    testing_support::WriteAll(target / "ifindex", std::to_string(index) + "\n");
    if (!device.empty()) {
      fs::create_directory_symlink(root_ / "devices" / device, target / "device");
    }
    fs::create_directory_symlink(fs::relative(target, root_ / "class/net"),
                                 root_ / "class/net" / name);
  }

  fs::path root_;
};

platform::Link MakeLink(unsigned index, const std::string& name, std::vector<std::uint8_t> address,
                        const std::string& kind = "") {
  platform::Link link;
  link.index = index;
  link.type = ARPHRD_ETHER;
  link.name = name;
  link.address = std::move(address);
  link.kind = kind;
  return link;
}

const std::vector<std::uint8_t> kNicAddress = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E};
const std::vector<std::uint8_t> kVethAddress = {0x02, 0x11, 0x22, 0x33, 0x44, 0x55};

// lo, a NIC and a veth; a tun device without a link-layer address.
std::vector<platform::Link> TypicalLinks(bool kernelNamesParents) {
  platform::Link lo = MakeLink(1, "lo", {0, 0, 0, 0, 0, 0});
  lo.type = ARPHRD_LOOPBACK;
  lo.hasIpv4 = true;
  platform::Link nic = MakeLink(2, "eth0", kNicAddress);
  if (kernelNamesParents) {
    nic.parentBus = "pci";
    nic.parentDevice = "0000:00:19.0";
    nic.driver = "e1000e";
  }
  platform::Link tun = MakeLink(4, "tun0", {}, "tun");
  tun.type = ARPHRD_NONE;
  tun.hasIpv4 = true;
  return {lo, nic, MakeLink(3, "veth0", kVethAddress, "veth"), tun};
}

struct Expected {
  const char* description;
  bool hardware;
  const char* detail;
};

void ExpectRecords(const std::vector<platform::AdapterInfo>& records,
                   const std::vector<Expected>& expected) {
  ASSERT_EQ(records.size(), expected.size());
  for (std::size_t i = 0; i < records.size(); ++i) {
    SCOPED_TRACE(expected[i].description);
    EXPECT_STREQ(records[i].Description, expected[i].description);
    EXPECT_EQ(records[i].hardware, expected[i].hardware);
    EXPECT_STREQ(records[i].kindDetail, expected[i].detail);
  }
}

TEST_F(DescribeLinksTest, ParentDeviceMakesHardware) {
  // The sysfs tree is empty: the kernel's own answer decides.
  ExpectRecords(platform::DescribeLinks(TypicalLinks(true), root_.string()),
                {{"Virtual network interface lo", false, "loopback"},
                 {"Network interface eth0 (driver e1000e)", true, "e1000e"},
                 {"Virtual network interface veth0", false, "veth"},
                 {"Virtual network interface tun0", false, "tun"}});
}

TEST_F(DescribeLinksTest, ParentWithoutDriverNamesTheBus) {
  platform::Link nic = TypicalLinks(true)[1];
  nic.driver.clear();
  ExpectRecords(platform::DescribeLinks({nic}, root_.string()),
                {{"Network interface eth0", true, "pci"}});
}

TEST_F(DescribeLinksTest, LinkWithoutAddressIsListedWithLengthZero) {
  const auto records = platform::DescribeLinks(TypicalLinks(true), root_.string());
  ASSERT_EQ(records.size(), 4u);
  EXPECT_EQ(records[3].AddressLength, 0u);
  EXPECT_EQ(records[3].IpAddressList.Context, 4u);
  EXPECT_EQ(records[1].AddressLength, 6u);
  EXPECT_EQ(records[1].IpAddressList.Context, 0u);
}

// A kernel before 5.14 names no parent: sysfs judges, but only a tree that
// lists exactly the caller's links under their indexes.
TEST_F(DescribeLinksTest, WithoutParentsSysfsJudgesOnlyWhenItIsOurs) {
  const std::vector<Expected> bySysfs = {{"Virtual network interface lo", false, "loopback"},
                                         {"Network interface eth0 (driver e1000e)", true, "e1000e"},
                                         {"Virtual network interface veth0", false, "veth"},
                                         {"Virtual network interface tun0", false, "tun"}};
  const std::vector<Expected> allSoftware = {{"Virtual network interface lo", false, "loopback"},
                                             {"Virtual network interface eth0", false, ""},
                                             {"Virtual network interface veth0", false, "veth"},
                                             {"Virtual network interface tun0", false, "tun"}};
  AddEntry("lo", 1, "");
  AddEntry("eth0", 2, "pci0000:00/0000:00:19.0");
  AddEntry("veth0", 3, "");
  {
    SCOPED_TRACE("a link missing from the tree");
    ExpectRecords(platform::DescribeLinks(TypicalLinks(false), root_.string()), allSoftware);
  }
  AddEntry("tun0", 4, "");
  {
    SCOPED_TRACE("the caller's tree");
    ExpectRecords(platform::DescribeLinks(TypicalLinks(false), root_.string()), bySysfs);
  }
  {
    SCOPED_TRACE("another namespace: same names, another index");
    auto links = TypicalLinks(false);
    links[2].index = 7;
    links[2].kind.clear();
    ExpectRecords(platform::DescribeLinks(links, root_.string()),
                  {allSoftware[0],
                   allSoftware[1],
                   {"Virtual network interface veth0", false, ""},
                   allSoftware[3]});
  }
  AddEntry("eth1", 5, "pci0000:00/0000:00:19.0");
  {
    SCOPED_TRACE("another namespace: one more interface in the tree");
    ExpectRecords(platform::DescribeLinks(TypicalLinks(false), root_.string()), allSoftware);
  }
  fs::remove_all(root_);
  {
    SCOPED_TRACE("no sysfs");
    ExpectRecords(platform::DescribeLinks(TypicalLinks(false), root_.string()), allSoftware);
  }
}

}  // namespace
