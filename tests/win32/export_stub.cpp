// A stand-in for the plug-in, built from the same header and module
// definition, so that the exports are checked where OpenSSL is missing: a
// fixed code (the digest of the empty text) takes the place of the MD5.
#include <cstring>

#include "devicecode.h"
#include "platform/platform.h"

extern "C" char* GetDeviceCode(void) {
  static const char kCode[] = "D41D8CD98F00B204E9800998ECF8427E";
  char* buffer = static_cast<char*>(platform::Malloc(sizeof kCode));
  if (buffer != nullptr) std::memcpy(buffer, kCode, sizeof kCode);
  return buffer;
}

extern "C" void DEVICECODE_STDCALL FreeBuffer(void* buffer) {
  if (buffer != nullptr) platform::Free(buffer);
}

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
