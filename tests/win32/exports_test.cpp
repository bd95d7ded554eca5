// The plug-in's exports as a host sees them: loaded with LoadLibraryA, found
// by plain name and by ordinal, FreeBuffer called as stdcall.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "devicecode.h"

namespace {

// How many bytes of arguments the caller is left to remove after calling
// `function` with one argument: 0 when the callee removes it (stdcall), 4
// when it leaves it (cdecl). The stack is restored either way.
std::uintptr_t ArgumentBytesLeft(void* function, void* argument) {
  std::uintptr_t left;
#if defined(_MSC_VER)
  __asm {
    mov esi, esp
    push argument
    call function
    sub esi, esp
    mov left, esi
    add esp, esi
  }
#else
  asm volatile(
      "movl %%esp, %0\n\t"
      "pushl %1\n\t"
      "call *%2\n\t"
      "subl %%esp, %0\n\t"
      "addl %0, %%esp"
      : "=&r"(left), "+c"(argument), "+a"(function)
      :
      : "edx", "memory", "cc");
#endif
  return left;
}

void __stdcall TakesOneStdcall(void*) {}
void __cdecl TakesOneCdecl(void*) {}

TEST(ArgumentBytesLeftTest, TellsTheConventionsApart) {
  EXPECT_EQ(ArgumentBytesLeft(reinterpret_cast<void*>(&TakesOneStdcall), nullptr), 0u);
  EXPECT_EQ(ArgumentBytesLeft(reinterpret_cast<void*>(&TakesOneCdecl), nullptr), 4u);
}

class ExportsTest : public testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    module_ = ::LoadLibraryA(GetParam());
    ASSERT_NE(module_, nullptr) << GetParam() << ": error " << ::GetLastError();
  }
  void TearDown() override {
    if (module_ != nullptr) {
      EXPECT_TRUE(::FreeLibrary(module_));
    }
  }
  void* Find(const char* name) { return reinterpret_cast<void*>(::GetProcAddress(module_, name)); }
  HMODULE module_ = nullptr;
};

TEST_P(ExportsTest, PlainNamesAndOrdinals) {
  void* freeBuffer = Find("FreeBuffer");
  void* getDeviceCode = Find("GetDeviceCode");
  ASSERT_NE(freeBuffer, nullptr);
  ASSERT_NE(getDeviceCode, nullptr);
  EXPECT_EQ(Find(MAKEINTRESOURCEA(1)), freeBuffer);
  EXPECT_EQ(Find(MAKEINTRESOURCEA(2)), getDeviceCode);
  EXPECT_EQ(Find(MAKEINTRESOURCEA(3)), nullptr);
  // No decorated forms beside the plain names.
  for (const char* decorated :
       {"FreeBuffer@4", "_FreeBuffer@4", "_GetDeviceCode", "GetDeviceCode@0"}) {
    EXPECT_EQ(Find(decorated), nullptr) << decorated;
  }
}

TEST_P(ExportsTest, CodeInAFreshBufferEachCall) {
  auto getDeviceCode = reinterpret_cast<GetDeviceCodeFunction>(Find("GetDeviceCode"));
  auto freeBuffer = reinterpret_cast<FreeBufferFunction>(Find("FreeBuffer"));
  ASSERT_NE(getDeviceCode, nullptr);
  ASSERT_NE(freeBuffer, nullptr);
  char* a = getDeviceCode();
  char* b = getDeviceCode();
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  EXPECT_NE(a, b);
  EXPECT_STREQ(a, b);
  EXPECT_EQ(std::strlen(a), 32u);
  EXPECT_EQ(std::strspn(a, "0123456789ABCDEF"), 32u);
  freeBuffer(a);
  freeBuffer(b);
  freeBuffer(nullptr);
}

TEST_P(ExportsTest, FreeBufferRemovesItsArgument) {
  auto getDeviceCode = reinterpret_cast<GetDeviceCodeFunction>(Find("GetDeviceCode"));
  ASSERT_NE(getDeviceCode, nullptr);
  EXPECT_EQ(ArgumentBytesLeft(Find("FreeBuffer"), getDeviceCode()), 0u);
  EXPECT_EQ(ArgumentBytesLeft(Find("FreeBuffer"), nullptr), 0u);
}

INSTANTIATE_TEST_SUITE_P(Dlls, ExportsTest, testing::Values(DEVICECODE_TESTED_DLLS),
                         [](const auto& info) {
                           std::string name = info.param;
                           return name.substr(0, name.find('.'));
                         });

}  // namespace
