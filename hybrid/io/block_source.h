// A medium read as 512-byte blocks, whatever it is: an image file, a disk,
// a CD-ROM's 2048-byte sectors. The partition map counts such blocks; the
// map walk and the planner read every source through this one interface.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "hybrid/io/byte_stream.h"

namespace hybrid {

// The block every source is read in, whatever the medium's sector size.
constexpr std::size_t block_bytes = 512;

// `end` is the end of the medium, where a walk stops quietly: a file shorter
// than its map claims. A device has no such end; a read past it fails.
enum class block_read { ok, end, failed };

class block_source {
 public:
  virtual ~block_source() = default;
  // Reads blocks `first` to `first + count - 1` into the `count` x 512
  // bytes at `into`.
  virtual block_read read(std::uint32_t first, std::uint32_t count, std::uint8_t* into) = 0;
};

// A stream's blocks. It seeks only when asked for a block other than the one
// after the last it read, so a walk costs one seek, then one read per block.
// `at` is the block the stream stands at when the caller has just placed it
// there; without it the first read seeks.
class stream_blocks final : public block_source {
 public:
  explicit stream_blocks(byte_stream& stream, std::optional<std::uint32_t> at = {})
      : stream_(stream), next_(at) {}
  block_read read(std::uint32_t first, std::uint32_t count, std::uint8_t* into) override;

 private:
  byte_stream& stream_;
  std::optional<std::uint32_t> next_;
};

}  // namespace hybrid
