#include "hybrid/apm/map_walk.h"

#include <algorithm>
#include <array>

namespace hybrid {

std::size_t find_map_block_size(const std::uint8_t* head, std::size_t size) {
  if (size >= 2 * block_bytes && is_partition_entry(head + block_bytes)) return block_bytes;
  if (size >= 2 * largest_map_block && is_driver_descriptor(head) &&
      decode_driver_descriptor(head).block_size == largest_map_block &&
      is_partition_entry(head + largest_map_block)) {
    return largest_map_block;
  }
  return 0;
}

map_walk_end walk_map(map_span span, const map_block_reader& read, const map_block_visitor& visit,
                      std::size_t block_size) {
  if (block_size == 0 || block_size % record_bytes != 0 || block_size > largest_map_block)
    return map_walk_end::complete;
  const std::uint32_t first_read = span == map_span::blocks_1_to_n ? 1 : 0;
  const std::uint32_t first_handed = span == map_span::blocks_0_to_n_plus_1 ? 0 : 1;
  std::array<std::uint8_t, largest_map_block> block;
  // Block 1 gives the count; until it is read the walk goes at least that far.
  std::uint32_t last = 1;
  for (std::uint32_t number = first_read; number <= last; ++number) {
    switch (read(number, block.data())) {
      case block_read::ok:
        break;
      case block_read::end:
        return map_walk_end::complete;
      case block_read::failed:
        return map_walk_end::read_failed;
    }
    if (number == 1) {
      // The count is untrusted: a huge one stops at the bound or where the
      // medium ends. A negative one leaves the CD-ROM listing with block 0,
      // the others with nothing; a zero one the CD-ROM listing with blocks 0
      // and 1, the others with nothing.
      const std::int32_t count = map_block_count(block.data());
      if (count < 0 || (count == 0 && span != map_span::blocks_0_to_n_plus_1))
        return map_walk_end::complete;
      const auto entries = static_cast<std::uint32_t>(std::min(count, max_walked_map_blocks));
      last = span == map_span::blocks_1_to_n ? entries : entries + 1;
    }
    if (number < first_handed) continue;
    if (visit(number, block.data()) == map_visit::stop) return map_walk_end::stopped;
  }
  return map_walk_end::complete;
}

map_walk_end walk_map(map_span span, block_source& blocks, const map_block_visitor& visit,
                      std::size_t block_size) {
  const auto per_block = static_cast<std::uint32_t>(block_size / block_bytes);
  return walk_map(
      span,
      [&](std::uint32_t block, std::uint8_t* into) {
        return blocks.read(block * per_block, per_block, into);
      },
      visit, block_size);
}

map_block_reader read_memory_blocks(const std::uint8_t* bytes, std::size_t size,
                                    std::size_t block_size) {
  const std::size_t blocks = block_size == 0 ? 0 : size / block_size;
  return [bytes, blocks, block_size](std::uint32_t block, std::uint8_t* into) {
    if (block >= blocks) return block_read::end;
    std::copy_n(bytes + std::size_t{block} * block_size, block_size, into);
    return block_read::ok;
  };
}

}  // namespace hybrid
