#include "hybrid/apm/map_codec.h"

#include <algorithm>

#include "hybrid/apm/big_endian.h"

namespace hybrid {
namespace {

// Where each field of the Driver Descriptor lies.
namespace ddr {
constexpr std::size_t signature = 0;
constexpr std::size_t block_size = 2;
constexpr std::size_t block_count = 4;
constexpr std::size_t device_type = 8;
constexpr std::size_t device_id = 10;
constexpr std::size_t driver_data = 12;
constexpr std::size_t driver_count = 16;
constexpr std::size_t drivers = 18;
}  // namespace ddr

// Where each field of a map entry lies.
namespace pm {
constexpr std::size_t signature = 0;
constexpr std::size_t signature_pad = 2;
constexpr std::size_t map_blocks = 4;
constexpr std::size_t first_block = 8;
constexpr std::size_t block_count = 12;
constexpr std::size_t name = 16;
constexpr std::size_t type = 48;
constexpr std::size_t data_start = 80;
constexpr std::size_t data_count = 84;
constexpr std::size_t status = 88;
constexpr std::size_t boot_start = 92;
constexpr std::size_t boot_bytes = 96;
constexpr std::size_t boot_load = 100;
constexpr std::size_t boot_load2 = 104;
constexpr std::size_t boot_entry = 108;
constexpr std::size_t boot_entry2 = 112;
constexpr std::size_t boot_checksum = 116;
constexpr std::size_t processor = 120;
constexpr std::size_t pad = 136;
}  // namespace pm

static_assert(ddr::drivers + driver_descriptor{}.drivers.size() == record_bytes);
static_assert(pm::pad + partition_entry{}.pad.size() == record_bytes);

template <std::size_t n>
void get_bytes(const std::uint8_t* at, std::array<std::uint8_t, n>& field) {
  std::copy_n(at, n, field.begin());
}

template <std::size_t n>
void put_bytes(std::uint8_t* at, const std::array<std::uint8_t, n>& field) {
  std::copy(field.begin(), field.end(), at);
}

bool type_begins(const partition_entry& entry, std::string_view prefix) {
  return std::equal(prefix.begin(), prefix.end(), entry.type.begin());
}

}  // namespace

driver_descriptor decode_driver_descriptor(const std::uint8_t* block) {
  driver_descriptor d;
  d.signature = get_be16(block + ddr::signature);
  d.block_size = get_be16(block + ddr::block_size);
  d.block_count = get_be32(block + ddr::block_count);
  d.device_type = get_be16(block + ddr::device_type);
  d.device_id = get_be16(block + ddr::device_id);
  d.driver_data = get_be32(block + ddr::driver_data);
  d.driver_count = get_be16(block + ddr::driver_count);
  get_bytes(block + ddr::drivers, d.drivers);
  return d;
}

void encode_driver_descriptor(const driver_descriptor& d, std::uint8_t* block) {
  put_be16(block + ddr::signature, d.signature);
  put_be16(block + ddr::block_size, d.block_size);
  put_be32(block + ddr::block_count, d.block_count);
  put_be16(block + ddr::device_type, d.device_type);
  put_be16(block + ddr::device_id, d.device_id);
  put_be32(block + ddr::driver_data, d.driver_data);
  put_be16(block + ddr::driver_count, d.driver_count);
  put_bytes(block + ddr::drivers, d.drivers);
}

partition_entry decode_partition_entry(const std::uint8_t* block) {
  partition_entry e;
  e.signature = get_be16(block + pm::signature);
  e.signature_pad = get_be16(block + pm::signature_pad);
  e.map_blocks = get_be32(block + pm::map_blocks);
  e.first_block = get_be32(block + pm::first_block);
  e.block_count = get_be32(block + pm::block_count);
  get_bytes(block + pm::name, e.name);
  get_bytes(block + pm::type, e.type);
  e.data_start = get_be32(block + pm::data_start);
  e.data_count = get_be32(block + pm::data_count);
  e.status = get_be32(block + pm::status);
  e.boot_start = get_be32(block + pm::boot_start);
  e.boot_bytes = get_be32(block + pm::boot_bytes);
  e.boot_load = get_be32(block + pm::boot_load);
  e.boot_load2 = get_be32(block + pm::boot_load2);
  e.boot_entry = get_be32(block + pm::boot_entry);
  e.boot_entry2 = get_be32(block + pm::boot_entry2);
  e.boot_checksum = get_be32(block + pm::boot_checksum);
  get_bytes(block + pm::processor, e.processor);
  get_bytes(block + pm::pad, e.pad);
  return e;
}

void encode_partition_entry(const partition_entry& e, std::uint8_t* block) {
  put_be16(block + pm::signature, e.signature);
  put_be16(block + pm::signature_pad, e.signature_pad);
  put_be32(block + pm::map_blocks, e.map_blocks);
  put_be32(block + pm::first_block, e.first_block);
  put_be32(block + pm::block_count, e.block_count);
  put_bytes(block + pm::name, e.name);
  put_bytes(block + pm::type, e.type);
  put_be32(block + pm::data_start, e.data_start);
  put_be32(block + pm::data_count, e.data_count);
  put_be32(block + pm::status, e.status);
  put_be32(block + pm::boot_start, e.boot_start);
  put_be32(block + pm::boot_bytes, e.boot_bytes);
  put_be32(block + pm::boot_load, e.boot_load);
  put_be32(block + pm::boot_load2, e.boot_load2);
  put_be32(block + pm::boot_entry, e.boot_entry);
  put_be32(block + pm::boot_entry2, e.boot_entry2);
  put_be32(block + pm::boot_checksum, e.boot_checksum);
  put_bytes(block + pm::processor, e.processor);
  put_bytes(block + pm::pad, e.pad);
}

bool is_driver_descriptor(const std::uint8_t* block) {
  return get_be16(block + ddr::signature) == descriptor_signature;
}

bool is_partition_entry(const std::uint8_t* block) {
  return get_be16(block + pm::signature) == entry_signature;
}

bool is_partition_entry(const partition_entry& entry) { return entry.signature == entry_signature; }

bool is_hfs_entry(const partition_entry& entry) { return type_begins(entry, "Apple_HFS"); }

bool is_hfs_entry(const std::uint8_t* block) { return is_hfs_entry(decode_partition_entry(block)); }

bool is_plain_hfs_entry(const partition_entry& entry) {
  return type_begins(entry, std::string_view("Apple_HFS", 10));  // the NUL after it too
}

bool is_map_own_entry(const partition_entry& entry) {
  return type_begins(entry, "Apple_partition_map");
}

void clear_entry_signature(partition_entry& entry) { entry.signature = 0; }

bool is_cleared_entry(const partition_entry& entry) { return entry.signature == 0; }

std::string text_of(const map_text& field, std::size_t longest) {
  const auto end = field.begin() + static_cast<std::ptrdiff_t>(std::min(longest, field.size()));
  return std::string(field.begin(), std::find(field.begin(), end, 0));
}

map_text map_text_of(std::string_view text) {
  map_text field{};
  std::copy_n(text.begin(), std::min(text.size(), field.size()), field.begin());
  return field;
}

}  // namespace hybrid
