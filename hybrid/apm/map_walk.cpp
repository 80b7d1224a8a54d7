#include "hybrid/apm/map_walk.h"

#include <algorithm>

namespace hybrid {
namespace {

// A reader given as a function, asked one block at a time.
class function_blocks final : public block_source {
 public:
  explicit function_blocks(const map_block_reader& reader) : read_(reader) {}
  block_read read(std::uint32_t first, std::uint32_t count, std::uint8_t* into) override {
    for (std::uint32_t n = 0; n < count; ++n) {
      if (const block_read got = read_(first + n, into + n * block_bytes); got != block_read::ok)
        return got;
    }
    return block_read::ok;
  }

 private:
  const map_block_reader& read_;
};

}  // namespace

map_walk_end walk_map(map_span span, block_source& blocks, const map_block_visitor& visit) {
  const std::uint32_t first_read = span == map_span::blocks_1_to_n ? 1 : 0;
  const std::uint32_t first_handed = span == map_span::blocks_0_to_n_plus_1 ? 0 : 1;
  std::uint8_t block[block_bytes];
  // Block 1 gives the count; until it is read the walk goes at least that far.
  std::uint32_t last = 1;
  for (std::uint32_t number = first_read; number <= last; ++number) {
    switch (blocks.read(number, 1, block)) {
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
      const std::int32_t count = map_block_count(block);
      if (count < 0 || (count == 0 && span != map_span::blocks_0_to_n_plus_1))
        return map_walk_end::complete;
      const auto entries = static_cast<std::uint32_t>(std::min(count, max_walked_map_blocks));
      last = span == map_span::blocks_1_to_n ? entries : entries + 1;
    }
    if (number < first_handed) continue;
    if (visit(number, block) == map_visit::stop) return map_walk_end::stopped;
  }
  return map_walk_end::complete;
}

map_walk_end walk_map(map_span span, const map_block_reader& read, const map_block_visitor& visit) {
  function_blocks blocks(read);
  return walk_map(span, blocks, visit);
}

}  // namespace hybrid
