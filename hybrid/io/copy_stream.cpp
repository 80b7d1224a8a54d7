#include "hybrid/io/copy_stream.h"

#include <algorithm>

#include "platform/file_ops.h"

namespace hybrid {
namespace {

// Between two files the kernel copies without a trip through our buffer,
// which on Linux beats a plain read/write loop. It moves the bulk only: it
// stops at the first thing it cannot do, and the buffered loop takes over
// from there, so failures are found and named the same way in both paths.
constexpr std::size_t kernel_chunk = 8u << 20;

bool stop_requested(copy_progress* progress) {
  return progress != nullptr && progress->stop_requested();
}

// Returns the bytes moved; `result` is set when the streams could not be put
// back where the kernel left off.
std::uint64_t kernel_copy_bulk(byte_stream& source, byte_stream& destination,
                               std::uint64_t byte_count, copy_progress* progress,
                               std::uint64_t& done, copy_result& result) {
  std::FILE* const from = source.file_handle();
  std::FILE* const to = destination.file_handle();
  std::uint64_t from_at = 0, to_at = 0;
  if (from == nullptr || to == nullptr) return 0;
  // Bytes still in the destination's buffer must land before the kernel's.
  if (!destination.flush()) {
    result = copy_result::destination_failed;
    return 0;
  }
  if (!source.tell(from_at) || !destination.tell(to_at)) return 0;
  std::uint64_t moved = 0;
  while (moved < byte_count && !stop_requested(progress)) {
    const std::size_t chunk =
        static_cast<std::size_t>(std::min<std::uint64_t>(byte_count - moved, kernel_chunk));
    std::size_t copied = 0;
    if (!platform::kernel_copy(from, from_at + moved, to, to_at + moved, chunk, copied) ||
        copied == 0) {
      break;
    }
    moved += copied;
    done += copied;
    if (progress != nullptr) progress->copy_advanced(done);
  }
  // The streams' own positions did not move; put them where the copy ended.
  if (moved > 0) {
    if (!source.seek(from_at + moved))
      result = copy_result::source_failed;
    else if (!destination.seek(to_at + moved))
      result = copy_result::destination_failed;
  }
  return moved;
}

}  // namespace

copy_result copy_stream(byte_stream& source, byte_stream& destination, std::uint64_t byte_count,
                        copy_buffer& buffer, copy_progress* progress, std::uint64_t done) {
  copy_result result = copy_result::ok;
  std::uint64_t remaining =
      byte_count - kernel_copy_bulk(source, destination, byte_count, progress, done, result);
  if (result != copy_result::ok) return result;
  while (remaining > 0) {
    if (stop_requested(progress)) return copy_result::stopped;
    const std::size_t chunk =
        static_cast<std::size_t>(std::min<std::uint64_t>(remaining, buffer.bytes.size()));
    if (source.read(buffer.bytes.data(), chunk) != chunk) {
      // Nothing is written that was not read: a short source is reported,
      // never padded with whatever the buffer held.
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
