// The two records of an Apple partition map, decoded field by field into
// values and encoded back: the Driver Descriptor in block 0 and one entry in
// each block after it. Nothing else in the program knows where a field lies
// or what a signature is. A record is the first 512 bytes of its block,
// whatever block size the map uses; the rest of a larger block is no part of
// it. Decoding keeps every byte, so encoding a decoded record gives its bytes
// back, and a field changed in the value is the only one changed on the disk.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace hybrid {

constexpr std::size_t record_bytes = 512;

constexpr std::uint16_t descriptor_signature = 0x4552;  // "ER"
constexpr std::uint16_t entry_signature = 0x504D;       // "PM"

// A name or type: 32 bytes, NUL-padded; a text that fills them has no NUL.
using map_text = std::array<std::uint8_t, 32>;

struct driver_descriptor {
  std::uint16_t signature = 0;
  std::uint16_t block_size = 0;   // bytes in a block of the map and of the device
  std::uint32_t block_count = 0;  // blocks of the whole device
  std::uint16_t device_type = 0;
  std::uint16_t device_id = 0;
  std::uint32_t driver_data = 0;
  std::uint16_t driver_count = 0;
  // The driver descriptors and the padding after them, as read: the program
  // never carries a driver over, so it has no use for them one by one.
  std::array<std::uint8_t, 494> drivers{};
  bool operator==(const driver_descriptor&) const = default;
};

struct partition_entry {
  std::uint16_t signature = 0;
  std::uint16_t signature_pad = 0;
  std::uint32_t map_blocks = 0;   // entries in the map, every entry repeats it
  std::uint32_t first_block = 0;  // in the map's blocks, from the start of the device
  std::uint32_t block_count = 0;
  map_text name{};
  map_text type{};
  std::uint32_t data_start = 0;  // the file system's first block inside the partition
  std::uint32_t data_count = 0;
  std::uint32_t status = 0;
  std::uint32_t boot_start = 0;
  std::uint32_t boot_bytes = 0;
  std::uint32_t boot_load = 0;
  std::uint32_t boot_load2 = 0;
  std::uint32_t boot_entry = 0;
  std::uint32_t boot_entry2 = 0;
  std::uint32_t boot_checksum = 0;
  std::array<std::uint8_t, 16> processor{};
  std::array<std::uint8_t, 376> pad{};  // to the end of the record, as read
  bool operator==(const partition_entry&) const = default;
};

// `block` holds at least record_bytes bytes.
driver_descriptor decode_driver_descriptor(const std::uint8_t* block);
void encode_driver_descriptor(const driver_descriptor& descriptor, std::uint8_t* block);
partition_entry decode_partition_entry(const std::uint8_t* block);
void encode_partition_entry(const partition_entry& entry, std::uint8_t* block);

// Signature tests that read the signature's two bytes only, so they serve a
// head too short for a whole record.
bool is_driver_descriptor(const std::uint8_t* block);
bool is_partition_entry(const std::uint8_t* block);

bool is_partition_entry(const partition_entry& entry);
// The jobs' rule for an HFS partition: a type that begins with the nine
// characters "Apple_HFS" ("Apple_HFSX" too). The signature is not tested.
bool is_hfs_entry(const partition_entry& entry);
bool is_hfs_entry(const std::uint8_t* block);
// The type is "Apple_HFS" and nothing more: the partitions hfsutils counts.
bool is_plain_hfs_entry(const partition_entry& entry);
// The map's own entry: a type that begins with "Apple_partition_map".
bool is_map_own_entry(const partition_entry& entry);
// --undo takes a map apart before it cuts the data behind it: an entry first
// loses its signature, so that no reader takes it for an entry any more,
// while its fields still say where the data began.
void clear_entry_signature(partition_entry& entry);
bool is_cleared_entry(const partition_entry& entry);

// The text of a name or type field up to its first NUL, at most `longest`
// characters of it.
std::string text_of(const map_text& field, std::size_t longest = map_text{}.size());
// A field holding `text` (its first 32 characters), NUL-padded.
map_text map_text_of(std::string_view text);

}  // namespace hybrid
