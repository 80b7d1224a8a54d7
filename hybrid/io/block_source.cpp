#include "hybrid/io/block_source.h"

namespace hybrid {

block_read stream_blocks::read(std::uint32_t first, std::uint32_t count, std::uint8_t* into) {
  if (next_ != first) {
    next_.reset();
    if (!stream_.seek(std::uint64_t{first} * block_bytes)) return block_read::failed;
  }
  if (!read_exact(stream_, into, std::size_t{count} * block_bytes)) {
    next_.reset();
    return stream_.error_text().empty() ? block_read::end : block_read::failed;
  }
  next_ = first + count;
  return block_read::ok;
}

}  // namespace hybrid
