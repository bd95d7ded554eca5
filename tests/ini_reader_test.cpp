// The INI reader that stands in for GetPrivateProfileIntA.
#include "platform/ini_reader.h"

#include <gtest/gtest.h>

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

}  // namespace
