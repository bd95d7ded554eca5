// A stand-in for the plug-in at the level of the C++ runtime: the same exports
// and entry point, and the runtime parts the plug-in and log4cpp use (a
// thrown and caught exception, <iostream>, string streams and their locale,
// a thread-safe function-local static, a std::mutex in static storage) or
// may come to use (std::call_once, a thread_local), so that the reload test
// guards the runtime clean-up where OpenSSL and log4cpp are not found. The
// code is the digest of the empty text, as in the export stub.
#include <cstring>
#include <iostream>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <string>

#include "devicecode.h"
#include "devicecode/adapter_selection.h"
#include "platform/platform.h"

namespace {

struct ProbeState {
  std::mutex lock;
  std::string lastText;
  std::once_flag once;
};

thread_local int callsOnThisThread = 0;

ProbeState& TheState() {
  static ProbeState state;
  return state;
}

}  // namespace

extern "C" char* GetDeviceCode(void) {
  ProbeState& state = TheState();
  std::call_once(state.once, [] { ++callsOnThisThread; });
  ++callsOnThisThread;
  std::lock_guard<std::mutex> hold(state.lock);
  std::ostringstream code;
  try {
    const std::string text = devicecode::GetMacText().value_or("");
    throw std::runtime_error(text);
  } catch (const std::runtime_error& error) {
    state.lastText = error.what();
    code << "D41D8CD98F00B204E9800998ECF8427E";
  }
  const std::string text = code.str();
  char* buffer = static_cast<char*>(platform::Malloc(text.size() + 1));
  if (buffer != nullptr) std::memcpy(buffer, text.c_str(), text.size() + 1);
  return buffer;
}

extern "C" void DEVICECODE_STDCALL FreeBuffer(void* buffer) {
  if (buffer != nullptr) platform::Free(buffer);
}

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
