#include "tools/macfile/mac_roman.h"

#include <algorithm>
#include <array>
#include <optional>

#include "hybrid/apm/mac_roman_table.h"

namespace macfile {
namespace {

using hybrid::mac_roman_high;

std::optional<std::uint8_t> mac_roman_byte(char32_t c) {
  if (c < 0x80) return static_cast<std::uint8_t>(c);
  // Other tables' readings of two bytes (glibc's MACINTOSH among them).
  if (c == 0x00A4) return std::uint8_t{0xDB};
  if (c == 0x0394) return std::uint8_t{0xC6};
  const auto* at = std::find_if(mac_roman_high.begin(), mac_roman_high.end(),
                                [c](std::uint16_t mapped) { return char32_t{mapped} == c; });
  if (at == mac_roman_high.end()) return std::nullopt;
  return static_cast<std::uint8_t>(0x80 + (at - mac_roman_high.begin()));
}

// The accented letters Mac Roman holds, as a base letter and a combining
// mark: the compositions a decomposed name needs.
struct composition {
  char32_t mark;
  std::u32string_view bases;
  std::u32string_view composed;
};
constexpr std::array<composition, 7> compositions = {{
    {0x0300, U"AEIOUaeiou", U"ÀÈÌÒÙàèìòù"},
    {0x0301, U"AEIOUaeiou", U"ÁÉÍÓÚáéíóú"},
    {0x0302, U"AEIOUaeiou", U"ÂÊÎÔÛâêîôû"},
    {0x0303, U"ANOano", U"ÃÑÕãñõ"},
    {0x0308, U"AEIOUYaeiouy", U"ÄËÏÖÜŸäëïöüÿ"},
    {0x030A, U"Aa", U"Åå"},
    {0x0327, U"Cc", U"Çç"},
}};

std::optional<char32_t> compose(char32_t base, char32_t mark) {
  for (const auto& row : compositions) {
    if (row.mark != mark) continue;
    const auto at = row.bases.find(base);
    if (at != std::u32string_view::npos) return row.composed[at];
  }
  return std::nullopt;
}

// One code point from UTF-8, or nothing for a malformed sequence.
std::optional<char32_t> next_code_point(std::string_view text, std::size_t& at) {
  const auto lead = static_cast<std::uint8_t>(text[at]);
  int extra = 0;
  char32_t c = 0;
  if (lead < 0x80) {
    c = lead;
  } else if ((lead & 0xE0) == 0xC0 && lead >= 0xC2) {
    extra = 1, c = lead & 0x1Fu;
  } else if ((lead & 0xF0) == 0xE0) {
    extra = 2, c = lead & 0x0Fu;
  } else if ((lead & 0xF8) == 0xF0 && lead <= 0xF4) {
    extra = 3, c = lead & 0x07u;
  } else {
    return std::nullopt;
  }
  if (at + static_cast<std::size_t>(extra) >= text.size()) return std::nullopt;
  for (int i = 1; i <= extra; ++i) {
    const auto byte = static_cast<std::uint8_t>(text[at + static_cast<std::size_t>(i)]);
    if ((byte & 0xC0) != 0x80) return std::nullopt;
    c = (c << 6) | (byte & 0x3Fu);
  }
  // Overlong forms, surrogates and values past Unicode's end.
  if ((extra == 2 && c < 0x800) || (extra == 3 && (c < 0x10000 || c > 0x10FFFF)) ||
      (c >= 0xD800 && c <= 0xDFFF)) {
    return std::nullopt;
  }
  at += static_cast<std::size_t>(extra) + 1;
  return c;
}

}  // namespace

mac_roman_name to_mac_roman(std::string_view utf8) {
  mac_roman_name name;
  std::u32string chars;
  for (std::size_t at = 0; at < utf8.size();) {
    const auto c = next_code_point(utf8, at);
    if (!c) {
      name.bad_utf8 = true;
      return name;
    }
    if (!chars.empty()) {
      if (const auto composed = compose(chars.back(), *c)) {
        chars.back() = *composed;
        continue;
      }
    }
    chars.push_back(*c);
  }
  for (const char32_t c : chars) {
    const auto byte = mac_roman_byte(c);
    if (!byte) {
      name.missing = c;
      name.bytes.clear();
      return name;
    }
    name.bytes.push_back(static_cast<char>(*byte));
  }
  name.ok = true;
  return name;
}

std::string hfs_compare_key(std::string_view mac_roman) {
  // Lower-case letters of the high half and their capitals.
  static constexpr std::string_view lower =
      "\x87\x88\x89\x8A\x8B\x8C\x8D\x8E\x8F\x90\x91\x92"
      "\x93\x94\x95\x96\x97\x98\x99\x9A\x9B\x9C\x9D\x9E"
      "\x9F\xBE\xBF\xCF\xD8";
  static constexpr std::string_view upper =
      "\xE7\xCB\xE5\x80\xCC\x81\x82\x83\xE9\xE6\xE8\xEA"
      "\xED\xEB\xEC\x84\xEE\xF1\xEF\x85\xCD\xF2\xF4\xF3"
      "\x86\xAE\xAF\xCE\xD9";
  std::string key(mac_roman);
  for (char& c : key) {
    if (c >= 'a' && c <= 'z') {
      c = static_cast<char>(c - 'a' + 'A');
    } else if (const auto at = lower.find(c); at != std::string_view::npos) {
      c = upper[at];
    }
  }
  return key;
}

}  // namespace macfile
