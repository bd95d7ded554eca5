// The digest and the exported functions over the fake platform.
#include "devicecode/device_code.h"

#include <gtest/gtest.h>

#include <cstring>

#include "adapter_list.h"
#include "devicecode.h"
#include "log/logger.h"
#include "platform/fake/fake_platform.h"

namespace {

using testing_support::MakeRecord;

TEST(ComputeDeviceCodeTest, Rfc1321Vectors) {
  const std::pair<std::string, std::string> vectors[] = {
      {"", "D41D8CD98F00B204E9800998ECF8427E"},
      // The first digest byte is 0x0C: written with its leading zero.
      {"a", "0CC175B9C0F1B6A831C399E269772661"},
      {"abc", "900150983CD24FB0D6963F7D28E17F72"},
      {"message digest", "F96B697D7CB7938D525A2F31AAF161D0"},
      {"abcdefghijklmnopqrstuvwxyz", "C3FCD3D76192E4007DFB496CCA67E13B"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
       "D174AB98D277D9F5A5611C2C9F419D9F"},
      {"1234567890123456789012345678901234567890123456789012345678901234567890123456789"
       "0",
       "57EDF4A22BE3C955AC49DA2E2107B67A"},
      // A hardware-address text is digested as its 12 characters, no NUL.
      {"001A2B3C4D5E", "7598B725A578EE13656D280B6520F326"},
  };
  for (const auto& [text, code] : vectors) {
    EXPECT_STREQ(devicecode::ComputeDeviceCode(text).data(), code.c_str()) << text;
  }
}

class GetDeviceCodeTest : public testing::Test {
 protected:
  // These tests count the computation's platform steps alone: the log's
  // one-time set-up is spent first (made to fail, so it opens no file and
  // adds no steps to the requests).
  void SetUp() override {
    platform::fake::Reset();
    platform::fake::Get().faultMode = platform::fake::FaultMode::kThrowAt;
    platform::fake::Get().faultStep = 1;
    devicecode::GetLogCategoryName();
    platform::fake::Reset();
  }
  void TearDown() override { EXPECT_EQ(platform::fake::Get().liveAllocations, 0u); }

  // Calls the export and returns its text, releasing the buffer.
  static std::string Call() {
    char* buffer = GetDeviceCode();
    if (buffer == nullptr) return "(null)";
    std::string text = buffer;
    FreeBuffer(buffer);
    return text;
  }
};

TEST_F(GetDeviceCodeTest, PhysicalAdapterWinsOverFallback) {
  platform::fake::Get().adapters = {MakeRecord({"Virtual", {2, 0, 0, 0, 0, 0x0A}, 1}),
                                    MakeRecord({"NIC", {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E}, 0})};
  EXPECT_EQ(Call(), "7598B725A578EE13656D280B6520F326");
}

TEST_F(GetDeviceCodeTest, FallbackOnlyWhenNoPhysicalAdapter) {
  platform::fake::Get().adapters = {MakeRecord({"Virtual", {2, 0, 0, 0, 0, 0x0A}, 1})};
  EXPECT_EQ(Call(), "DBC9CCD83343AB144C3E8DC5AED5D461");
}

TEST_F(GetDeviceCodeTest, NoAdapterGivesTheEmptyTextsCode) {
  EXPECT_EQ(Call(), "D41D8CD98F00B204E9800998ECF8427E");
}

// A list that cannot be read is no machine's list: neither the code every
// adapterless machine shares, nor a fallback adapter chosen because the
// physical strategy's pass failed.
TEST_F(GetDeviceCodeTest, UnreadableListGivesNullNotAnotherMachinesCode) {
  platform::fake::Get().adapters = {MakeRecord({"Virtual", {2, 0, 0, 0, 0, 0x0A}, 1}),
                                    MakeRecord({"NIC", {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E}, 0})};
  for (std::uint64_t step : {1, 3}) {  // the size query, the fill
    SCOPED_TRACE(step);
    platform::fake::Get().faultMode = platform::fake::FaultMode::kFailOnce;
    platform::fake::Get().faultStep = step;
    platform::fake::Get().steps = 0;
    platform::fake::Get().faultReached = false;
    EXPECT_EQ(Call(), "(null)");
    EXPECT_TRUE(platform::fake::Get().faultReached);
  }
}

TEST_F(GetDeviceCodeTest, OneEnumerationPerRequest) {
  platform::fake::Get().adapters = {MakeRecord({"Virtual", {2, 0, 0, 0, 0, 0x0A}, 1})};
  EXPECT_EQ(Call(), "DBC9CCD83343AB144C3E8DC5AED5D461");
  EXPECT_EQ(platform::fake::Get().adapterCalls, 2u);
}

TEST_F(GetDeviceCodeTest, EveryCallGetsItsOwnZeroTerminatedBuffer) {
  platform::fake::Get().adapters = {MakeRecord({"NIC", {1, 2, 3, 4, 5, 6}})};
  char* a = GetDeviceCode();
  char* b = GetDeviceCode();
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  EXPECT_NE(a, b);
  EXPECT_STREQ(a, b);
  EXPECT_EQ(std::strlen(a), 32u);
  EXPECT_EQ(std::strspn(a, "0123456789ABCDEF"), 32u);
  FreeBuffer(a);
  FreeBuffer(b);
  FreeBuffer(nullptr);
}

TEST_F(GetDeviceCodeTest, ResultBufferShortageGivesNull) {
  platform::fake::Get().adapters = {MakeRecord({"NIC", {1, 2, 3, 4, 5, 6}})};
  // Steps: the size query, the list's Malloc, the fill, the result's Malloc.
  platform::fake::Get().faultMode = platform::fake::FaultMode::kFailOnce;
  platform::fake::Get().faultStep = 4;
  EXPECT_EQ(GetDeviceCode(), nullptr);
  EXPECT_TRUE(platform::fake::Get().faultReached);
}

TEST_F(GetDeviceCodeTest, ListBufferShortageGivesNullNotAnotherCode) {
  platform::fake::Get().adapters = {MakeRecord({"NIC", {1, 2, 3, 4, 5, 6}})};
  platform::fake::Get().faultMode = platform::fake::FaultMode::kFailOnce;
  platform::fake::Get().faultStep = 2;
  EXPECT_EQ(GetDeviceCode(), nullptr);
}

}  // namespace
