// Bulk copies between streams. Bytes move through one large buffer that a job
// allocates once: the copy is then about as fast as the disk, and memory stays
// bounded whatever the image size.
#pragma once

#include <cstdint>
#include <vector>

#include "hybrid/io/byte_stream.h"
#include "hybrid/io/copy_progress.h"

namespace hybrid {

constexpr std::size_t copy_buffer_bytes = 1u << 20;

struct copy_buffer {
  copy_buffer() : bytes(copy_buffer_bytes) {}
  std::vector<std::uint8_t> bytes;
};

enum class copy_result { ok, source_ended, source_failed, destination_failed, stopped };

// Copies `byte_count` bytes from the source's position to the destination's
// position. Nothing is written that was not read: a source that ends early
// stops the copy (source_ended) instead of padding it with stale bytes.
// `progress` (may be null) hears the bytes done so far, starting at `done`,
// and may stop the copy between two chunks (stopped).
copy_result copy_stream(byte_stream& source, byte_stream& destination, std::uint64_t byte_count,
                        copy_buffer& buffer, copy_progress* progress = nullptr,
                        std::uint64_t done = 0);

// Where the file system can share blocks between the source and the
// destination (platform/block_sharing.h), a range is shared in its aligned
// middle and copied at its ends: `head` bytes copied, then `shared` bytes
// shared, then `tail` bytes copied. A range that cannot be aligned on both
// sides at once (offsets that differ by other than whole blocks), or holds
// no whole block, is copied whole.
struct sharing_split {
  std::uint64_t head = 0;
  std::uint64_t shared = 0;
  std::uint64_t tail = 0;
};
sharing_split split_for_sharing(std::uint64_t source_offset, std::uint64_t destination_offset,
                                std::uint64_t byte_count, std::uint64_t unit_bytes);

// A job's sharing between one source and one destination. Once the file
// system refused, it is not asked again in that job: a refusal (another
// file system, no support) would only repeat, one call per range.
struct block_sharing {
  std::uint64_t block_bytes = 0;  // 0: these streams share nothing
  bool refused = false;
  std::uint64_t shared_bytes = 0;  // appended without a copy so far
};
inline block_sharing sharing_between(byte_stream& source, byte_stream& destination) {
  return block_sharing{destination.sharing_block_bytes(source)};
}

// copy_stream, for a range that the source and the destination stand at the
// start of (`source_offset`, `destination_offset`): the aligned middle is
// shared when `sharing` allows it, the rest copied. The same bytes result
// either way; only the disk space and the time differ.
copy_result copy_range(byte_stream& source, std::uint64_t source_offset, byte_stream& destination,
                       std::uint64_t destination_offset, std::uint64_t byte_count,
                       copy_buffer& buffer, block_sharing& sharing,
                       copy_progress* progress = nullptr, std::uint64_t done = 0);

}  // namespace hybrid
