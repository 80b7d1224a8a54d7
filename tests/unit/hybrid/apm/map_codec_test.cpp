#include "hybrid/apm/map_codec.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <iterator>
#include <numeric>
#include <type_traits>
#include <vector>

#include "hybrid/apm/map_walk.h"

namespace hybrid {
namespace {

std::vector<std::uint8_t> fixture(const char* name) {
  std::ifstream in(std::string(ZELVORANT_FIXTURES) + "/" + name, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A field of record R at the offset Apple's layout gives it; `fill` sets it
// so that its bytes on the disk read 1, 2, 3, ...
template <class R>
struct field {
  std::size_t offset, width;
  std::function<void(R&)> fill;
};

template <class R, class T>
field<R> at(std::size_t offset, T R::*member) {
  return {offset, sizeof(T), [member](R& record) {
            if constexpr (std::is_integral_v<T>) {
              record.*member = static_cast<T>(sizeof(T) == 2 ? 0x0102 : 0x01020304);
            } else {
              // Indexed, not std::iota: GCC 12 at -O2 takes iota's pointer
              // walk for a write past the array (-Wstringop-overflow).
              T& bytes = record.*member;
              for (std::size_t i = 0; i < bytes.size(); ++i) {
                bytes[i] = static_cast<std::uint8_t>(i + 1);
              }
            }
          }};
}

// One field set: its bytes at its offset, zeros elsewhere, and the same
// value decoded back. The fields tile the record, so none is forgotten.
template <class R>
void check_fields(const std::vector<field<R>>& fields, R (*decode)(const std::uint8_t*),
                  void (*encode)(const R&, std::uint8_t*)) {
  std::size_t next = 0;
  for (const field<R>& f : fields) {
    SCOPED_TRACE(f.offset);
    EXPECT_EQ(f.offset, next);
    next = f.offset + f.width;
    R record{};
    f.fill(record);
    std::vector<std::uint8_t> bytes(record_bytes, 0xEE), expected(record_bytes, 0);
    std::iota(expected.begin() + static_cast<long>(f.offset),
              expected.begin() + static_cast<long>(next), std::uint8_t{1});
    encode(record, bytes.data());
    EXPECT_EQ(bytes, expected);
    EXPECT_TRUE(decode(bytes.data()) == record);
  }
  EXPECT_EQ(next, record_bytes);
}

TEST(MapCodec, EachFieldAtItsOffset) {
  using d = driver_descriptor;
  check_fields<d>({at(0, &d::signature), at(2, &d::block_size), at(4, &d::block_count),
                   at(8, &d::device_type), at(10, &d::device_id), at(12, &d::driver_data),
                   at(16, &d::driver_count), at(18, &d::drivers)},
                  decode_driver_descriptor, encode_driver_descriptor);
  using e = partition_entry;
  check_fields<e>(
      {at(0, &e::signature), at(2, &e::signature_pad), at(4, &e::map_blocks),
       at(8, &e::first_block), at(12, &e::block_count), at(16, &e::name), at(48, &e::type),
       at(80, &e::data_start), at(84, &e::data_count), at(88, &e::status), at(92, &e::boot_start),
       at(96, &e::boot_bytes), at(100, &e::boot_load), at(104, &e::boot_load2),
       at(108, &e::boot_entry), at(112, &e::boot_entry2), at(116, &e::boot_checksum),
       at(120, &e::processor), at(136, &e::pad)},
      decode_partition_entry, encode_partition_entry);
}

// Real maps of both block sizes, walked in their own: every record decodes
// and encodes back to its bytes, and the walk hands exactly the entries.
TEST(MapCodec, RealMapsComeBackByteForByte) {
  const struct {
    const char* file;
    std::uint16_t block_size;
    std::uint32_t entries;
  } maps[] = {{"node-apm-mac-os-disk-utility.bin", 512, 6},
              {"isolyzer-iso9660_hfs_part.iso", 512, 2},
              {"node-apm-mac-osx-snow-leopard.bin", 2048, 4}};
  for (const auto& map : maps) {
    SCOPED_TRACE(map.file);
    const std::vector<std::uint8_t> image = fixture(map.file);
    ASSERT_GE(image.size(), 32768u);
    std::vector<std::uint8_t> again(record_bytes);
    const driver_descriptor descriptor = decode_driver_descriptor(image.data());
    EXPECT_EQ(descriptor.block_size, map.block_size);
    encode_driver_descriptor(descriptor, again.data());
    EXPECT_TRUE(std::equal(again.begin(), again.end(), image.begin()));

    std::uint32_t handed = 0;
    const auto visit = [&](std::uint32_t block, std::uint8_t* bytes) {
      EXPECT_EQ(block, ++handed);
      const partition_entry entry = decode_partition_entry(bytes);
      EXPECT_EQ(entry.map_blocks, map.entries);
      encode_partition_entry(entry, again.data());
      EXPECT_TRUE(std::equal(again.begin(), again.end(), bytes)) << block;
      return map_visit::go_on;
    };
    const map_block_reader read = read_memory_blocks(image.data(), image.size(), map.block_size);
    EXPECT_EQ(walk_map(map_span::blocks_1_to_n, read, visit, map.block_size),
              map_walk_end::complete);
    EXPECT_EQ(handed, map.entries);
    // A block size that holds no whole record, or more than a walk reads.
    for (const std::size_t size : {0, 1000, 4096})
      walk_map(map_span::blocks_1_to_n, read, visit, size);
    EXPECT_EQ(handed, map.entries);
  }
}

// A type that goes on after "Apple_HFS" is HFS to the jobs, not to hfsutils.
TEST(MapCodec, TypeRules) {
  partition_entry hfsx, map;
  hfsx.type = map_text_of("Apple_HFSX");
  map.type = map_text_of("Apple_partition_map");
  EXPECT_TRUE(is_hfs_entry(hfsx) && !is_plain_hfs_entry(hfsx) && !is_map_own_entry(hfsx));
  EXPECT_TRUE(is_map_own_entry(map) && !is_hfs_entry(map) && !is_partition_entry(map));
}

}  // namespace
}  // namespace hybrid
