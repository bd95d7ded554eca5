// The support report over adapter lists: verdict codes, warnings, what-if
// answers, --match answers and text safe for a terminal.
#include "report.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "adapter_list.h"
#include "devicecode/device_code.h"
#include "platform/fake/fake_platform.h"

namespace {

using testing_support::Adapter;
using testing_support::MakeChain;

const std::vector<unsigned char> kNic = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E};
const std::vector<unsigned char> kNic2 = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5F};
const std::vector<unsigned char> kSoft = {0x02, 0x00, 0x00, 0x00, 0x00, 0x0A};
const std::vector<unsigned char> kSoft2 = {0x02, 0x00, 0x00, 0x00, 0x00, 0x0B};
const std::vector<unsigned char> kZero = {0, 0, 0, 0, 0, 0};

devicecode::Report Explain(const std::vector<Adapter>& adapters) {
  const auto chain = MakeChain(adapters);
  return devicecode::ExplainAdapterList(chain.empty() ? nullptr : &chain[0]);
}

std::string Code(const std::vector<unsigned char>& address) {
  std::string text;
  for (unsigned char byte : address) {
    char hex[3];
    std::snprintf(hex, sizeof hex, "%02X", byte);
    text += hex;
  }
  return devicecode::ComputeDeviceCode(text).data();
}

const std::string kEmptyCode = devicecode::ComputeDeviceCode("").data();

// What each strategy says of each adapter, and the warnings, by code.
TEST(ReportTest, VerdictCodesAndWarnings) {
  struct Case {
    const char* name;
    std::vector<Adapter> adapters;
    std::string strategy;
    std::vector<std::string> physical, fallback;
    bool fallbackRan;
    std::vector<std::string> warnings;
  };
  const Case cases[] = {
      {"every reason",
       {{"VMware NAT", kSoft, 1},
        {"NIC zero", kZero, 1},
        {"NIC empty", {}, 0},
        {"NIC", kNic, 0},
        {"NIC 2", kNic2, 0}},
       "physical",
       {"virtual", "zero-address", "no-address", "chosen", "qualified"},
       {"qualified", "zero-address", "no-context", "no-context", "qualified"},
       false,
       {"order-dependent"}},
      {"one address twice is no order dependence",
       {{"NIC", kNic}, {"NIC team", kNic}},
       "physical",
       {"chosen", "qualified"},
       {"no-context", "qualified"},
       false,
       {}},
      {"fallback",
       {{"Virtual A", kSoft, 0}, {"Virtual B", kSoft2, 7}, {"Virtual C", kSoft, 0}},
       "fallback",
       {"virtual", "virtual", "virtual"},
       {"no-context", "chosen", "qualified"},
       true,
       {"locally-administered-address", "order-dependent", "fallback-decided"}},
      {"none",
       {{"Virtual A", kSoft, 0}, {"Virtual B", kZero, 3}, {"Virtual C", {}, 0}},
       "none",
       {"virtual", "virtual", "virtual"},
       {"no-context", "zero-address", "no-address"},
       true,
       {"no-adapter-qualified"}},
      {"no list", {}, "none", {}, {}, true, {"no-adapter-qualified"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const devicecode::Report report = Explain(c.adapters);
    EXPECT_EQ(report.strategy, c.strategy);
    std::vector<std::string> physical, fallback, warnings;
    for (const devicecode::AdapterReport& a : report.adapters) {
      physical.push_back(a.physical.code);
      fallback.push_back(a.fallback.code);
      EXPECT_TRUE(a.physical.ran);
      EXPECT_EQ(a.fallback.ran, c.fallbackRan);
    }
    for (const devicecode::Warning& w : report.warnings) warnings.push_back(w.code);
    EXPECT_EQ(physical, c.physical);
    EXPECT_EQ(fallback, c.fallback);
    EXPECT_EQ(warnings, c.warnings);
  }
}

// The code if adapters went away: each answer names the adapters gone and
// the adapter (by its index in the full list) that decides then.
TEST(ReportTest, WhatIfAdaptersGoAway) {
  struct Answer {
    std::vector<int> removed;
    std::string strategy;
    int chosenIndex;
    std::string code;
  };
  struct Case {
    const char* name;
    std::vector<Adapter> adapters;
    std::vector<Answer> answers;
  };
  const Case cases[] = {
      {"two cards, then the fallback",
       {{"Hyper-V Virtual Ethernet", kSoft, 1}, {"Wi-Fi", kNic, 0}, {"Dock", kNic2, 0}},
       {{{1}, "physical", 2, Code(kNic2)}, {{1, 2}, "fallback", 0, Code(kSoft)}}},
      // The card is the last record: without it another record is last and
      // becomes the fallback's candidate.
      {"the last record goes",
       {{"Virtual A", kSoft, 0}, {"Virtual B", kSoft2, 0}, {"NIC", kNic, 0}},
       {{{2}, "fallback", 1, Code(kSoft2)}}},
      {"the fallback's candidates",
       {{"Virtual A", kSoft, 0}, {"Virtual B", kNic, 7}, {"Virtual C", kSoft2, 0}},
       {{{1}, "fallback", 2, Code(kSoft2)}, {{1, 2}, "fallback", 0, Code(kSoft)}}},
      {"the only card", {{"NIC", kNic, 3}}, {{{0}, "none", -1, kEmptyCode}}},
      {"a zero address decides nothing",
       {{"NIC", kNic, 0}, {"NIC zero", kZero, 0}},
       {{{0}, "none", -1, kEmptyCode}}},
      {"nothing qualifies", {{"Virtual", kZero, 1}}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const devicecode::Report report = Explain(c.adapters);
    ASSERT_EQ(report.whatIf.size(), c.answers.size());
    for (std::size_t k = 0; k < c.answers.size(); ++k) {
      const devicecode::WhatIf& w = report.whatIf[k];
      EXPECT_EQ(w.removed, c.answers[k].removed) << k;
      EXPECT_EQ(w.strategy, c.answers[k].strategy) << k;
      EXPECT_EQ(w.chosenIndex, c.answers[k].chosenIndex) << k;
      EXPECT_EQ(w.deviceCode, c.answers[k].code) << k;
    }
  }
}

// --match: where the code's adapter stands now, and who decides instead.
TEST(ReportTest, MatchSaysWhoDecidesInstead) {
  struct Case {
    const char* name;
    std::vector<Adapter> adapters;
    std::string code;
    bool found;
    std::vector<std::string> says;
  };
  const std::vector<Adapter> cards = {
      {"Virtual switch", kSoft, 4}, {"Wi-Fi", kNic, 0}, {"Dock", kNic2, 0}};
  const std::vector<Adapter> virtualOnly = {
      {"Virtual A", kSoft, 0}, {"Virtual B", kNic, 7}, {"Virtual C", kSoft2, 0}};
  const Case cases[] = {
      {"the chosen one", cards, Code(kNic), true, {"adapter 1 (Wi-Fi)", "chosen now"}},
      {"later in the list",
       cards,
       Code(kNic2),
       true,
       {"adapter 2 (Dock)", "not the chosen one now: adapter 1 (Wi-Fi) decides",
        "the physical strategy chooses; adapter 2 qualifies too but comes later"}},
      // A fallback code from before a card appeared.
      {"a card now decides",
       cards,
       Code(kSoft),
       true,
       {"adapter 0 (Virtual switch)", "adapter 1 (Wi-Fi) decides",
        "for that strategy adapter 0 is skipped: description names a virtual adapter"}},
      {"lost its IPv4 context",
       virtualOnly,
       Code(kSoft),
       true,
       {"adapter 1 (Virtual B) decides, the first in list order that the fallback",
        "adapter 0 is skipped: no IPv4 context and not the last"}},
      {"none chosen",
       {{"Virtual A", kNic, 0}, {"Virtual B", kZero, 0}},
       Code(kNic),
       true,
       {"no adapter is chosen now", kEmptyCode}},
      {"the empty text's code, nothing qualifying",
       {{"Virtual A", kZero, 0}},
       kEmptyCode,
       true,
       {"no adapter qualifies"}},
      {"the empty text's code, a card qualifying",
       cards,
       kEmptyCode,
       false,
       {"code of no adapter", "adapter 1 (Wi-Fi)"}},
      {"unknown", cards, Code(kZero), false, {"code of no adapter"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const devicecode::MatchAnswer answer = devicecode::AnswerMatch(Explain(c.adapters), c.code);
    EXPECT_EQ(answer.found, c.found);
    for (const std::string& part : c.says) {
      EXPECT_NE(answer.text.find(part), std::string::npos) << part << " in " << answer.text;
    }
  }
}

TEST(ReportTest, EscapeControls) {
  const std::pair<std::string, std::string> cases[] = {
      {"eth0", "eth0"},
      {"\x1B[2J", "\\x1B[2J"},
      {std::string("a\0b", 3), "a\\x00b"},
      {"tab\there\n", "tab\\x09here\\x0A"},
      {"del\x7F", "del\\x7F"},
      {"caf\xC3\xA9", "caf\xC3\xA9"},            // é stays
      {"\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"},  // so does U+1F600
      {"csi\xC2\x9B"
       "2J",
       "csi\\xC2\\x9B2J"},                           // C1 control U+009B
      {"gbk \xB0\xA1", "gbk \\xB0\\xA1"},            // not UTF-8
      {"cut \xE2\x82", "cut \\xE2\\x82"},            // a sequence cut short
      {"overlong \xC0\xAF", "overlong \\xC0\\xAF"},  // "/" in two bytes
      {"surrogate \xED\xA0\x80", "surrogate \\xED\\xA0\\x80"},
  };
  for (const auto& [text, escaped] : cases) {
    EXPECT_EQ(devicecode::EscapeControls(text), escaped);
  }
}

// The report over the platform's list: an unreadable list is no report, as
// it is no code for the library; a machine without adapters is a report.
TEST(ReportTest, UnreadableListGivesNoReport) {
  platform::fake::Reset();
  ASSERT_TRUE(devicecode::ExplainAdapters().has_value()) << "no adapters";
  EXPECT_EQ(devicecode::ExplainAdapters()->deviceCode, kEmptyCode);
  platform::fake::Get().adapters = MakeChain({{"NIC", kNic, 1}});
  ASSERT_TRUE(devicecode::ExplainAdapters().has_value());
  EXPECT_EQ(devicecode::ExplainAdapters()->deviceCode, Code(kNic));
  platform::fake::Get().overrideSecondResult = true;
  platform::fake::Get().secondResult = 50;  // ERROR_NOT_SUPPORTED
  EXPECT_FALSE(devicecode::ExplainAdapters().has_value());
  platform::fake::Reset();
}

// An interface can be named ESC [2J (a network namespace allows it): the
// text report shows it escaped, the JSON report keeps it exactly.
TEST(ReportTest, InterfaceNamesCannotDriveTheTerminal) {
  auto chain = MakeChain({{"Virtual \x1B]0;title\x07", kSoft, 1}, {"NIC", kNic, 0}});
  std::strcpy(chain[0].AdapterName, "\x1B[2J");
  std::strcpy(chain[1].AdapterName, "eth\x9B");
  devicecode::Report report = devicecode::ExplainAdapterList(&chain[0]);
  report.log.host = "/opt/\x1B[31mhost";
  report.log.plan.logFiles = {"/var/log/\r/devicecode.log"};

  const std::string text = devicecode::FormatText(report);
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    EXPECT_TRUE(byte >= 0x20 || c == '\n') << "raw byte " << int{byte} << " in:\n" << text;
  }
  for (const char* shown :
       {"\\x1B[2J: Virtual \\x1B]0;title\\x07", "eth\\x9B", "/opt/\\x1B[31mhost",
        "/var/log/\\x0D/devicecode.log", "without 1 (NIC)"}) {
    EXPECT_NE(text.find(shown), std::string::npos) << shown << " in:\n" << text;
  }
  EXPECT_NE(devicecode::AnswerMatch(report, Code(kSoft)).text.find("\\x1B]0;title\\x07"),
            std::string::npos);

  const std::string json = devicecode::FormatJson(report);
  for (char c : json) EXPECT_LT(static_cast<unsigned char>(c), 0x80) << "not ASCII";
  const nlohmann::json parsed = nlohmann::json::parse(json);
  EXPECT_EQ(parsed["adapters"][0]["interfaceName"], "\x1B[2J");
  EXPECT_EQ(parsed["adapters"][1]["interfaceName"], "eth\xEF\xBF\xBD");  // U+FFFD for the byte
}

}  // namespace
