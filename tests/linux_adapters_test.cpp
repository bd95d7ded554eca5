// The Linux backend's adapter records against what sysfs and the kernel's
// ioctl interface say about this machine's interfaces.
#include <dirent.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "devicecode/adapter_selection.h"
#include "platform/platform.h"

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

}  // namespace
