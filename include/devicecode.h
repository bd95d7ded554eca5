/* devicecode: the machine's device code, for hosts that load this plug-in.
 *
 * The device code is the upper-case hexadecimal MD5 digest of the hardware
 * address of one network adapter, chosen by the library. */
#ifndef DEVICECODE_H
#define DEVICECODE_H

#if defined(_WIN32) && !defined(_WIN64)
#define DEVICECODE_STDCALL __stdcall
#else
#define DEVICECODE_STDCALL
#endif

#if defined(DEVICECODE_BUILDING) && !defined(_WIN32)
#define DEVICECODE_API __attribute__((visibility("default")))
#else
#define DEVICECODE_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Computes the device code afresh: 32 upper-case hexadecimal characters and a
 * NUL, in a new 33-byte buffer from the library's own heap. Give the buffer
 * back with FreeBuffer, never with another release function.
 *
 * Returns NULL when the network adapter list cannot be read (a failed system
 * call, for instance with no file descriptor left, or a list that kept
 * changing while it was read) and when memory is exhausted: a failure is
 * never reported as a code. A machine that has no adapters, or none that
 * qualifies, still gets a code: the digest of the empty text,
 * D41D8CD98F00B204E9800998ECF8427E. Safe to call from several threads. */
DEVICECODE_API char* GetDeviceCode(void);

/* Releases a buffer returned by GetDeviceCode; ignores NULL. */
DEVICECODE_API void DEVICECODE_STDCALL FreeBuffer(void* buffer);

/* For hosts that look the functions up at run time. */
typedef char* (*GetDeviceCodeFunction)(void);
typedef void(DEVICECODE_STDCALL* FreeBufferFunction)(void* buffer);

#ifdef __cplusplus
}
#endif

#endif /* DEVICECODE_H */
