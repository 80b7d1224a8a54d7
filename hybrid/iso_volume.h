// What the first sectors of an ISO 9660 image say, read from bytes already
// in memory: the volume descriptors from byte 32,768 on, and what the system
// area before them holds. The target checks and the image description both
// read the image through these, so they agree on what a volume is.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

namespace hybrid {

// ISO 9660: the volume descriptors are 2,048-byte sectors from byte 32,768
// on, each beginning with its type and "CD001"; type 1 is the primary one,
// 255 ends the set.
namespace iso9660 {
constexpr std::size_t sector_bytes = 2048;
constexpr std::uint8_t boot_record = 0, primary_descriptor = 1, supplementary_descriptor = 2,
                       set_terminator = 255;
constexpr std::size_t volume_id = 40;            // 32 characters, padded with spaces
constexpr std::size_t volume_space_size = 80;    // both-endian u32, in logical blocks
constexpr std::size_t escape_sequences = 88;     // 32 bytes; Joliet's %/@, %/C or %/E
constexpr std::size_t logical_block_size = 128;  // both-endian u16
constexpr std::size_t root_record = 156;         // the root directory's record, 34 bytes
// More descriptors than any authoring tool writes; a walk stops there.
constexpr std::size_t max_descriptors = 32;
}  // namespace iso9660

// "CD001" after the type byte.
bool is_volume_descriptor(const std::uint8_t* sector);
// Both-endian fields are believed only when their two copies agree.
std::optional<std::uint32_t> both_endian32(const std::uint8_t* at);
std::optional<std::uint16_t> both_endian16(const std::uint8_t* at);

// The size a primary volume descriptor declares; nothing when its numbers
// cannot be believed (the two copies differ, a block size other than 512,
// 1,024 or 2,048).
struct iso_volume_size {
  std::uint32_t blocks = 0;
  std::uint16_t block_size = 0;
  std::uint64_t bytes() const { return std::uint64_t{blocks} * block_size; }
};
std::optional<iso_volume_size> primary_volume_size(const std::uint8_t* sector);

// The system area's first 1,024 bytes: 0x55AA at 510 ends a PC boot record,
// "EFI PART" at 512 begins a GPT header.
bool has_pc_boot_record(const std::uint8_t* head);
bool has_gpt_header(const std::uint8_t* head);
// Those two in words, for a question (text::system_area_holding).
const char* system_area_contents(const std::uint8_t* head);

}  // namespace hybrid
