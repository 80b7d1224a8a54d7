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

// A field of record R at the offset Apple's layout gives it. `fill` sets it
// so that its bytes on the disk read 1, 2, 3, ... (big-endian numbers).
template <class R>
struct field {
  const char* name;
  std::size_t offset, width;
  std::function<void(R&)> fill;
};

template <class R, class T>
field<R> at(const char* name, std::size_t offset, T R::*member) {
  return {name, offset, sizeof(T), [member](R& record) {
            if constexpr (std::is_integral_v<T>) {
              T value = 0;
              for (std::size_t i = 0; i < sizeof(T); ++i)
                value = static_cast<T>(value << 8 | (i + 1));
              record.*member = value;
            } else {
              std::iota((record.*member).begin(), (record.*member).end(), std::uint8_t{1});
            }
          }};
}

// One field set, all others zero: the record encodes to that field's bytes
// at its offset and zeros elsewhere, and decodes back to the same value. The
// fields tile the 512 bytes, so none is forgotten.
template <class R>
void check_fields(const std::vector<field<R>>& fields, R (*decode)(const std::uint8_t*),
                  void (*encode)(const R&, std::uint8_t*)) {
  std::size_t next = 0;
  for (const field<R>& f : fields) {
    SCOPED_TRACE(f.name);
    EXPECT_EQ(f.offset, next);
    next = f.offset + f.width;
    R record{};
    f.fill(record);
    std::vector<std::uint8_t> bytes(record_bytes, 0xEE);
    encode(record, bytes.data());
    for (std::size_t i = 0; i < record_bytes; ++i) {
      const bool inside = i >= f.offset && i < f.offset + f.width;
      ASSERT_EQ(bytes[i], inside ? static_cast<std::uint8_t>(i - f.offset + 1) : 0) << i;
    }
    EXPECT_TRUE(decode(bytes.data()) == record);
  }
  EXPECT_EQ(next, record_bytes);
}

TEST(MapCodec, EachFieldAtItsOffset) {
  using d = driver_descriptor;
  check_fields<d>({at("signature", 0, &d::signature), at("block size", 2, &d::block_size),
                   at("block count", 4, &d::block_count), at("device type", 8, &d::device_type),
                   at("device id", 10, &d::device_id), at("driver data", 12, &d::driver_data),
                   at("driver count", 16, &d::driver_count), at("drivers", 18, &d::drivers)},
                  decode_driver_descriptor, encode_driver_descriptor);
  using e = partition_entry;
  check_fields<e>(
      {at("signature", 0, &e::signature), at("signature pad", 2, &e::signature_pad),
       at("map blocks", 4, &e::map_blocks), at("first block", 8, &e::first_block),
       at("block count", 12, &e::block_count), at("name", 16, &e::name), at("type", 48, &e::type),
       at("data start", 80, &e::data_start), at("data count", 84, &e::data_count),
       at("status", 88, &e::status), at("boot start", 92, &e::boot_start),
       at("boot bytes", 96, &e::boot_bytes), at("boot load", 100, &e::boot_load),
       at("boot load 2", 104, &e::boot_load2), at("boot entry", 108, &e::boot_entry),
       at("boot entry 2", 112, &e::boot_entry2), at("boot checksum", 116, &e::boot_checksum),
       at("processor", 120, &e::processor), at("pad", 136, &e::pad)},
      decode_partition_entry, encode_partition_entry);
}

// Real maps, other tools' and the Mac's own, of both block sizes: walked
// in their own block size, every record decodes and encodes back to its
// bytes, and the walk hands exactly the map's entries.
TEST(MapCodec, RealMapsComeBackByteForByte) {
  const struct {
    const char* file;
    std::uint16_t block_size;
    std::uint32_t entries;
  } maps[] = {
      {"node-apm-mac-os-disk-utility.bin", 512, 6},
      {"isolyzer-iso9660_hfs_part.iso", 512, 2},
      {"node-apm-mac-osx-snow-leopard.bin", 2048, 4},
  };
  for (const auto& map : maps) {
    SCOPED_TRACE(map.file);
    const std::vector<std::uint8_t> image = fixture(map.file);
    ASSERT_GE(image.size(), 32768u);
    std::vector<std::uint8_t> again(record_bytes);
    const driver_descriptor descriptor = decode_driver_descriptor(image.data());
    EXPECT_TRUE(is_driver_descriptor(image.data()));
    EXPECT_EQ(descriptor.block_size, map.block_size);
    encode_driver_descriptor(descriptor, again.data());
    EXPECT_TRUE(std::equal(again.begin(), again.end(), image.begin()));

    std::vector<std::uint32_t> handed;
    const map_walk_end end = walk_map(
        map_span::blocks_1_to_n, read_memory_blocks(image.data(), image.size(), map.block_size),
        [&](std::uint32_t block, std::uint8_t* bytes) {
          handed.push_back(block);
          const partition_entry entry = decode_partition_entry(bytes);
          EXPECT_TRUE(is_partition_entry(entry) && is_partition_entry(bytes)) << block;
          EXPECT_EQ(entry.map_blocks, map.entries) << block;
          encode_partition_entry(entry, again.data());
          const auto* on_disk = image.data() + std::size_t{block} * map.block_size;
          EXPECT_TRUE(std::equal(again.begin(), again.end(), on_disk)) << block;
          return map_visit::go_on;
        },
        map.block_size);
    EXPECT_EQ(end, map_walk_end::complete);
    std::vector<std::uint32_t> expected(map.entries);
    std::iota(expected.begin(), expected.end(), 1u);
    EXPECT_EQ(handed, expected);
  }
}

// The type rules the listings, the merge, --info and the map's own entry use.
TEST(MapCodec, TypesAndSignatures) {
  const struct {
    const char* type;
    bool hfs, plain_hfs, map_own;
  } rows[] = {
      {"Apple_HFS", true, true, false},
      {"Apple_HFSX", true, false, false},
      {"Apple_HF", false, false, false},
      {"apple_hfs", false, false, false},
      {"Apple_partition_map", false, false, true},
      {"Apple_partition_mapping", false, false, true},
      {"", false, false, false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.type);
    partition_entry entry;
    entry.type = map_text_of(row.type);
    std::vector<std::uint8_t> block(record_bytes);
    encode_partition_entry(entry, block.data());
    EXPECT_EQ(is_hfs_entry(entry), row.hfs);
    EXPECT_EQ(is_hfs_entry(block.data()), row.hfs);
    EXPECT_EQ(is_plain_hfs_entry(entry), row.plain_hfs);
    EXPECT_EQ(is_map_own_entry(entry), row.map_own);
    EXPECT_FALSE(is_partition_entry(entry));
  }
  // Two bytes are all the signature tests read.
  const std::uint8_t er[2] = {'E', 'R'}, pm[2] = {'P', 'M'}, re[2] = {'R', 'E'};
  EXPECT_TRUE(is_driver_descriptor(er) && !is_partition_entry(er));
  EXPECT_TRUE(is_partition_entry(pm) && !is_driver_descriptor(pm));
  EXPECT_FALSE(is_driver_descriptor(re) || is_partition_entry(re));
}

TEST(MapCodec, TextFields) {
  const std::string full = "ABCDEFGHIJKLMNOPQRSTUVWXYZ012345";  // 32: no NUL on the disk
  const map_text field = map_text_of(full + "678");
  EXPECT_EQ(text_of(field), full);
  EXPECT_EQ(text_of(field, 31), full.substr(0, 31));
  const map_text short_name = map_text_of("Mac");
  EXPECT_EQ(text_of(short_name), "Mac");
  EXPECT_TRUE(std::all_of(short_name.begin() + 3, short_name.end(), [](auto b) { return b == 0; }));
}

}  // namespace
}  // namespace hybrid
