// GetDeviceCode on the real Linux backend beside its floor: what any
// implementation must do at least (list the interfaces, look at each one's
// sysfs entry once, digest one address).
#include <ifaddrs.h>
#include <openssl/evp.h>
#include <unistd.h>

#include <string>

#include "devicecode.h"
#include "ratio_reporter.h"

namespace {

void BM_Floor(benchmark::State& state) {
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
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned length = 0;
    EVP_Digest("001A2B3C4D5E", 12, digest, &length, EVP_md5(), nullptr);
    benchmark::DoNotOptimize(digest);
  }
}
BENCHMARK(BM_Floor)->UseRealTime();

void BM_GetDeviceCode(benchmark::State& state) {
  for (auto _ : state) {
    char* code = GetDeviceCode();
    benchmark::DoNotOptimize(code);
    FreeBuffer(code);
  }
  state.SetLabel("baseline:BM_Floor/real_time");
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
