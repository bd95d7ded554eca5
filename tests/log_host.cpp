// A minimal host for the plug-in: loads LIBRARY, asks for one device code,
// unloads it, CYCLES times over. Prints the open descriptors before and after
// and whether the library is still mapped, for the library tests to check.
//
// The host uses log4cpp itself, with an appender of its own on the root
// category: log4cpp then outlives every load of the plug-in, and any plug-in
// line that reached the root would show on standard output as "host-root".
#include <dirent.h>
#include <dlfcn.h>
#include <log4cpp/BasicLayout.hh>
#include <log4cpp/Category.hh>
#include <log4cpp/OstreamAppender.hh>

#include <iostream>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "devicecode.h"

namespace {

int CountDescriptors() {
  int count = 0;
  DIR* dir = opendir("/proc/self/fd");
  if (dir == nullptr) return -1;
  while (readdir(dir) != nullptr) ++count;
  closedir(dir);
  return count;
}

bool IsMapped(const std::string& path) {
  std::ifstream maps("/proc/self/maps");
  for (std::string line; std::getline(maps, line);) {
    if (line.find(path) != std::string::npos) return true;
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  const std::string library = argv[1];
  const int cycles = argc > 2 ? std::atoi(argv[2]) : 1;
  auto* rootAppender = new log4cpp::OstreamAppender("host", &std::cout);
  rootAppender->setLayout(new log4cpp::BasicLayout());
  log4cpp::Category::getRoot().addAppender(rootAppender);
  log4cpp::Category::getRoot().setPriority(log4cpp::Priority::DEBUG);
  log4cpp::Category::getInstance("host-root").debug("host starts");
  const int before = CountDescriptors();
  for (int i = 0; i < cycles; ++i) {
    void* handle = dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
      std::fprintf(stderr, "%s\n", dlerror());
      return 1;
    }
    auto getDeviceCode = reinterpret_cast<GetDeviceCodeFunction>(dlsym(handle, "GetDeviceCode"));
    auto freeBuffer = reinterpret_cast<FreeBufferFunction>(dlsym(handle, "FreeBuffer"));
    char* code = getDeviceCode();
    std::printf("code %s\n", code != nullptr ? code : "(null)");
    freeBuffer(code);
    dlclose(handle);
  }
  std::printf("descriptors %d %d\n", before, CountDescriptors());
  std::printf("mapped %s\n", IsMapped(library) ? "yes" : "no");
  return 0;
}
