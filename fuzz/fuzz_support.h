// What the fuzz targets share: a user who answers from the input, and the
// checks that every hybrid image must pass whatever it was made from.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "hybrid/apm/map_codec.h"
#include "hybrid/apm/partition_map.h"
#include "hybrid/image_info.h"
#include "hybrid/questions.h"

namespace fuzz {

// Answers every question from one byte of the input.
class answering_user : public hybrid::questions {
 public:
  explicit answering_user(std::uint8_t answers) : answers_(answers) {}
  void notice(const std::string& text) override { notices.push_back(text); }
  bool warning(const std::string&) override { return (answers_ & 1) != 0; }
  int choose_partition(const hybrid::partition_list& list) override {
    const int rows = hybrid::listed_rows(list);
    if (rows < 2 || rows > hybrid::max_partitions) fail("partition question with a bad list");
    switch ((answers_ >> 1) & 3) {
      case 0:
        return hybrid::choice_cancelled;
      case 1:
        return hybrid::choice_all;
      default:
        return (answers_ >> 3) % rows;
    }
  }
  std::vector<std::string> notices;

  [[noreturn]] static void fail(const char* what) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
  }

 private:
  std::uint8_t answers_;
};

inline void check(bool holds, const char* what) {
  if (!holds) answering_user::fail(what);
}

// A finished hybrid: block 0 is a Driver Descriptor whose block count is the
// image's length, every Apple_HFS entry's data lie inside the image and
// after the ISO data, and the ISO data past the system area are untouched;
// --info finds nothing wrong with it.
inline void check_hybrid(const std::vector<std::uint8_t>& image,
                         const std::vector<std::uint8_t>& iso_before) {
  check(image.size() >= iso_before.size(), "hybrid shorter than its ISO image");
  check(image.size() % hybrid::block_bytes == 0, "hybrid not whole blocks");
  check(hybrid::is_driver_descriptor(image.data()), "hybrid without a Driver Descriptor");
  const std::uint64_t blocks = hybrid::decode_driver_descriptor(image.data()).block_count;
  check(blocks * hybrid::block_bytes == image.size(), "block count disagrees with the length");
  const std::uint8_t* first_entry = image.data() + hybrid::block_bytes;
  const std::uint32_t entries = hybrid::decode_partition_entry(first_entry).map_blocks;
  check(entries >= 1 && entries < hybrid::map_area_blocks,
        "map entry count out of the system area");
  const std::uint64_t iso_blocks =
      (iso_before.size() + hybrid::block_bytes - 1) / hybrid::block_bytes;
  int hfs_entries = 0;
  for (std::uint32_t index = 1; index <= entries; ++index) {
    const hybrid::partition_entry entry =
        hybrid::decode_partition_entry(image.data() + index * hybrid::block_bytes);
    check(entry.map_blocks == entries, "entries disagree on the count");
    if (index == 1 || !hybrid::is_hfs_entry(entry)) continue;
    ++hfs_entries;
    const std::uint64_t start = entry.first_block;
    const std::uint64_t count = entry.block_count;
    check(count > 0, "an appended partition without blocks");
    check(start >= iso_blocks, "a partition inside the ISO data");
    check(start + count <= blocks, "a partition past the end of the image");
  }
  check(hfs_entries > 0 || hybrid::is_hfs_entry(first_entry), "a hybrid without an HFS partition");
  const std::size_t head = hybrid::map_area_bytes;
  for (std::size_t i = head; i < iso_before.size(); ++i) {
    if (image[i] != iso_before[i]) check(false, "ISO data changed past the system area");
  }
  hybrid::image_info info;
  const auto read = [&](std::uint64_t offset, std::uint8_t* into, std::size_t count) {
    std::memcpy(into, image.data() + offset, count);
    return true;
  };
  check(hybrid::describe_image(read, image.size(), info, hybrid::judged_as::own_hybrid) &&
            info.sound(),
        "a completed hybrid that --info flags");
}

}  // namespace fuzz
