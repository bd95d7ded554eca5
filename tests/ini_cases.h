// How GetPrivateProfileIntA reads [Common] LogLevel (default 77), one row per
// case: for the pure reader, the Linux backend, and a Windows or Wine run.
#pragma once

#include <cstdint>
#include <string_view>

namespace testing_support {

using namespace std::string_view_literals;

constexpr int kIniDefault = 77;

struct IniCase {
  const char* name;
  std::string_view text;  // the whole file
  std::uint32_t expected;
};

inline constexpr IniCase kIniCases[] = {
    {"PlainDecimal", "[Common]\nLogLevel=600\n", 600},
    {"CrLfLines", "[Common]\r\nLogLevel=600\r\n", 600},
    {"NoTrailingNewline", "[Common]\nLogLevel=700", 700},
    {"EmptyFile", "", kIniDefault},
    {"NoSection", "LogLevel=600\n", kIniDefault},
    {"OtherSection", "[Other]\nLogLevel=600\n", kIniDefault},
    {"KeyMissing", "[Common]\nLevel=600\n", kIniDefault},
    {"EmptyValueGivesDefault", "[Common]\nLogLevel=\n", kIniDefault},
    {"BlankValueGivesDefault", "[Common]\nLogLevel=   \n", kIniDefault},
    {"KeyWithoutEqualsGivesDefault", "[Common]\nLogLevel\n", kIniDefault},
    {"NamesCaseInsensitive", "[COMMON]\nloglevel=600\n", 600},
    {"BlanksAroundNameAndValue", "  [Common]  \n\t LogLevel \t=  600  \n", 600},
    {"BlanksInsideBracketsAreTrimmed", "[ Common ]\nLogLevel=600\n", 600},
    {"TabsInsideBracketsAreTrimmed", "[\tCommon\t]\nLogLevel=600\n", 600},
    {"TextAfterClosingBracket", "[Common] ; main\nLogLevel=600\n", 600},
    {"FirstKeyWins", "[Common]\nLogLevel=600\nLogLevel=700\n", 600},
    {"OnlyFirstSectionOfTheName", "[Common]\nOther=1\n[Common]\nLogLevel=700\n", kIniDefault},
    {"FirstSectionKeyWins", "[Common]\nLogLevel=600\n[Common]\nLogLevel=700\n", 600},
    {"CommentLineIsNoKey", "[Common]\n;LogLevel=600\n", kIniDefault},
    {"HashIsNoComment", "[Common]\n#x\nLogLevel=600\n", 600},
    {"InlineCommentEndsTheNumber", "[Common]\nLogLevel=600 ; info\n", 600},
    {"KeyBeforeAnySection", "LogLevel=600\n[Common]\nLogLevel=700\n", 700},
    {"Utf8ByteOrderMark", "\xEF\xBB\xBF[Common]\nLogLevel=600\n", 600},
    // Notepad's "Unicode": UTF-16LE with its byte-order mark.
    {"Utf16LittleEndian",
     "\xFF\xFE[\0C\0o\0m\0m\0o\0n\0]\0\r\0\n\0L\0o\0g\0L\0e\0v\0e\0l\0=\0"
     "6\0"
     "0\0"
     "0\0\r\0\n\0"sv,
     600},
    {"DoubleQuotes", "[Common]\nLogLevel=\"600\"\n", 600},
    {"SingleQuotes", "[Common]\nLogLevel='600'\n", 600},
    {"UnmatchedQuoteGivesZero", "[Common]\nLogLevel=\"600\n", 0},
    {"Minus", "[Common]\nLogLevel=-1\n", 4294967295u},
    {"Plus", "[Common]\nLogLevel=+1\n", 1},
    {"WrapsAt2To32", "[Common]\nLogLevel=4294967296\n", 0},
    {"WrapsPast2To32", "[Common]\nLogLevel=4294967297\n", 1},
    {"NegativeWraps", "[Common]\nLogLevel=-4294967297\n", 4294967295u},
    {"Largest", "[Common]\nLogLevel=4294967295\n", 4294967295u},
    {"Above2To31", "[Common]\nLogLevel=2147483648\n", 2147483648u},
    {"StopsAtFirstNonDigit", "[Common]\nLogLevel=42A94967297\n", 42},
    {"NoDigitGivesZero", "[Common]\nLogLevel=B4294967297\n", 0},
    {"Hexadecimal", "[Common]\nLogLevel=0x258\n", 600},
    {"UpperCaseXIsNoPrefix", "[Common]\nLogLevel=0X258\n", 0},
    {"Octal", "[Common]\nLogLevel=0o1130\n", 600},
    {"Binary", "[Common]\nLogLevel=0b101\n", 5},
    {"LeadingZeroIsDecimal", "[Common]\nLogLevel=0600\n", 600},
    {"OnlyTheFirst29CharactersAreRead", "[Common]\nLogLevel=000000000000000000000000006000\n", 600},
};

}  // namespace testing_support
