// Builds adapter chains for the selection tests.
#pragma once

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace testing_support {

struct Adapter {
  std::string description;
  std::vector<unsigned char> address;
  std::uint32_t context = 0;
};

inline platform::AdapterInfo MakeRecord(const Adapter& a) {
  platform::AdapterInfo r;
  std::memset(&r, 0, sizeof r);
  std::memcpy(r.Description, a.description.data(),
              std::min(a.description.size(), sizeof r.Description));
  r.AddressLength = static_cast<std::uint32_t>(a.address.size());
  if (!a.address.empty()) {
    std::memcpy(r.Address, a.address.data(), std::min(a.address.size(), sizeof r.Address));
  }
  r.IpAddressList.Context = a.context;
  return r;
}

// Records linked through Next in vector order.
inline std::vector<platform::AdapterInfo> MakeChain(const std::vector<Adapter>& adapters) {
  std::vector<platform::AdapterInfo> chain;
  for (const Adapter& a : adapters) chain.push_back(MakeRecord(a));
  for (std::size_t i = 0; i + 1 < chain.size(); ++i) chain[i].Next = &chain[i + 1];
  return chain;
}

}  // namespace testing_support
