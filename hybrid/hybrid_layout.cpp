#include "hybrid/hybrid_layout.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>

#include "hybrid/messages.h"

namespace hybrid {
namespace {

constexpr std::uint64_t max_blocks = std::numeric_limits<std::uint32_t>::max();

std::string partition_name(const partition_entry& entry) {
  return text_of(entry.name, entry.name.size() - 1);
}

// The data of a partition must lie inside the HFS file: a truncated image,
// or an entry that points past its end, would otherwise append bytes that
// are not there.
refusal check_inside(const char* name, std::uint32_t first_block, std::uint32_t block_count,
                     std::uint64_t hfs_bytes) {
  const std::uint64_t end = (std::uint64_t{first_block} + block_count) * block_bytes;
  if (end > hfs_bytes) return refusal::because(text::partition_past_end(name, end, hfs_bytes));
  return accepted();
}

}  // namespace

std::uint64_t hybrid_layout::append_bytes() const {
  std::uint64_t total = pad_bytes;
  for (const append_run& run : runs) total += run.byte_count;
  return total;
}

std::uint64_t padded_length(std::uint64_t iso_bytes) {
  return (iso_bytes + block_bytes - 1) / block_bytes * block_bytes;
}

refusal layout_chosen_partition(const hfs_partition& partition, std::uint64_t iso_bytes,
                                std::uint64_t hfs_bytes, hybrid_layout& layout) {
  if (partition.block_count == 0)
    return refusal::because(text::chosen_partition_empty(partition.name));
  if (refusal refused =
          check_inside(partition.name, partition.first_block, partition.block_count, hfs_bytes)) {
    return refused;
  }
  const std::uint64_t iso_blocks = padded_length(iso_bytes) / block_bytes;
  if (iso_blocks + partition.block_count > max_blocks)
    return refusal::because(text::image_too_large());

  std::array<std::uint8_t, map_area_bytes> map;
  build_partition_map(map, static_cast<std::uint32_t>(iso_blocks + partition.block_count),
                      static_cast<std::uint32_t>(iso_blocks), partition.block_count);
  layout.head.assign(map.begin(), map.end());
  layout.iso_bytes = iso_bytes;
  layout.pad_bytes = padded_length(iso_bytes) - iso_bytes;
  layout.runs = {{std::uint64_t{partition.first_block} * block_bytes,
                  std::uint64_t{partition.block_count} * block_bytes}};
  return accepted();
}

refusal layout_merged_map(byte_stream& hfs, std::uint64_t iso_bytes, std::uint64_t hfs_bytes,
                          hybrid_layout& layout) {
  std::vector<std::uint8_t> head(2 * block_bytes);
  std::array<std::uint8_t, block_bytes> block0;
  if (!hfs.seek(0)) return refusal::because(text::io_failure(text::failed_operation::seek, hfs));
  if (!read_exact(hfs, block0.data(), block0.size()) ||
      !read_exact(hfs, head.data() + block_bytes, block_bytes)) {
    return refusal::because(text::io_failure(text::failed_operation::read, hfs));
  }
  // The source's drivers mean nothing behind an ISO image.
  merged_driver_descriptor(block0.data(), head.data());

  std::uint64_t end = padded_length(iso_bytes);
  std::vector<append_run> runs;
  int merged = 0;
  refusal refused;
  // The stream stands at block 2, right after the head.
  const map_walk_end walked = walk_merged_entries(
      head, read_stream_blocks(hfs, 2), [&](std::uint32_t, std::uint8_t* block) {
        partition_entry entry = decode_partition_entry(block);
        const std::uint32_t count = entry.block_count;
        if (!is_hfs_entry(entry) || count == 0) return map_visit::go_on;
        ++merged;
        if (merged > max_merged_entries) return map_visit::go_on;  // counted for the message only

        const std::uint32_t first = entry.first_block;
        const std::string name = partition_name(entry);
        refused = check_inside(name.c_str(), first, count, hfs_bytes);
        if (refused) return map_visit::stop;
        if (end / block_bytes + count > max_blocks) {
          refused = refusal::because(text::image_too_large());
          return map_visit::stop;
        }
        entry.first_block = static_cast<std::uint32_t>(end / block_bytes);
        encode_partition_entry(entry, block);
        head.insert(head.end(), block, block + block_bytes);
        runs.push_back({std::uint64_t{first} * block_bytes, std::uint64_t{count} * block_bytes});
        end += std::uint64_t{count} * block_bytes;
        return map_visit::go_on;
      });
  if (walked == map_walk_end::read_failed) {
    return refusal::because(text::io_failure(text::failed_operation::read, hfs));
  }
  if (walked == map_walk_end::stopped) return refused;
  if (merged > max_merged_entries) return refusal::because(text::too_many_entries(merged));
  if (merged == 0) return refusal::because(text::no_hfs_partition);

  finish_merged_layout(std::move(head), std::move(runs), end / block_bytes, merged, iso_bytes,
                       layout);
  return accepted();
}

map_walk_end walk_merged_entries(const std::vector<std::uint8_t>& head,
                                 const map_block_reader& read, const map_block_visitor& visit) {
  return walk_map(
      map_span::blocks_1_to_n_plus_1,
      [&](std::uint32_t block, std::uint8_t* into) {
        if (block >= 2) return read(block, into);
        std::memcpy(into, head.data() + block * block_bytes, block_bytes);
        return block_read::ok;
      },
      visit);
}

void finish_merged_layout(std::vector<std::uint8_t> head, std::vector<append_run> runs,
                          std::uint64_t total_blocks, int merged, std::uint64_t iso_bytes,
                          hybrid_layout& layout) {
  // Counts known only now: the blocks of the whole image, and the entries
  // after block 0, which every entry repeats.
  driver_descriptor descriptor = decode_driver_descriptor(head.data());
  descriptor.block_count = static_cast<std::uint32_t>(total_blocks);
  encode_driver_descriptor(descriptor, head.data());
  const auto entries = static_cast<std::uint32_t>(merged + 1);
  // Block 1 is the map's own entry whatever the source held there: an
  // Apple_HFS entry kept as it was pointed into the ISO 9660 data, one
  // without "PM" made partx refuse the map, and one that covered blocks 1-4
  // only made parted count the ISO data behind it as a partition.
  build_map_entry(head.data() + block_bytes, entries,
                  map_entry_name(head.data() + block_bytes).c_str());
  for (std::uint32_t entry = 2; entry <= entries; ++entry) {
    std::uint8_t* const block = head.data() + entry * block_bytes;
    partition_entry repeated = decode_partition_entry(block);
    repeated.map_blocks = entries;
    encode_partition_entry(repeated, block);
  }
  layout.head = std::move(head);
  layout.iso_bytes = iso_bytes;
  layout.pad_bytes = padded_length(iso_bytes) - iso_bytes;
  layout.runs = std::move(runs);
}

}  // namespace hybrid
