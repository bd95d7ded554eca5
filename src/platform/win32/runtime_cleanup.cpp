// Linked into the DLL only: makes FreeLibrary leave nothing of the statically
// linked GCC runtime behind, so that a host loading and unloading the plug-in
// on demand does not grow by handles, TLS slots and memory with every cycle.
//
// The runtime was written for programs, where the process's end reclaims
// everything: with libgcc, libstdc++ and winpthreads linked into a DLL, each
// load makes a new copy of their process-wide state, and an unload forgets
// it. This file replaces or tidies exactly the pieces that leak, each for the
// reason given beside it. It leans on the runtime's internals (GCC 12,
// mingw-w64 winpthreads), so the reload test under Wine is what tells whether
// a newer toolchain still needs all of it, or more.
#include <windows.h>

#include <cxxabi.h>
#include <pthread.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iterator>

namespace __gnu_cxx {
// libstdc++'s own clean-up hook (the one valgrind calls): frees the emergency
// exception buffer it allocates at load.
void __freeres() noexcept;
}  // namespace __gnu_cxx

extern "C" {
// The linker's name for the DLL's own load address (its headers).
extern const char __ImageBase[];
int __real_pthread_mutex_lock(pthread_mutex_t* mutex);
int __real_pthread_mutex_destroy(pthread_mutex_t* mutex);
}

namespace {

// --- Thread-local variables ---------------------------------------------------
// This toolchain emulates thread_local (libstdc++'s exception state,
// std::call_once, the DLL's own): the compiler turns each access into a call
// of __emutls_get_address. libgcc's version keeps the values on a winpthreads
// key, which makes a record of every calling thread (a TLS slot, a duplicated
// thread handle, an event, two semaphores), and frees a thread's values only
// when that thread ends while the DLL is still loaded. Defining the function
// here keeps that code out of the DLL: the values hang off a Win32 TLS slot,
// and a thread's values are freed when it ends or when the DLL is unloaded,
// whichever comes first.

// What the compiler emits for each thread_local variable (libgcc's layout).
struct EmulatedVariable {
  std::uintptr_t size;
  std::uintptr_t align;
  std::uintptr_t index;      // 1-based, given at first use; 0 until then
  const void* initialValue;  // null: all zero
};

// One thread's values, by variable index; listed, so that an unload also
// frees those of threads still alive.
struct ThreadValues {
  ThreadValues* next;
  ThreadValues* previous;
  std::uintptr_t count;
  void** values;  // each from malloc, the block's own start stored just before it
};

INIT_ONCE valuesSlotOnce = INIT_ONCE_STATIC_INIT;
DWORD valuesSlot = TLS_OUT_OF_INDEXES;
SRWLOCK valuesLock = SRWLOCK_INIT;  // the list and the variable indexes
ThreadValues* allValues = nullptr;
std::uintptr_t variableCount = 0;

BOOL CALLBACK AllocateValuesSlot(INIT_ONCE*, void*, void**) {
  valuesSlot = ::TlsAlloc();
  return TRUE;
}

std::uintptr_t IndexOf(EmulatedVariable* variable) {
  std::uintptr_t index = __atomic_load_n(&variable->index, __ATOMIC_ACQUIRE);
  if (index != 0) return index;
  ::AcquireSRWLockExclusive(&valuesLock);
  index = variable->index;
  if (index == 0) {
    index = ++variableCount;
    __atomic_store_n(&variable->index, index, __ATOMIC_RELEASE);
  }
  ::ReleaseSRWLockExclusive(&valuesLock);
  return index;
}

// A new value, aligned as asked, holding the variable's initial value.
void* NewValue(const EmulatedVariable& variable) {
  const std::uintptr_t align = variable.align > sizeof(void*) ? variable.align : sizeof(void*);
  auto* block = static_cast<char*>(std::malloc(variable.size + sizeof(void*) + align - 1));
  if (block == nullptr) std::abort();  // as libgcc's version does
  const std::uintptr_t start = reinterpret_cast<std::uintptr_t>(block) + sizeof(void*);
  void** value = reinterpret_cast<void**>((start + align - 1) & ~(align - 1));
  value[-1] = block;
  if (variable.initialValue != nullptr) {
    std::memcpy(value, variable.initialValue, variable.size);
  } else {
    std::memset(value, 0, variable.size);
  }
  return value;
}

void FreeValues(ThreadValues* values) {
  ::AcquireSRWLockExclusive(&valuesLock);
  if (values->previous != nullptr) values->previous->next = values->next;
  if (values->next != nullptr) values->next->previous = values->previous;
  if (allValues == values) allValues = values->next;
  ::ReleaseSRWLockExclusive(&valuesLock);
  for (std::uintptr_t i = 0; i < values->count; ++i) {
    if (values->values[i] != nullptr) std::free(static_cast<void**>(values->values[i])[-1]);
  }
  std::free(values->values);
  std::free(values);
}

// Called as a thread ends, after the CRT has run its thread_local destructors.
void FreeThisThreadsValues() {
  if (valuesSlot == TLS_OUT_OF_INDEXES) return;
  auto* values = static_cast<ThreadValues*>(::TlsGetValue(valuesSlot));
  if (values == nullptr) return;
  ::TlsSetValue(valuesSlot, nullptr);
  FreeValues(values);
}

void FreeAllValues() {
  if (valuesSlot == TLS_OUT_OF_INDEXES) return;
  while (allValues != nullptr) FreeValues(allValues);
  ::TlsFree(valuesSlot);
  valuesSlot = TLS_OUT_OF_INDEXES;
}

// --- pthread_once ------------------------------------------------------------
// The runtime initialises its static mutexes and the locale through
// pthread_once. winpthreads' version makes a record of the calling thread
// (measured: a TLS slot, a duplicated thread handle, an event and two
// semaphores per load) that it frees only when that thread ends while the DLL
// is still loaded. Windows' own one-time initialisation needs no record: the
// link routes the runtime's calls here (--wrap=pthread_once). Both types are
// one zero-initialised word.
static_assert(sizeof(pthread_once_t) == sizeof(INIT_ONCE), "pthread_once_t holds an INIT_ONCE");

BOOL CALLBACK RunOnce(INIT_ONCE*, void* function, void**) {
  reinterpret_cast<void (*)()>(function)();
  return TRUE;
}

// --- Thread-safe function-local statics --------------------------------------
// libstdc++ makes a thread that finds another one initialising the same
// static wait on a winpthreads condition variable: that makes semaphores, and
// a TLS slot and a record of the waiting thread, that an unload never gives
// back. Defining the three guard functions here keeps that code out of the
// DLL; waiters sleep on a Windows lock and condition variable, which need no
// clean-up. The guard's first byte says "done", as the C++ ABI asks (the
// compiler's inline check reads it); the second says "in progress".
SRWLOCK guardLock = SRWLOCK_INIT;
CONDITION_VARIABLE guardChanged = CONDITION_VARIABLE_INIT;

unsigned char* GuardBytes(__cxxabiv1::__guard* guard) {
  return reinterpret_cast<unsigned char*>(guard);
}

// --- Statically initialised mutexes ------------------------------------------
// winpthreads gives a statically initialised mutex its state (a heap block)
// at the first lock, and only pthread_mutex_destroy frees it; std::mutex and
// libgcc's lock on its list of frames never call it, since a program's
// static mutexes last as long as the process. The link routes locks and
// destroys here (--wrap): a mutex in the DLL's own image is noted at its first
// lock, and those not destroyed by then are destroyed at unload.
bool InThisImage(const void* address) {
  const auto* base = reinterpret_cast<const unsigned char*>(__ImageBase);
  const auto* headers = reinterpret_cast<const IMAGE_NT_HEADERS*>(
      base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
  const auto* at = static_cast<const unsigned char*>(address);
  return at >= base && at < base + headers->OptionalHeader.SizeOfImage;
}

// A handful in practice; one that does not fit is left as it was.
pthread_mutex_t* imageMutexes[32];
int imageMutexCount = 0;
SRWLOCK imageMutexesLock = SRWLOCK_INIT;

int FindImageMutex(pthread_mutex_t* mutex) {
  for (int i = 0; i < imageMutexCount; ++i) {
    if (imageMutexes[i] == mutex) return i;
  }
  return -1;
}

void NoteImageMutex(pthread_mutex_t* mutex) {
  ::AcquireSRWLockShared(&imageMutexesLock);
  const bool noted = FindImageMutex(mutex) >= 0;
  ::ReleaseSRWLockShared(&imageMutexesLock);
  if (noted) return;
  ::AcquireSRWLockExclusive(&imageMutexesLock);
  if (FindImageMutex(mutex) < 0 && imageMutexCount < static_cast<int>(std::size(imageMutexes))) {
    imageMutexes[imageMutexCount++] = mutex;
  }
  ::ReleaseSRWLockExclusive(&imageMutexesLock);
}

void ForgetImageMutex(pthread_mutex_t* mutex) {
  ::AcquireSRWLockExclusive(&imageMutexesLock);
  const int at = FindImageMutex(mutex);
  if (at >= 0) imageMutexes[at] = imageMutexes[--imageMutexCount];
  ::ReleaseSRWLockExclusive(&imageMutexesLock);
}

// Everything above is given back after the CRT has run the static
// destructors and libgcc has deregistered its frames: nothing of the DLL's
// code runs after this.
void ReleaseRuntime() {
  FreeAllValues();
  while (imageMutexCount > 0) __real_pthread_mutex_destroy(imageMutexes[--imageMutexCount]);
  __gnu_cxx::__freeres();
}

}  // namespace

extern "C" {

void* __emutls_get_address(EmulatedVariable* variable) {
  // A catch handler may still read the last error, which TlsGetValue clears.
  const DWORD lastError = ::GetLastError();
  const std::uintptr_t index = IndexOf(variable);
  ::InitOnceExecuteOnce(&valuesSlotOnce, AllocateValuesSlot, nullptr, nullptr);
  if (valuesSlot == TLS_OUT_OF_INDEXES) std::abort();  // as libgcc's version does
  auto* values = static_cast<ThreadValues*>(::TlsGetValue(valuesSlot));
  if (values == nullptr) {
    values = static_cast<ThreadValues*>(std::calloc(1, sizeof(ThreadValues)));
    if (values == nullptr) std::abort();
    ::AcquireSRWLockExclusive(&valuesLock);
    values->next = allValues;
    if (allValues != nullptr) allValues->previous = values;
    allValues = values;
    ::ReleaseSRWLockExclusive(&valuesLock);
    ::TlsSetValue(valuesSlot, values);
  }
  if (index > values->count) {
    const std::uintptr_t count = index + 16;
    auto** grown = static_cast<void**>(std::realloc(values->values, count * sizeof(void*)));
    if (grown == nullptr) std::abort();
    std::memset(grown + values->count, 0, (count - values->count) * sizeof(void*));
    values->values = grown;
    values->count = count;
  }
  void*& value = values->values[index - 1];
  if (value == nullptr) value = NewValue(*variable);
  ::SetLastError(lastError);
  return value;
}

int __cxa_guard_acquire(__cxxabiv1::__guard* guard) {
  unsigned char* bytes = GuardBytes(guard);
  if (__atomic_load_n(&bytes[0], __ATOMIC_ACQUIRE) != 0) return 0;
  ::AcquireSRWLockExclusive(&guardLock);
  while (bytes[1] != 0) ::SleepConditionVariableSRW(&guardChanged, &guardLock, INFINITE, 0);
  const bool ours = bytes[0] == 0;
  if (ours) bytes[1] = 1;
  ::ReleaseSRWLockExclusive(&guardLock);
  return ours ? 1 : 0;
}

void __cxa_guard_release(__cxxabiv1::__guard* guard) noexcept {
  unsigned char* bytes = GuardBytes(guard);
  ::AcquireSRWLockExclusive(&guardLock);
  bytes[1] = 0;
  __atomic_store_n(&bytes[0], 1, __ATOMIC_RELEASE);
  ::ReleaseSRWLockExclusive(&guardLock);
  ::WakeAllConditionVariable(&guardChanged);
}

// The initialiser threw: the next caller tries again.
void __cxa_guard_abort(__cxxabiv1::__guard* guard) noexcept {
  ::AcquireSRWLockExclusive(&guardLock);
  GuardBytes(guard)[1] = 0;
  ::ReleaseSRWLockExclusive(&guardLock);
  ::WakeAllConditionVariable(&guardChanged);
}

int __wrap_pthread_once(pthread_once_t* once, void (*function)()) {
  ::InitOnceExecuteOnce(reinterpret_cast<INIT_ONCE*>(once), RunOnce,
                        reinterpret_cast<void*>(function), nullptr);
  return 0;
}

int __wrap_pthread_mutex_lock(pthread_mutex_t* mutex) {
  if (InThisImage(mutex)) NoteImageMutex(mutex);
  return __real_pthread_mutex_lock(mutex);
}

int __wrap_pthread_mutex_destroy(pthread_mutex_t* mutex) {
  if (InThisImage(mutex)) ForgetImageMutex(mutex);
  return __real_pthread_mutex_destroy(mutex);
}

// The mingw CRT's entry point, which runs the static constructors and
// destructors and calls DllMain.
BOOL WINAPI DllMainCRTStartup(HANDLE module, DWORD reason, void* reserved);

// The DLL's entry point (-Wl,--entry): the CRT's, then the clean-up once the
// CRT is done. When the process is ending (reserved is not NULL) the clean-up
// is skipped: other threads were stopped wherever they were, and the process's
// end reclaims everything anyway.
BOOL WINAPI DevicecodeDllEntry(HANDLE module, DWORD reason, void* reserved) {
  const BOOL result = DllMainCRTStartup(module, reason, reserved);
  if (reason == DLL_THREAD_DETACH) FreeThisThreadsValues();
  if (reason == DLL_PROCESS_DETACH && reserved == nullptr) ReleaseRuntime();
  return result;
}

}  // extern "C"
