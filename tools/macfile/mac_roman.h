// Names as the Mac sees them: HFS stores each name as Mac Roman bytes, one
// byte a character, at most 31 of them, and compares them without case.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace macfile {

// A UTF-8 name in Mac Roman, or the first character Mac Roman lacks.
struct mac_roman_name {
  std::string bytes;  // valid when ok
  bool ok = false;
  char32_t missing = 0;   // the character that has no Mac Roman byte
  bool bad_utf8 = false;  // the name is not UTF-8 at all
};

// Letters followed by a combining accent (as macOS writes names, decomposed)
// are composed first, so "e" + U+0301 becomes the one byte of "é".
mac_roman_name to_mac_roman(std::string_view utf8);

// The byte string HFS compares: letters in upper case, accents kept, so two
// names with equal keys cannot share a folder.
std::string hfs_compare_key(std::string_view mac_roman);

}  // namespace macfile
