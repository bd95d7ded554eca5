// GetDeviceCode on the real Linux backend beside two floors: what any
// implementation must do at least. The floor: one rtnetlink dump of the
// links and one of the IPv4 addresses, and one MD5. The old floor, that of a
// getifaddrs enumeration judged from sysfs: one getifaddrs, one readlink
// per interface, one MD5.
#include <ifaddrs.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <openssl/evp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

#include "devicecode.h"
#include "ratio_reporter.h"

namespace {

void Md5(benchmark::State&) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned length = 0;
  EVP_Digest("001A2B3C4D5E", 12, digest, &length, EVP_md5(), nullptr);
  benchmark::DoNotOptimize(digest);
}

// Sends one dump request and reads its answer to the end, parsing nothing.
bool Dump(int fd, std::uint16_t type, unsigned char family, std::uint32_t sequence) {
  struct {
    nlmsghdr header;
    rtgenmsg body;
  } request{};
  request.header.nlmsg_len = sizeof request;
  request.header.nlmsg_type = type;
  request.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
  request.header.nlmsg_seq = sequence;
  request.body.rtgen_family = family;
  if (send(fd, &request, sizeof request, 0) < 0) return false;
  alignas(nlmsghdr) static char buffer[32768];
  for (;;) {
    const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) return false;
    auto left = static_cast<unsigned>(n);
    for (auto* m = reinterpret_cast<nlmsghdr*>(buffer); NLMSG_OK(m, left);
         m = NLMSG_NEXT(m, left)) {
      if (m->nlmsg_type == NLMSG_DONE) return true;
      if (m->nlmsg_type == NLMSG_ERROR) return false;
    }
  }
}

void BM_Floor(benchmark::State& state) {
  for (auto _ : state) {
    const int fd = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
    if (fd < 0 || !Dump(fd, RTM_GETLINK, AF_UNSPEC, 1) || !Dump(fd, RTM_GETADDR, AF_INET, 2)) {
      state.SkipWithError("rtnetlink dump failed");
    }
    close(fd);
    Md5(state);
  }
}
BENCHMARK(BM_Floor)->UseRealTime();

void BM_OldFloor(benchmark::State& state) {
  for (auto _ : state) {
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) state.SkipWithError("getifaddrs failed");
    char target[512];
    for (const ifaddrs* e = list; e != nullptr; e = e->ifa_next) {
      if (e->ifa_addr == nullptr || e->ifa_addr->sa_family != AF_PACKET) continue;
      const std::string path = std::string("/sys/class/net/") + e->ifa_name;
      benchmark::DoNotOptimize(readlink(path.c_str(), target, sizeof target));
    }
    freeifaddrs(list);
    Md5(state);
  }
}
BENCHMARK(BM_OldFloor)->UseRealTime();

void BM_GetDeviceCode(benchmark::State& state) {
  for (auto _ : state) {
    char* code = GetDeviceCode();
    benchmark::DoNotOptimize(code);
    FreeBuffer(code);
  }
  state.SetLabel("baseline:BM_Floor/real_time,BM_OldFloor/real_time");
}
BENCHMARK(BM_GetDeviceCode)->UseRealTime();

// Throughput on two threads: time per call across both, against one thread.
void BM_GetDeviceCodeThreads(benchmark::State& state) {
  for (auto _ : state) {
    char* code = GetDeviceCode();
    benchmark::DoNotOptimize(code);
    FreeBuffer(code);
  }
  if (state.threads() > 1) state.SetLabel("baseline:BM_GetDeviceCodeThreads/real_time/threads:1");
}
BENCHMARK(BM_GetDeviceCodeThreads)->UseRealTime()->Threads(1)->Threads(2);

}  // namespace

DEVICECODE_BENCHMARK_MAIN()
