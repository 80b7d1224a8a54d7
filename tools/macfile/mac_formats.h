// The Mac file formats a folder may carry: MacBinary (one file holding both
// forks and the Finder's information), AppleDouble (the "._NAME" file beside
// NAME that holds what NAME's data fork cannot), and BinHex 4.0 text. hcopy
// reads MacBinary II and BinHex itself; an AppleDouble pair, and a MacBinary
// file older than II (no CRC, which hcopy refuses), become MacBinary II here.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace macfile {

inline constexpr std::size_t macbinary_header_size = 128;
using macbinary_header = std::array<std::uint8_t, macbinary_header_size>;

// The CRC MacBinary II keeps at bytes 124-125 over bytes 0-123 (the CCITT
// polynomial 0x1021, starting from 0, as XMODEM computes it).
std::uint16_t macbinary_crc(std::span<const std::uint8_t> bytes);

enum class macbinary_kind { none, version_1, version_2 };

// What a file is, from its first 128 bytes and its length: MacBinary II or
// later when the CRC holds; MacBinary I when the bytes that version left
// zero are zero and the forks fill the file exactly; otherwise not MacBinary,
// however it is named.
macbinary_kind detect_macbinary(std::span<const std::uint8_t> head, std::uint64_t file_length);

// The header of a MacBinary I file made a MacBinary II header, its CRC set.
macbinary_header upgrade_macbinary(const macbinary_header& version_1);

// The lengths of the forks a MacBinary header announces.
std::uint32_t macbinary_data_length(const macbinary_header& header);
std::uint32_t macbinary_resource_length(const macbinary_header& header);

// BinHex 4.0 files begin, perhaps after mail headers, with this line.
bool looks_like_binhex(std::string_view first_bytes);

// An AppleDouble file's entries, as offsets into it.
struct apple_double {
  std::optional<std::array<std::uint8_t, 32>> finder_info;  // entry 9
  std::uint32_t resource_offset = 0;                        // entry 2
  std::uint32_t resource_length = 0;
  std::optional<std::uint32_t> created;   // entry 8, seconds since 2000
  std::optional<std::uint32_t> modified;  // (signed in the file)
};

// Reads the header and entry list of an AppleDouble (version 1 or 2) file
// held in BYTES; nothing when it is not one, or an entry lies outside it.
std::optional<apple_double> parse_apple_double(std::span<const std::uint8_t> bytes);

// The MacBinary II header for a file named MAC_NAME (Mac Roman, 1-63 bytes)
// with these Finder information, fork lengths and dates (Mac seconds since
// 1904; 0 when unknown).
macbinary_header make_macbinary_header(std::string_view mac_name,
                                       const std::array<std::uint8_t, 32>& finder_info,
                                       std::uint32_t data_length, std::uint32_t resource_length,
                                       std::uint32_t created, std::uint32_t modified);

// AppleDouble dates count from 2000, the Mac's from 1904.
std::uint32_t mac_date_from_apple_double(std::uint32_t seconds_since_2000);

}  // namespace macfile
