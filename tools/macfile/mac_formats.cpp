#include "tools/macfile/mac_formats.h"

#include <algorithm>

#include "hybrid/apm/big_endian.h"

namespace macfile {
namespace {

using hybrid::get_be16;
using hybrid::get_be32;
using hybrid::put_be16;
using hybrid::put_be32;

constexpr std::uint32_t apple_double_magic = 0x00051607;
constexpr std::size_t apple_double_entries_at = 26;
constexpr std::size_t apple_double_entry_size = 12;
enum : std::uint32_t { entry_resource_fork = 2, entry_dates = 8, entry_finder_info = 9 };

// Header fields of MacBinary.
constexpr std::size_t mb_name_length = 1, mb_name = 2, mb_type = 65, mb_flags_high = 73,
                      mb_zero_1 = 74, mb_location = 75, mb_zero_2 = 82, mb_data_length = 83,
                      mb_resource_length = 87, mb_created = 91, mb_modified = 95,
                      mb_flags_low = 101, mb_secondary_length = 120, mb_writer_version = 122,
                      mb_reader_version = 123, mb_crc = 124;
constexpr std::uint8_t macbinary_2_version = 129;
// MacBinary I leaves every byte from the comment length on zero.
constexpr std::size_t mb_version_1_zero_from = 99;

std::uint64_t padded(std::uint64_t length) { return (length + 127) / 128 * 128; }

void set_crc(macbinary_header& header) {
  put_be16(&header[mb_crc], macbinary_crc(std::span(header).first(mb_crc)));
}

}  // namespace

std::uint16_t macbinary_crc(std::span<const std::uint8_t> bytes) {
  std::uint16_t crc = 0;
  for (const std::uint8_t byte : bytes) {
    crc = static_cast<std::uint16_t>(crc ^ (byte << 8));
    for (int bit = 0; bit < 8; ++bit) {
      crc = static_cast<std::uint16_t>((crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1);
    }
  }
  return crc;
}

macbinary_kind detect_macbinary(std::span<const std::uint8_t> head, std::uint64_t file_length) {
  if (head.size() < macbinary_header_size || file_length < macbinary_header_size) {
    return macbinary_kind::none;
  }
  if (head[0] != 0 || head[mb_zero_1] != 0 || head[mb_zero_2] != 0 || head[mb_name_length] == 0 ||
      head[mb_name_length] > 63) {
    return macbinary_kind::none;
  }
  const std::uint64_t data = get_be32(&head[mb_data_length]);
  const std::uint64_t resource = get_be32(&head[mb_resource_length]);
  if (macbinary_crc(head.first(mb_crc)) == get_be16(&head[mb_crc])) {
    const std::uint64_t secondary = get_be16(&head[mb_secondary_length]);
    const bool complete =
        macbinary_header_size + padded(secondary) + padded(data) + resource <= file_length;
    return complete ? macbinary_kind::version_2 : macbinary_kind::none;
  }
  const auto tail =
      head.subspan(mb_version_1_zero_from, macbinary_header_size - mb_version_1_zero_from);
  if (std::any_of(tail.begin(), tail.end(), [](std::uint8_t byte) { return byte != 0; })) {
    return macbinary_kind::none;
  }
  // Without a CRC, only a file the forks fill exactly is taken for one.
  const std::uint64_t shortest = macbinary_header_size + padded(data) + resource;
  const std::uint64_t longest = macbinary_header_size + padded(data) + padded(resource);
  return file_length >= shortest && file_length <= longest ? macbinary_kind::version_1
                                                           : macbinary_kind::none;
}

macbinary_header upgrade_macbinary(const macbinary_header& version_1) {
  macbinary_header header = version_1;
  header[mb_writer_version] = macbinary_2_version;
  header[mb_reader_version] = macbinary_2_version;
  set_crc(header);
  return header;
}

std::uint32_t macbinary_data_length(const macbinary_header& header) {
  return get_be32(&header[mb_data_length]);
}

std::uint32_t macbinary_resource_length(const macbinary_header& header) {
  return get_be32(&header[mb_resource_length]);
}

bool looks_like_binhex(std::string_view first_bytes) {
  return first_bytes.find("(This file must be converted with BinHex") != std::string_view::npos;
}

std::optional<apple_double> parse_apple_double(std::span<const std::uint8_t> bytes) {
  if (bytes.size() < apple_double_entries_at) return std::nullopt;
  const std::uint32_t version = get_be32(&bytes[4]);
  if (get_be32(&bytes[0]) != apple_double_magic ||
      (version != 0x00010000 && version != 0x00020000)) {
    return std::nullopt;
  }
  const std::size_t count = get_be16(&bytes[24]);
  if (apple_double_entries_at + count * apple_double_entry_size > bytes.size()) return std::nullopt;
  apple_double result;
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint8_t* entry = &bytes[apple_double_entries_at + i * apple_double_entry_size];
    const std::uint32_t id = get_be32(entry);
    const std::uint64_t offset = get_be32(entry + 4);
    const std::uint64_t length = get_be32(entry + 8);
    if (offset + length > bytes.size()) return std::nullopt;
    const std::uint8_t* at = bytes.data() + offset;
    if (id == entry_resource_fork) {
      result.resource_offset = static_cast<std::uint32_t>(offset);
      result.resource_length = static_cast<std::uint32_t>(length);
    } else if (id == entry_finder_info && length >= 32) {
      // macOS writes its extended attributes after the 32 bytes.
      result.finder_info.emplace();
      std::copy_n(at, 32, result.finder_info->begin());
    } else if (id == entry_dates && length >= 8) {
      result.created = get_be32(at);
      result.modified = get_be32(at + 4);
    }
  }
  return result;
}

macbinary_header make_macbinary_header(std::string_view mac_name,
                                       const std::array<std::uint8_t, 32>& finder_info,
                                       std::uint32_t data_length, std::uint32_t resource_length,
                                       std::uint32_t created, std::uint32_t modified) {
  macbinary_header header{};
  const std::size_t name_length = std::min<std::size_t>(mac_name.size(), 63);
  header[mb_name_length] = static_cast<std::uint8_t>(name_length);
  std::copy_n(mac_name.begin(), name_length, &header[mb_name]);
  // Type, creator, flags, location: the Finder information in its order.
  std::copy_n(finder_info.begin(), 8, &header[mb_type]);
  // On the desktop and already seen by the Finder are a copy's to learn
  // afresh: the Finder then reads an application's icons from its bundle.
  header[mb_flags_high] = static_cast<std::uint8_t>(finder_info[8] & ~0x01u);
  header[mb_flags_low] = static_cast<std::uint8_t>(finder_info[9] & ~0x01u);
  std::copy_n(&finder_info[10], 4, &header[mb_location]);
  put_be32(&header[mb_data_length], data_length);
  put_be32(&header[mb_resource_length], resource_length);
  put_be32(&header[mb_created], created);
  put_be32(&header[mb_modified], modified);
  header[mb_writer_version] = macbinary_2_version;
  header[mb_reader_version] = macbinary_2_version;
  set_crc(header);
  return header;
}

std::uint32_t mac_date_from_apple_double(std::uint32_t seconds_since_2000) {
  // 1904-01-01 to 2000-01-01; a date before 2000 is negative in the file,
  // and the unsigned sum wraps it into place.
  constexpr std::uint32_t from_1904_to_2000 = 3029529600u;
  return seconds_since_2000 + from_1904_to_2000;
}

}  // namespace macfile
