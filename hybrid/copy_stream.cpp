#include "hybrid/copy_stream.h"

#include <algorithm>

namespace hybrid {

copy_result copy_stream(byte_stream& source, byte_stream& destination, std::uint64_t byte_count,
                        copy_buffer& buffer, questions* progress, std::uint64_t done) {
  std::uint64_t remaining = byte_count;
  while (remaining > 0) {
    const std::size_t chunk =
        static_cast<std::size_t>(std::min<std::uint64_t>(remaining, buffer.bytes.size()));
    const std::size_t got = source.read(buffer.bytes.data(), chunk);
    if (got != chunk) {
      return source.error_text().empty() ? copy_result::source_ended : copy_result::source_failed;
    }
    if (!destination.write(buffer.bytes.data(), chunk)) return copy_result::destination_failed;
    remaining -= chunk;
    done += chunk;
    if (progress != nullptr) progress->copy_advanced(done);
  }
  return copy_result::ok;
}

}  // namespace hybrid
