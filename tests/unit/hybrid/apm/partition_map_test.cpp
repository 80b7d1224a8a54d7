#include "hybrid/apm/partition_map.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include "hybrid/apm/map_walk.h"
#include "hybrid/io/memory_stream.h"
#include "test_support.h"

namespace hybrid {
namespace {

std::vector<std::uint8_t> bytes_at(const std::vector<std::uint8_t>& image, std::size_t offset,
                                   std::size_t count) {
  return {image.begin() + static_cast<long>(offset),
          image.begin() + static_cast<long>(offset + count)};
}

std::string text_at(const std::vector<std::uint8_t>& image, std::size_t offset) {
  return std::string(reinterpret_cast<const char*>(image.data() + offset));
}

bool zero_from(const std::vector<std::uint8_t>& image, std::size_t from, std::size_t to) {
  for (std::size_t i = from; i < to; ++i)
    if (image[i] != 0) return false;
  return true;
}

TEST(BigEndian, FieldsAndSwaps) {
  std::uint8_t field[4] = {};
  put_be32(field, 0x12345678);
  EXPECT_EQ(field[0], 0x12);
  EXPECT_EQ(field[3], 0x78);
  EXPECT_EQ(get_be32(field), 0x12345678u);
  put_be16(field, 0xA1B2);
  EXPECT_EQ(field[0], 0xA1);
  EXPECT_EQ(get_be16(field), 0xA1B2);
  EXPECT_EQ(swap16(0x0200), 0x0002);
  EXPECT_EQ(swap32(0x000000A4u), 0xA4000000u);
  EXPECT_EQ(swap32(swap32(0xDEADBEEFu)), 0xDEADBEEFu);
}

TEST(WritePartitionMap, IsByteExact) {
  memory_stream out;
  ASSERT_TRUE(write_partition_map(out, 164, 64, 100));
  const auto& map = out.bytes();
  ASSERT_EQ(map.size(), 32768u);

  EXPECT_EQ(bytes_at(map, 0, 8),
            (std::vector<std::uint8_t>{0x45, 0x52, 0x02, 0x00, 0, 0, 0, 0xA4}));
  EXPECT_TRUE(zero_from(map, 8, 512));

  const std::size_t b1 = 512;
  EXPECT_EQ(bytes_at(map, b1, 16),
            (std::vector<std::uint8_t>{0x50, 0x4D, 0, 0, 0, 0, 0, 2, 0, 0, 0, 1, 0, 0, 0, 0x3F}));
  EXPECT_EQ(text_at(map, b1 + 16), "Apple");
  EXPECT_TRUE(zero_from(map, b1 + 21, b1 + 48));
  EXPECT_EQ(text_at(map, b1 + 48), "Apple_partition_map");
  EXPECT_EQ(bytes_at(map, b1 + 80, 12),
            (std::vector<std::uint8_t>{0, 0, 0, 0, 0, 0, 0, 0x3F, 0, 0, 0, 0x37}));
  EXPECT_TRUE(zero_from(map, b1 + 92, b1 + 512));

  const std::size_t b2 = 1024;
  EXPECT_EQ(bytes_at(map, b2, 16), (std::vector<std::uint8_t>{0x50, 0x4D, 0, 0, 0, 0, 0, 2, 0, 0, 0,
                                                              0x40, 0, 0, 0, 0x64}));
  EXPECT_EQ(text_at(map, b2 + 16), "MacOS");
  EXPECT_TRUE(zero_from(map, b2 + 21, b2 + 48));
  EXPECT_EQ(text_at(map, b2 + 48), "Apple_HFS");
  EXPECT_TRUE(zero_from(map, b2 + 57, b2 + 80));
  EXPECT_EQ(bytes_at(map, b2 + 80, 12),
            (std::vector<std::uint8_t>{0, 0, 0, 0, 0, 0, 0, 0x64, 0, 0, 0, 0x37}));
  EXPECT_TRUE(zero_from(map, b2 + 92, 32768));
}

// Builds an image from map entries: block 0 a Driver Descriptor, then one
// block per entry, then `tail_blocks` blocks of zeros.
struct entry {
  const char* type;
  const char* name;
  std::uint32_t first;
  std::uint32_t count;
};

std::vector<std::uint8_t> image_with(std::int32_t map_count, const std::vector<entry>& entries,
                                     std::size_t tail_blocks = 0) {
  std::vector<std::uint8_t> image((1 + entries.size() + tail_blocks) * 512, 0);
  driver_descriptor descriptor;
  descriptor.signature = descriptor_signature;
  encode_driver_descriptor(descriptor, image.data());
  for (std::size_t i = 0; i < entries.size(); ++i) {
    partition_entry entry;
    entry.signature = entry_signature;
    entry.map_blocks = static_cast<std::uint32_t>(map_count);
    entry.first_block = entries[i].first;
    entry.block_count = entries[i].count;
    entry.name = map_text_of(entries[i].name);
    entry.type = map_text_of(entries[i].type);
    encode_partition_entry(entry, image.data() + (i + 1) * 512);
  }
  return image;
}

int list(std::vector<std::uint8_t> image, partition_list& found) {
  memory_stream stream("image", std::move(image));
  clear_partition_list(found);
  return list_hfs_partitions(stream, found);
}

TEST(ListHfsPartitions, FindsTheWrittenMapsPartition) {
  memory_stream image;
  ASSERT_TRUE(write_partition_map(image, 164, 64, 100));
  image.bytes().resize(164 * 512);
  partition_list found;
  clear_partition_list(found);
  ASSERT_EQ(list_hfs_partitions(image, found), 1);
  EXPECT_STREQ(found[0].name, "MacOS");
  EXPECT_EQ(found[0].first_block, 64u);
  EXPECT_EQ(found[0].block_count, 100u);
  EXPECT_EQ(found[1].name[0], '\0');
}

TEST(ListHfsPartitions, WalksBlocksOneToCountPlusOne) {
  partition_list found;
  // Block 1 is examined: an Apple_HFS entry there is a partition that a
  // merge takes too. So is the block after the map's last entry, and a type
  // that goes on after "Apple_HFS" matches.
  EXPECT_EQ(list(image_with(2, {{"Apple_HFS", "first", 1, 5},
                                {"Apple_Free", "free", 6, 2},
                                {"Apple_HFSX", "after", 8, 0}}),
                 found),
            2);
  EXPECT_STREQ(found[0].name, "first");
  EXPECT_STREQ(found[1].name, "after");
  EXPECT_EQ(found[1].block_count, 0u);
}

TEST(ListHfsPartitions, ZeroNegativeAndHugeCounts) {
  partition_list found;
  const std::vector<entry> two = {{"Apple_partition_map", "Apple", 1, 2}, {"Apple_HFS", "a", 3, 1}};
  EXPECT_EQ(list(image_with(0, two), found), 0);
  EXPECT_EQ(list(image_with(-1, two), found), 0);
  // A count far past the end of the file stops at the end of the file.
  EXPECT_EQ(list(image_with(0x7FFFFFFF, two), found), 1);
  EXPECT_STREQ(found[0].name, "a");
}

TEST(ListHfsPartitions, KeepsEightAndCutsLongNames) {
  std::vector<entry> entries = {{"Apple_partition_map", "Apple", 1, 12}};
  for (int i = 0; i < 11; ++i) entries.push_back({"Apple_HFS", "part", 20, 1});
  entries[1].name = "ABCDEFGHIJKLMNOPQRSTUVWXYZ012345";  // 32 characters, no NUL
  partition_list found;
  EXPECT_EQ(list(image_with(12, entries), found), 8);
  EXPECT_STREQ(found[0].name, "ABCDEFGHIJKLMNOPQRSTUVWXYZ01234");
  EXPECT_EQ(found[8].name[0], '\0');  // the slot that ends the list stays empty
  EXPECT_EQ(listed_rows(found), 8);
}

// Found by fuzzing: an Apple_HFS entry without a name ended the list, so the
// partition choice showed fewer rows than there were partitions (none at
// all when the first one had no name).
TEST(ListHfsPartitions, NamelessPartitionsStayInTheRows) {
  partition_list found;
  EXPECT_EQ(list(image_with(4, {{"Apple_partition_map", "Apple", 1, 4},
                                {"Apple_HFS", "one", 5, 1},
                                {"Apple_HFS", "", 6, 1},
                                {"Apple_HFS", "three", 7, 1}}),
                 found),
            3);
  EXPECT_EQ(listed_rows(found), 3);
  EXPECT_STREQ(found[1].name, "(no name)");
  EXPECT_STREQ(found[2].name, "three");
}

TEST(ListHfsPartitions, ShortFilesHoldNoMap) {
  partition_list found;
  EXPECT_EQ(list({}, found), 0);
  EXPECT_EQ(list(std::vector<std::uint8_t>(700, 0), found), 0);
}

// The one walk over a file: the blocks each span hands over, the bound, the
// end of the file, a visitor that stops and a failed read. A walk in order
// costs one seek, then one read per block.
TEST(WalkMap, SpansBoundsAndStops) {
  using span = map_span;
  constexpr std::uint32_t never = 0xFFFFFFFF;
  constexpr std::size_t past_bound =
      static_cast<std::size_t>(max_walked_map_blocks + 4) * block_bytes;
  struct row {
    const char* what;
    span walk;
    std::int32_t count;
    std::size_t file_bytes;
    std::uint32_t stop_at;
    long fail_at;  // stream operation, 0: never
    map_walk_end end;
    std::uint32_t first, last, handed;
    long operations;
  };
  const row rows[] = {
      {"entries", span::blocks_1_to_n, 3, 10 * 512, never, 0, map_walk_end::complete, 1, 3, 3, 4},
      {"past the last", span::blocks_1_to_n_plus_1, 3, 10 * 512, never, 0, map_walk_end::complete,
       1, 4, 4, 6},
      {"whole map", span::blocks_0_to_n_plus_1, 3, 10 * 512, never, 0, map_walk_end::complete, 0, 4,
       5, 6},
      {"zero count", span::blocks_1_to_n, 0, 10 * 512, never, 0, map_walk_end::complete, 0, 0, 0,
       2},
      {"negative count: block 0", span::blocks_0_to_n_plus_1, -1, 10 * 512, never, 0,
       map_walk_end::complete, 0, 0, 1, 3},
      {"zero count, whole map", span::blocks_0_to_n_plus_1, 0, 10 * 512, never, 0,
       map_walk_end::complete, 0, 1, 2, 3},
      {"negative, past the last", span::blocks_1_to_n_plus_1, -1, 10 * 512, never, 0,
       map_walk_end::complete, 0, 0, 0, 3},
      {"zero, past the last", span::blocks_1_to_n_plus_1, 0, 10 * 512, never, 0,
       map_walk_end::complete, 0, 0, 0, 3},
      {"end of the file", span::blocks_1_to_n_plus_1, 100, 10 * 512 + 100, never, 0,
       map_walk_end::complete, 1, 9, 9, 12},
      {"no block 1", span::blocks_0_to_n_plus_1, 3, 700, never, 0, map_walk_end::complete, 0, 0, 1,
       3},
      {"bound", span::blocks_1_to_n_plus_1, 0x7FFFFFFF, past_bound, never, 0,
       map_walk_end::complete, 1, 65537, 65537, 65539},
      {"bound, entries", span::blocks_1_to_n, 0x7FFFFFFF, past_bound, never, 0,
       map_walk_end::complete, 1, 65536, 65536, 65537},
      {"stopped", span::blocks_1_to_n_plus_1, 5, 10 * 512, 3, 0, map_walk_end::stopped, 1, 3, 3, 5},
      {"read failed", span::blocks_1_to_n_plus_1, 3, 10 * 512, never, 5, map_walk_end::read_failed,
       1, 2, 2, 5},
      {"seek failed", span::blocks_1_to_n, 3, 10 * 512, never, 1, map_walk_end::read_failed, 0, 0,
       0, 1},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.what);
    auto image = image_with(r.count, {{"Apple_partition_map", "Apple", 1, 1}});
    image.resize(r.file_bytes);
    test::failing_stream stream("image", std::move(image));
    stream.fail_at = r.fail_at;
    std::uint32_t first = 0, last = 0, handed = 0;
    stream_blocks blocks(stream);
    const map_walk_end end = walk_map(r.walk, blocks, [&](std::uint32_t block, std::uint8_t*) {
      if (handed++ == 0) first = block;
      last = block;
      return block == r.stop_at ? map_visit::stop : map_visit::go_on;
    });
    EXPECT_EQ(end, r.end);
    EXPECT_EQ(first, r.first);
    EXPECT_EQ(last, r.last);
    EXPECT_EQ(handed, r.handed);
    EXPECT_EQ(stream.operations, r.operations);
  }
}

// "PM" at byte 512 makes a map of 512-byte blocks whatever block 0 says;
// one at 2048 only with a Driver Descriptor that counts 2048-byte blocks.
TEST(WalkMap, FindsTheMapsBlockSize) {
  const struct {
    std::uint16_t descriptor_block_size;  // 0: no Driver Descriptor
    std::size_t entry_at, head_bytes, found;
  } rows[] = {{512, 512, 4096, 512},    {0, 512, 4096, 512},  {2048, 512, 4096, 512},
              {2048, 2048, 4096, 2048}, {0, 2048, 4096, 0},   {512, 2048, 4096, 0},
              {2048, 2048, 4000, 0},    {2048, 1024, 4096, 0}};
  for (const auto& row : rows) {
    SCOPED_TRACE(testing::Message() << row.descriptor_block_size << " " << row.entry_at);
    std::vector<std::uint8_t> head(4096);
    if (row.descriptor_block_size != 0) std::memcpy(head.data(), "ER", 2);
    put_be16(head.data() + 2, row.descriptor_block_size);
    std::memcpy(head.data() + row.entry_at, "PM", 2);
    EXPECT_EQ(find_map_block_size(head.data(), row.head_bytes), row.found);
  }
}

std::vector<std::uint8_t> fixture(const char* name) {
  std::ifstream in(std::string(ZELVORANT_FIXTURES) + "/" + name, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(ListHfsPartitions, RealMaps) {
  partition_list found;
  // The Mac's own disk utility: HFS and HFSX entries among others.
  auto disk_utility = fixture("node-apm-mac-os-disk-utility.bin");
  ASSERT_FALSE(disk_utility.empty());
  const int n = list(disk_utility, found);
  EXPECT_GE(n, 1);
  for (int i = 0; i < n; ++i)
    EXPECT_EQ(std::strlen(found[static_cast<std::size_t>(i)].name) < 32, true);

  // Another tool's hybrid: one Apple_HFS partition at blocks 16 to 1763.
  auto hybrid = fixture("isolyzer-iso9660_hfs_part.iso");
  ASSERT_FALSE(hybrid.empty());
  ASSERT_EQ(list(hybrid, found), 1);
  EXPECT_EQ(found[0].first_block, 16u);
  EXPECT_EQ(found[0].block_count, 1748u);

  // 2048-byte map entries: our 512-byte walk finds nothing and must not stumble.
  auto dvd = fixture("node-apm-mac-osx-snow-leopard.bin");
  ASSERT_FALSE(dvd.empty());
  EXPECT_GE(list(dvd, found), 0);
}

TEST(BareVolume, Signatures) {
  const std::uint8_t hfs[2] = {'B', 'D'}, plus[2] = {'H', '+'}, hfsx[2] = {'H', 'X'},
                     none[2] = {'E', 'R'};
  EXPECT_EQ(bare_volume_kind(hfs), bare_volume::hfs);
  EXPECT_EQ(bare_volume_kind(plus), bare_volume::hfs_plus);
  EXPECT_EQ(bare_volume_kind(hfsx), bare_volume::hfs_plus);
  EXPECT_EQ(bare_volume_kind(none), bare_volume::none);
}

}  // namespace
}  // namespace hybrid
