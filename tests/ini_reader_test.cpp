// The INI reader that stands in for GetPrivateProfileIntA.
#include "platform/ini_reader.h"

#include <gtest/gtest.h>

#include <string>

#include "ini_cases.h"

namespace {

using testing_support::kIniCases;
using testing_support::kIniDefault;

TEST(ReadProfileIntTest, ReadsAsGetPrivateProfileIntA) {
  for (const auto& c : kIniCases) {
    EXPECT_EQ(platform::ReadProfileInt(c.text, "Common", "LogLevel", kIniDefault), c.expected)
        << c.name;
  }
}

TEST(ReadProfileIntTest, RequestedNamesAreTrimmedAndDefaultIsUnsigned) {
  EXPECT_EQ(platform::ReadProfileInt("[Common]\nLogLevel=600\n", " Common ", " LogLevel ", 1),
            600u);
  EXPECT_EQ(platform::ReadProfileInt("", "Common", "LogLevel", -1), 4294967295u);
}

// Bounded cost: what lies past the first MiB is never seen.
TEST(ReadProfileIntTest, ReadsOnlyTheFirstMebibyte) {
  const std::string key = "[Common]\nLogLevel=600\n";
  const std::string filler = ";" + std::string(platform::kMaxProfileSize - key.size() - 2, 'c');
  EXPECT_EQ(platform::ReadProfileInt(filler + "\n" + key, "Common", "LogLevel", 1), 600u);
  const std::string comment(platform::kMaxProfileSize, ';');
  EXPECT_EQ(platform::ReadProfileInt(comment + "\n" + key, "Common", "LogLevel", 1), 1u);
}

}  // namespace
