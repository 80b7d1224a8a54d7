// The folder route's readers of Mac names and files: Mac Roman names, the
// MacBinary rule that decides whether a .bin is one, AppleDouble sidecars
// made MacBinary II, and the extension map.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "hybrid/apm/big_endian.h"
#include "tools/macfile/mac_formats.h"
#include "tools/macfile/mac_roman.h"
#include "tools/macfile/type_map.h"

namespace macfile {
namespace {

std::span<const std::uint8_t> bytes_of(const std::vector<std::uint8_t>& bytes) { return bytes; }

TEST(MacRoman, NamesBecomeOneByteACharacterOrNameTheCharacterMissing) {
  struct row {
    const char* utf8;
    const char* mac_roman;  // nullptr: refused
    char32_t missing;
    bool bad_utf8;
  };
  const row rows[] = {
      {"Read Me", "Read Me", 0, false},
      {"été", "\x8Et\x8E", 0, false},
      {"Cafe\xCC\x81", "Caf\x8E", 0, false},  // decomposed, as macOS writes names
      {"A\xCC\x8A"
       "ngstr\xC3\xB6m",
       "\x81ngstr\x9Am", 0, false},
      {"\xE2\x82\xAC 5", "\xDB 5", 0, false},      // the euro sign
      {"\xC2\xA4", "\xDB", 0, false},              // the sign it replaced
      {"\xCE\x94", "\xC6", 0, false},              // glibc's reading of 0xC6
      {"\xEF\xA3\xBF", "\xF0", 0, false},          // the Apple logo
      {"\xC3\xBF\xC5\xB8", "\xD8\xD9", 0, false},  // ÿ Ÿ
      {"\xE4\xB8\xAD", nullptr, 0x4E2D, false},
      {"e\xCC\x81\xCC\x81", nullptr, 0x0301, false},  // a second accent has no byte
      {"a\xCC\xA8", nullptr, 0x0328, false},          // an accent Mac Roman lacks
      {"\xC3", nullptr, 0, true},                     // cut short
      {"\xC0\x80", nullptr, 0, true},                 // an overlong NUL
      {"\xED\xA0\x80", nullptr, 0, true},             // a surrogate
      {"\xFF", nullptr, 0, true},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.utf8);
    const mac_roman_name name = to_mac_roman(r.utf8);
    EXPECT_EQ(name.ok, r.mac_roman != nullptr);
    if (r.mac_roman) {
      EXPECT_EQ(name.bytes, r.mac_roman);
    }
    EXPECT_EQ(name.missing, r.missing);
    EXPECT_EQ(name.bad_utf8, r.bad_utf8);
  }
}

TEST(MacRoman, HfsComparesWithoutCaseButWithAccents) {
  struct row {
    const char* a;
    const char* b;
    bool same;
  };
  const row rows[] = {
      {"Read Me", "READ ME", true},
      {"\x8Et\x8E", "\x83T\x83", true},  // été, ÉTÉ
      {"\xCF", "\xCE", true},            // œ, Œ
      {"\xBF", "\xAF", true},            // ø, Ø
      {"e", "\x8E", false},              // e, é
      {"a", "\x88", false},              // a, à
      {"[", "{", false},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(std::string(r.a) + " / " + r.b);
    EXPECT_EQ(hfs_compare_key(r.a) == hfs_compare_key(r.b), r.same);
  }
}

// A MacBinary II header for a file of 10 data and 400 resource bytes.
std::vector<std::uint8_t> macbinary_2() {
  std::array<std::uint8_t, 32> finder_info{'A', 'P', 'P', 'L', 'Z', 'l', 'v', 'A'};
  const macbinary_header header = make_macbinary_header("Demo", finder_info, 10, 400, 0, 0);
  return {header.begin(), header.end()};
}

constexpr std::uint64_t macbinary_length = 128 + 128 + 512;  // forks padded to 128

TEST(MacBinary, OnlyAHeaderThatHoldsTogetherMakesABinFileMacBinary) {
  EXPECT_EQ(macbinary_crc(std::span(reinterpret_cast<const std::uint8_t*>("123456789"), 9)),
            0x31C3);  // the XMODEM check value
  struct row {
    const char* what;
    std::size_t at;  // a byte to change, or 128 for none
    std::uint8_t value;
    bool version_1;  // the version 2 bytes and CRC cleared first
    std::uint64_t length;
    macbinary_kind kind;
  };
  const row rows[] = {
      {"MacBinary II", 128, 0, false, macbinary_length, macbinary_kind::version_2},
      {"II, resource fork unpadded", 128, 0, false, macbinary_length - 112,
       macbinary_kind::version_2},
      {"II, shorter than its forks", 128, 0, false, macbinary_length - 113, macbinary_kind::none},
      {"II, a changed byte breaks the CRC", 70, 'X', false, macbinary_length, macbinary_kind::none},
      {"MacBinary I", 128, 0, true, macbinary_length, macbinary_kind::version_1},
      {"I, unpadded", 128, 0, true, macbinary_length - 112, macbinary_kind::version_1},
      {"I, longer than its forks", 128, 0, true, macbinary_length + 128, macbinary_kind::none},
      {"I, a byte set in the zero tail", 110, 1, true, macbinary_length, macbinary_kind::none},
      {"I, first byte set", 0, 1, true, macbinary_length, macbinary_kind::none},
      {"I, byte 74 set", 74, 1, true, macbinary_length, macbinary_kind::none},
      {"I, byte 82 set", 82, 1, true, macbinary_length, macbinary_kind::none},
      {"I, no name", 1, 0, true, macbinary_length, macbinary_kind::none},
      {"I, a name of 64", 1, 64, true, macbinary_length, macbinary_kind::none},
      {"shorter than a header", 128, 0, false, 127, macbinary_kind::none},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.what);
    std::vector<std::uint8_t> head = macbinary_2();
    if (r.version_1) std::fill(head.begin() + 99, head.end(), 0);
    if (r.at < head.size()) head[r.at] = r.value;
    EXPECT_EQ(detect_macbinary(bytes_of(head), r.length), r.kind);
  }
}

TEST(MacBinary, HeadersWrittenAndUpgradedAreVersionTwoWithTheirFields) {
  std::array<std::uint8_t, 32> finder_info{'T', 'E', 'X', 'T',  't',
                                           't', 'x', 't', 0x21, 0x01,  // bundle, on desk / inited
                                           0,   5,   0,   7};
  const macbinary_header header =
      make_macbinary_header("\x8Et\x8E", finder_info, 1000, 20, 3029529600u, 3029529601u);
  EXPECT_EQ(detect_macbinary(header, 128 + 1024 + 128), macbinary_kind::version_2);
  EXPECT_EQ(header[1], 3);
  EXPECT_EQ(std::string(header.begin() + 2, header.begin() + 5), "\x8Et\x8E");
  EXPECT_EQ(std::string(header.begin() + 65, header.begin() + 73), "TEXTttxt");
  EXPECT_EQ(header[73], 0x20);   // inited cleared, bundle kept
  EXPECT_EQ(header[101], 0x00);  // on desk cleared
  EXPECT_EQ(hybrid::get_be32(&header[75]), 0x00050007u);
  EXPECT_EQ(macbinary_data_length(header), 1000u);
  EXPECT_EQ(macbinary_resource_length(header), 20u);
  EXPECT_EQ(hybrid::get_be32(&header[91]), 3029529600u);
  EXPECT_EQ(hybrid::get_be32(&header[95]), 3029529601u);

  macbinary_header old = header;
  std::fill(old.begin() + 99, old.end(), 0);
  ASSERT_EQ(detect_macbinary(old, 128 + 1024 + 128), macbinary_kind::version_1);
  EXPECT_EQ(detect_macbinary(upgrade_macbinary(old), 128 + 1024 + 128), macbinary_kind::version_2);

  EXPECT_EQ(mac_date_from_apple_double(0), 3029529600u);            // 2000-01-01
  EXPECT_EQ(mac_date_from_apple_double(0xFFFFFFFFu), 3029529599u);  // a second before
}

TEST(BinHex, TheFirstLineMayFollowMailHeaders) {
  EXPECT_TRUE(looks_like_binhex("(This file must be converted with BinHex 4.0)\n:!!"));
  EXPECT_TRUE(
      looks_like_binhex("From: a@b\nSubject: x\n\n(This file must be converted with "
                        "BinHex 4.0)\n:"));
  EXPECT_FALSE(looks_like_binhex("plain text about BinHex\n"));
}

// An AppleDouble file: header, ENTRIES (id, length) laid out one after the
// other after the entry list, each entry's bytes counting up from its id.
std::vector<std::uint8_t> apple_double(
    std::uint32_t magic, std::uint32_t version,
    const std::vector<std::pair<std::uint32_t, std::uint32_t>>& entries) {
  std::vector<std::uint8_t> file(26 + 12 * entries.size());
  hybrid::put_be32(&file[0], magic);
  hybrid::put_be32(&file[4], version);
  hybrid::put_be16(&file[24], static_cast<std::uint16_t>(entries.size()));
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const auto [id, length] = entries[i];
    hybrid::put_be32(&file[26 + 12 * i], id);
    hybrid::put_be32(&file[26 + 12 * i + 4], static_cast<std::uint32_t>(file.size()));
    hybrid::put_be32(&file[26 + 12 * i + 8], length);
    for (std::uint32_t n = 0; n < length; ++n) file.push_back(static_cast<std::uint8_t>(id + n));
  }
  return file;
}

TEST(AppleDouble, EntriesAreReadWhereTheListSaysAndNothingOutsideTheFile) {
  constexpr std::uint32_t magic = 0x00051607, v2 = 0x00020000;
  struct row {
    const char* what;
    std::vector<std::uint8_t> file;
    bool parsed;
    bool finder_info;
    std::uint32_t resource_length;
    bool dates;
  };
  std::vector<std::uint8_t> past_end = apple_double(magic, v2, {{2, 16}});
  past_end.pop_back();
  std::vector<std::uint8_t> count_too_large = apple_double(magic, v2, {{9, 32}});
  hybrid::put_be16(&count_too_large[24], 5);
  const row rows[] = {
      {"macOS: Finder info with attributes, resource fork",
       apple_double(magic, v2, {{9, 3760}, {2, 286}}), true, true, 286, false},
      {"version 1, dates", apple_double(magic, 0x00010000, {{8, 16}, {9, 32}, {2, 0}}), true, true,
       0, true},
      {"Finder info too short", apple_double(magic, v2, {{9, 16}}), true, false, 0, false},
      {"no entries", apple_double(magic, v2, {}), true, false, 0, false},
      {"AppleSingle", apple_double(0x00051600, v2, {{1, 4}}), false, false, 0, false},
      {"version 3", apple_double(magic, 0x00030000, {}), false, false, 0, false},
      {"an entry past the end", past_end, false, false, 0, false},
      {"more entries than the file holds", count_too_large, false, false, 0, false},
      {"shorter than a header", std::vector<std::uint8_t>(20), false, false, 0, false},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.what);
    const auto parsed = parse_apple_double(bytes_of(r.file));
    ASSERT_EQ(parsed.has_value(), r.parsed);
    if (!parsed) continue;
    EXPECT_EQ(parsed->finder_info.has_value(), r.finder_info);
    if (parsed->finder_info) {
      EXPECT_EQ((*parsed->finder_info)[31], 9 + 31);
    }
    EXPECT_EQ(parsed->resource_length, r.resource_length);
    if (r.resource_length) {
      EXPECT_EQ(r.file[parsed->resource_offset], 2);
    }
    EXPECT_EQ(parsed->created.has_value(), r.dates);
    if (r.dates) {
      EXPECT_EQ(*parsed->modified, 0x0C0D0E0Fu);
    }
  }
}

TEST(TypeMap, GenisoimageMapsParseAndTheFirstMatchingExtensionWins) {
  type_map map;
  std::string error;
  ASSERT_TRUE(
      parse_type_map("# EXTN XLate CREATOR TYPE Comment\r\n"
                     ".tif\tRaw\t'8BIM'\t'TIFF'\t\"Photoshop TIFF image\"\n"
                     "\n"
                     ".tar.gz Raw 'Gzip' 'SITx' \"first\"\n"
                     ".gz  Raw  'SITx' 'Gzip'\n"
                     ".pdf Raw 'CARO' 'PDF '\n"
                     "*    Ascii 'ttxt' 'TEXT' \"Text file\"\n",
                     map, error))
      << error;
  struct row {
    const char* name;
    type_creator code;
  };
  const row rows[] = {
      {"scan.tif", {"TIFF", "8BIM"}},  {"SCAN.TIF", {"TIFF", "8BIM"}},
      {"a.tar.gz", {"SITx", "Gzip"}},  {"a.gz", {"Gzip", "SITx"}},
      {"paper.pdf", {"PDF ", "CARO"}}, {"notes", {"TEXT", "ttxt"}},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    EXPECT_EQ(look_up(map, r.name), r.code);
  }

  const type_map kept = map;
  const char* const bad[] = {".x Raw 'ABCD'\n", ".x Raw 'ABC' 'DEFG'\n", ".x Raw 'ABCD 'EFGH'\n"};
  for (const char* text : bad) {
    SCOPED_TRACE(text);
    EXPECT_FALSE(parse_type_map(text, map, error));
    EXPECT_EQ(error.rfind("line 1: ", 0), 0u);
    EXPECT_EQ(map.rows.size(), kept.rows.size());  // a bad map leaves the one in force
  }
}

TEST(TypeMap, TheBuiltInMapKnowsCommonKindsAndLeavesTheRestUnknown) {
  struct row {
    const char* name;
    type_creator code;
  };
  const row rows[] = {
      {"Read Me.txt", {"TEXT", "ttxt"}}, {"index.HTML", {"TEXT", "MOSS"}},
      {"manual.pdf", {"PDF ", "CARO"}},  {"photo.jpeg", {"JPEG", "ogle"}},
      {"archive.sit", {"SIT!", "SITx"}}, {"app.hqx", {"TEXT", "BnHq"}},
      {"data", {"????", "????"}},        {"txt", {"????", "????"}},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    EXPECT_EQ(look_up(default_type_map(), r.name), r.code);
  }
}

}  // namespace
}  // namespace macfile
