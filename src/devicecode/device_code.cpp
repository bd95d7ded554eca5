// The exported functions and the digest behind them.
#include "devicecode/device_code.h"

#include <openssl/md5.h>

#include <cstdio>
#include <cstring>
#include <new>
#include <optional>

#include "devicecode.h"
#include "devicecode/adapter_selection.h"
#include "log/logger.h"
#include "platform/platform.h"

namespace devicecode {

std::array<char, kDeviceCodeLength + 1> ComputeDeviceCode(const std::string& text) {
  unsigned char digest[MD5_DIGEST_LENGTH];
  // The one-shot MD5_* calls are deprecated in OpenSSL 3 but still the
  // standard digest; keep them and silence only that warning.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  MD5_CTX context;
  MD5_Init(&context);
  MD5_Update(&context, text.data(), text.size());
  MD5_Final(digest, &context);
#pragma GCC diagnostic pop

  std::array<char, kDeviceCodeLength + 1> code{};
  for (std::size_t i = 0; i < sizeof digest; ++i) {
    char scratch[3];
    std::snprintf(scratch, sizeof scratch, "%02X", static_cast<unsigned>(digest[i]));
    std::memcpy(&code[2 * i], scratch, 2);
  }
  return code;
}

}  // namespace devicecode

extern "C" char* GetDeviceCode(void) {
  // The log is a side channel: WriteRequestLine never throws and never
  // changes what follows.
  devicecode::WriteRequestLine(devicecode::kBeginMessage);
  char* buffer = nullptr;
  try {
    // A list that cannot be read gives no code rather than the code that
    // every adapterless machine shares.
    const std::optional<std::string> text = devicecode::GetMacText();
    if (!text) return nullptr;
    const auto code = devicecode::ComputeDeviceCode(*text);

    buffer = static_cast<char*>(platform::Malloc(code.size()));
    if (buffer == nullptr) return nullptr;
    std::memset(buffer, 0, code.size());
    std::memcpy(buffer, code.data(), devicecode::kDeviceCodeLength);
  } catch (...) {
    // Only memory exhaustion can get here; the host must never see an
    // exception cross the C boundary.
    return nullptr;
  }
  devicecode::WriteRequestLine(devicecode::kEndMessage);
  return buffer;
}

extern "C" void DEVICECODE_STDCALL FreeBuffer(void* buffer) {
  if (buffer != nullptr) platform::Free(buffer);
}

#ifdef _WIN32
// The library keeps no state from its load notifications.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
#endif
