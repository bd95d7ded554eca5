// Adapter selection: both strategies over record lists, and the enumeration
// protocol through the fake platform.
#include "devicecode/adapter_selection.h"

#include <gtest/gtest.h>

#include <optional>

#include "adapter_list.h"
#include "platform/fake/fake_platform.h"

namespace {

using testing_support::Adapter;
using testing_support::MakeChain;
using testing_support::MakeRecord;

const std::vector<unsigned char> kMac = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E};
const std::vector<unsigned char> kOtherMac = {0x02, 0x00, 0x00, 0x00, 0x00, 0x0A};
const std::vector<unsigned char> kZero = {0, 0, 0, 0, 0, 0};

struct SelectionCase {
  const char* name;
  std::vector<Adapter> adapters;
  std::string physical;
  std::string fallback;
};

void PrintTo(const SelectionCase& c, std::ostream* os) { *os << c.name; }

const SelectionCase kSelectionCases[] = {
    {"Empty", {}, "", ""},
    {"SinglePhysical", {{"Intel(R) Ethernet", kMac, 1}}, "001A2B3C4D5E", "001A2B3C4D5E"},
    {"VirtualFirstThenPhysical",
     {{"Hyper-V Virtual Ethernet Adapter", kOtherMac, 1}, {"Realtek PCIe GbE", kMac, 1}},
     "001A2B3C4D5E",
     "02000000000A"},
    {"CaseMixes",
     {{"VMWARE NAT", kOtherMac}, {"vIrTuAl", kOtherMac}, {"VMware", kOtherMac}},
     "",
     "02000000000A"},
    {"VirtualInsideAWord",
     {{"Supervirtualizer NIC", kOtherMac, 1}, {"NIC", kMac}},
     "001A2B3C4D5E",
     "02000000000A"},
    // Only A-Z fold: a dotless capital I (0xDD in code page 1254) or a byte of
    // 128+ next to "irtual" never turns into a match.
    {"FoldingIgnoresHighBytes", {{"V\xDDRTUAL \xC0", kMac}}, "001A2B3C4D5E", "001A2B3C4D5E"},
    {"EmptyDescriptionPasses", {{"", kMac}}, "001A2B3C4D5E", "001A2B3C4D5E"},
    {"AllZeroAndEmptyAddressesSkipped",
     {{"A", kZero}, {"B", {}}, {"C", kMac}},
     "001A2B3C4D5E",
     "001A2B3C4D5E"},
    {"ZeroBytesInUsableAddress",
     {{"NIC", {0x00, 0x00, 0x5E, 0x00, 0x53, 0x01}}},
     "00005E005301",
     "00005E005301"},
    {"EightByteAddress",
     {{"FireWire", {1, 2, 3, 4, 5, 6, 7, 0xFF}}},
     "01020304050607FF",
     "01020304050607FF"},
    {"FallbackSingleZeroContext", {{"Virtual", kMac, 0}}, "", "001A2B3C4D5E"},
    {"FallbackPrefersContext",
     {{"Virtual A", kOtherMac, 0}, {"Virtual B", kMac, 7}, {"Virtual C", kOtherMac, 0}},
     "",
     "001A2B3C4D5E"},
    {"FallbackLastRecordDespiteZeroContext",
     {{"Virtual A", kZero, 3}, {"Virtual B", kMac, 0}},
     "",
     "001A2B3C4D5E"},
    {"FallbackLastUnusable", {{"Virtual A", kMac, 0}, {"Virtual B", kZero, 0}}, "", ""},
};

class SelectionTest : public testing::TestWithParam<SelectionCase> {};

TEST_P(SelectionTest, BothStrategies) {
  const SelectionCase& c = GetParam();
  const auto chain = MakeChain(c.adapters);
  const platform::AdapterInfo* first = chain.empty() ? nullptr : &chain[0];
  EXPECT_EQ(devicecode::SelectPhysicalMacText(first), c.physical);
  EXPECT_EQ(devicecode::SelectFallbackMacText(first), c.fallback);
  // A request's choice: the first strategy, else the fallback; its index is
  // the first record in the list with that text that the strategy accepts.
  const devicecode::Choice choice = devicecode::SelectAdapter(first);
  const std::string& text = c.physical.empty() ? c.fallback : c.physical;
  EXPECT_EQ(choice.text, text);
  EXPECT_EQ(choice.strategy, !c.physical.empty()   ? devicecode::Strategy::kPhysical
                             : !c.fallback.empty() ? devicecode::Strategy::kFallback
                                                   : devicecode::Strategy::kNone);
  if (text.empty()) {
    EXPECT_EQ(choice.index, -1);
  } else {
    ASSERT_GE(choice.index, 0);
    bool usable = false;
    EXPECT_EQ(devicecode::WriteAddressText(chain[static_cast<std::size_t>(choice.index)], &usable),
              text);
    for (int k = 0; k < choice.index; ++k) {
      std::string skipped;
      const auto& record = chain[static_cast<std::size_t>(k)];
      EXPECT_NE(choice.strategy == devicecode::Strategy::kPhysical
                    ? devicecode::JudgePhysical(record, &skipped)
                    : devicecode::JudgeFallback(record, &skipped),
                devicecode::Verdict::kChosen)
          << k;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Lists, SelectionTest, testing::ValuesIn(kSelectionCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(WriteAddressTextTest, LengthAboveEightIsClamped) {
  Adapter a{"NIC", {1, 2, 3, 4, 5, 6, 7, 8}};
  auto record = MakeRecord(a);
  record.AddressLength = 0xFFFFFFFFu;
  bool usable = false;
  EXPECT_EQ(devicecode::WriteAddressText(record, &usable), "0102030405060708");
  EXPECT_TRUE(usable);
}

TEST(WriteAddressTextTest, DescriptionWithoutNulEndsAtItsField) {
  auto record = MakeRecord({"", kMac});
  std::memset(record.Description, 'x', sizeof record.Description);
  // "virtual" begins inside the field and runs past it: no match.
  std::memcpy(record.Description + sizeof record.Description - 3, "vir", 3);
  std::string text;
  EXPECT_EQ(devicecode::JudgePhysical(record, &text), devicecode::Verdict::kChosen);
  std::memcpy(record.Description + sizeof record.Description - 7, "virtual", 7);
  EXPECT_EQ(devicecode::JudgePhysical(record, &text), devicecode::Verdict::kSkippedVirtual);
  EXPECT_EQ(text, "");
}

// The two-call enumeration through the fake platform.
class EnumerationTest : public testing::Test {
 protected:
  void SetUp() override {
    platform::fake::Reset();
    platform::fake::Get().adapters = {MakeRecord({"NIC", kMac, 1})};
  }
  void TearDown() override { EXPECT_EQ(platform::fake::Get().liveAllocations, 0u); }
};

TEST_F(EnumerationTest, BothStrategiesShareOneList) {
  EXPECT_EQ(devicecode::GetMacText(), "001A2B3C4D5E");
  EXPECT_EQ(platform::fake::Get().adapterCalls, 2u);
  // The physical strategy finds nothing; the fallback reads the same list.
  platform::fake::Get().adapters = {MakeRecord({"Virtual", kOtherMac, 1})};
  platform::fake::Get().adapterCalls = 0;
  EXPECT_EQ(devicecode::GetMacText(), "02000000000A");
  EXPECT_EQ(platform::fake::Get().adapterCalls, 2u);
}

TEST_F(EnumerationTest, NoAdaptersGiveTheEmptyText) {
  platform::fake::Get().adapters.clear();
  EXPECT_EQ(devicecode::GetMacText(), "");
  EXPECT_EQ(platform::fake::Get().adapterCalls, 1u);
}

// Only "no adapters" is an answer; every other result means the list is
// unknown, and a code made from it would be some other machine's.
TEST_F(EnumerationTest, CallResults) {
  constexpr std::uint32_t kNoData = platform::kErrorNoData;
  constexpr std::uint32_t kOverflow = platform::kErrorBufferOverflow;
  struct Case {
    const char* name;
    bool overrideFirst;
    std::uint32_t first;
    bool overrideSecond;
    std::uint32_t second;
    std::optional<std::string> text;
    std::uint64_t calls;
  };
  const Case cases[] = {
      {"FirstSucceedsWithoutBuffer", true, platform::kErrorSuccess, false, 0, std::nullopt, 1},
      {"FirstFails", true, 87, false, 0, std::nullopt, 1},
      {"FirstSaysNoAdapters", true, kNoData, false, 0, "", 1},
      {"SecondFails", false, 0, true, 31, std::nullopt, 2},
      {"SecondSaysNoAdapters", false, 0, true, kNoData, "", 2},
      {"SecondAlwaysOverflows", false, 0, true, kOverflow, std::nullopt, 5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    platform::fake::State& s = platform::fake::Get();
    s.adapterCalls = 0;
    s.overrideFirstResult = c.overrideFirst;
    s.firstResult = c.first;
    s.overrideSecondResult = c.overrideSecond;
    s.secondResult = c.second;
    EXPECT_EQ(devicecode::GetMacText(), c.text);
    EXPECT_EQ(s.adapterCalls, c.calls);
  }
}

TEST_F(EnumerationTest, ListGrownBetweenCallsIsAskedForAgain) {
  platform::fake::Get().appearBetweenCalls = {MakeRecord({"NIC 2", kOtherMac, 1})};
  EXPECT_EQ(devicecode::GetMacText(), "001A2B3C4D5E");
  EXPECT_EQ(platform::fake::Get().adapterCalls, 3u);
}

TEST_F(EnumerationTest, ListThatKeepsGrowingIsUnreadable) {
  platform::fake::Get().appearBetweenCalls = {MakeRecord({"NIC 2", kOtherMac, 1})};
  platform::fake::Get().growingCalls = 1000;
  EXPECT_EQ(devicecode::GetMacText(), std::nullopt);
  EXPECT_EQ(platform::fake::Get().adapterCalls, 5u);
}

TEST_F(EnumerationTest, ExhaustedHeapIsNotMistakenForNoAdapter) {
  platform::fake::Get().faultMode = platform::fake::FaultMode::kFailFrom;
  platform::fake::Get().faultStep = 2;  // the list buffer's Malloc
  EXPECT_THROW(devicecode::GetMacText(), std::bad_alloc);
}

}  // namespace
