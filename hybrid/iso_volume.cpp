#include "hybrid/iso_volume.h"

#include <cstring>

#include "hybrid/apm/big_endian.h"
#include "hybrid/messages.h"

namespace hybrid {

bool is_volume_descriptor(const std::uint8_t* sector) {
  return std::memcmp(sector + 1, "CD001", 5) == 0;
}

std::optional<std::uint32_t> both_endian32(const std::uint8_t* at) {
  if (get_le32(at) != get_be32(at + 4)) return std::nullopt;
  return get_le32(at);
}

std::optional<std::uint16_t> both_endian16(const std::uint8_t* at) {
  if (get_le16(at) != get_be16(at + 2)) return std::nullopt;
  return get_le16(at);
}

std::optional<iso_volume_size> primary_volume_size(const std::uint8_t* sector) {
  const std::optional<std::uint32_t> blocks = both_endian32(sector + iso9660::volume_space_size);
  const std::optional<std::uint16_t> block_size =
      both_endian16(sector + iso9660::logical_block_size);
  if (!blocks || !block_size) return std::nullopt;
  if (*block_size != 512 && *block_size != 1024 && *block_size != 2048) return std::nullopt;
  return iso_volume_size{*blocks, *block_size};
}

bool has_pc_boot_record(const std::uint8_t* head) { return head[510] == 0x55 && head[511] == 0xAA; }

bool has_gpt_header(const std::uint8_t* head) {
  return std::memcmp(head + 512, "EFI PART", 8) == 0;
}

const char* system_area_contents(const std::uint8_t* head) {
  return text::system_area_holding(has_pc_boot_record(head), has_gpt_header(head));
}

}  // namespace hybrid
