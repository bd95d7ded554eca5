// GetPrivateProfileIntA's reading of an INI file, as a pure function over the
// file's text, shared by the backends that have no such call of their own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace platform {

// INI files are read up to this size, far above any real one, so that a huge
// or endless file costs bounded memory and time; what lies beyond is not seen.
constexpr std::size_t kMaxProfileSize = 1024 * 1024;

// The integer under `key` in `section` of the INI text `text`, read the way
// Windows' GetPrivateProfileIntA reads it:
//  - only the first kMaxProfileSize bytes are read;
//  - a UTF-8 byte-order mark is skipped; a UTF-16 text (little- or
//    big-endian, with its byte-order mark) is read in narrow characters,
//    every character outside ASCII as "?";
//  - lines are trimmed of blanks (and CR, ^Z); a line "[name]" opens a
//    section named by what lies between "[" and the last "]", trimmed of
//    blanks ("[ Common ]" is Common);
//  - a key line is "name = value", the blanks around name and value ignored;
//    a line without "=" is a key without a value; comment lines (";...")
//    never match a real key name, so they need no rule of their own;
//  - section and key names compare case-insensitively; only the first section
//    of that name is searched, and in it the first key of that name wins;
//  - a missing file, section, key or value, or an empty value, gives
//    `defaultValue` (as unsigned);
//  - one pair of matching quotes around the value is dropped, and only the
//    first 29 characters are read (the call's 30-character buffer);
//  - the number: leading blanks and control characters skipped, one "+" or
//    "-", then "0x", "0o" or "0b" selects base 16, 8 or 2 (else base 10),
//    digits up to the first character that is not one, 32-bit wrap-around on
//    overflow, negation modulo 2^32; no digit at all gives 0.
// Checked against Wine's profile.c and RtlUnicodeStringToInteger and Wine's
// kernel32 profile tests, which record Windows' results ("[ section1 ]" is
// section1 in test_profile_sections_names, "-1" -> 4294967295,
// "+1" -> 1, "4294967296" -> 0, "4294967297" -> 1, "-4294967297" ->
// 4294967295, "42A94967297" -> 42, "B4294967297" -> 0, "name=" -> default).
std::uint32_t ReadProfileInt(std::string_view text, std::string_view section, std::string_view key,
                             int defaultValue);

}  // namespace platform
