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

}  // namespace hybrid
