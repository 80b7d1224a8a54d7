#include "hybrid/io/copy_stream.h"

#include <algorithm>
#include <cstring>
#include <optional>

#include "platform/file_ops.h"

namespace hybrid {
namespace {

bool stop_requested(copy_progress* progress) {
  return progress != nullptr && progress->stop_requested();
}

bool all_zero(const std::uint8_t* bytes, std::size_t count) {
  return count != 0 && bytes[0] == 0 && std::memcmp(bytes, bytes + 1, count - 1) == 0;
}

// Where the destination ends, asked only once a chunk of zeros comes (most
// copies have none): up to there it holds bytes a zero must overwrite;
// beyond, it holds nothing yet.
struct unwritten_span {
  std::optional<std::uint64_t> position;
  std::uint64_t end = 0;
  bool asked = false;

  bool holds(byte_stream& destination) {
    if (!asked) {
      asked = true;
      std::uint64_t at = 0, length = 0;
      if (destination.tell(at) && destination.length(length)) {
        position = at;
        end = length;
      }
    }
    return position && *position >= end;
  }
  void advance(std::uint64_t count) {
    if (position) *position += count;
  }
};

// The bytes of a hole at the source's position, at most `most`.
std::uint64_t source_hole(byte_stream& source, std::FILE* file, std::uint64_t most) {
  std::uint64_t at = 0;
  if (file == nullptr || most == 0 || !source.tell(at)) return 0;
  return std::min(platform::file_hole_bytes(file, at), most);
}

}  // namespace

copy_result copy_stream(byte_stream& source, byte_stream& destination, std::uint64_t byte_count,
                        copy_buffer& buffer, copy_progress* progress, std::uint64_t done) {
  // Always through our own buffer. Between two files on ext4 the kernel's
  // copy_file_range took about 1.2 times as long as this loop (both synced
  // to the disk), because it moves the data through a pipe page by page.
  // The job is measured against `cat >> iso && sync`, which reads and writes
  // just as this loop does.
  //
  // A chunk of zeros past the destination's end is stepped over instead of
  // written: the file reads zeros there all the same, and takes no disk
  // blocks for them (an HFS volume is mostly free space, which its tools
  // then fill in place). The last chunk is always written, so the file's
  // length comes from a write, never from a seek.
  // A hole in the source file, which reads as zeros without the disk being
  // read, is stepped over the same way without being read at all.
  unwritten_span unwritten;
  std::FILE* const source_file = source.file_handle();
  std::uint64_t remaining = byte_count;
  while (remaining > 0) {
    if (stop_requested(progress)) return copy_result::stopped;
    if (const std::uint64_t hole = source_hole(source, source_file, remaining - 1);
        hole != 0 && unwritten.holds(destination)) {
      std::uint64_t at = 0;
      if (!source.tell(at) || !source.seek(at + hole)) return copy_result::source_failed;
      if (!destination.seek(*unwritten.position + hole)) return copy_result::destination_failed;
      unwritten.advance(hole);
      remaining -= hole;
      done += hole;
      if (progress != nullptr) progress->copy_advanced(done);
      continue;
    }
    const std::size_t chunk =
        static_cast<std::size_t>(std::min<std::uint64_t>(remaining, buffer.bytes.size()));
    if (source.read(buffer.bytes.data(), chunk) != chunk) {
      // Nothing is written that was not read: a short source is reported,
      // never padded with whatever the buffer held.
      return source.error_text().empty() ? copy_result::source_ended : copy_result::source_failed;
    }
    const bool last = chunk == remaining;
    if (!last && all_zero(buffer.bytes.data(), chunk) && unwritten.holds(destination)) {
      if (!destination.seek(*unwritten.position + chunk)) return copy_result::destination_failed;
    } else if (!destination.write(buffer.bytes.data(), chunk)) {
      return copy_result::destination_failed;
    }
    unwritten.advance(chunk);
    remaining -= chunk;
    done += chunk;
    if (progress != nullptr) progress->copy_advanced(done);
  }
  return copy_result::ok;
}

sharing_split split_for_sharing(std::uint64_t source_offset, std::uint64_t destination_offset,
                                std::uint64_t byte_count, std::uint64_t unit_bytes) {
  const sharing_split copied{byte_count, 0, 0};
  if (unit_bytes == 0 || source_offset % unit_bytes != destination_offset % unit_bytes) {
    return copied;
  }
  const std::uint64_t head = (unit_bytes - destination_offset % unit_bytes) % unit_bytes;
  if (head >= byte_count) return copied;
  const std::uint64_t shared = (byte_count - head) / unit_bytes * unit_bytes;
  if (shared == 0) return copied;
  return {head, shared, byte_count - head - shared};
}

copy_result copy_range(byte_stream& source, std::uint64_t source_offset, byte_stream& destination,
                       std::uint64_t destination_offset, std::uint64_t byte_count,
                       copy_buffer& buffer, block_sharing& sharing, copy_progress* progress,
                       std::uint64_t done) {
  const sharing_split split = sharing.refused ? sharing_split{byte_count, 0, 0}
                                              : split_for_sharing(source_offset, destination_offset,
                                                                  byte_count, sharing.block_bytes);
  if (split.shared == 0)
    return copy_stream(source, destination, byte_count, buffer, progress, done);

  if (const copy_result head = copy_stream(source, destination, split.head, buffer, progress, done);
      head != copy_result::ok) {
    return head;
  }
  done += split.head;
  if (stop_requested(progress)) return copy_result::stopped;
  std::uint64_t from = source_offset + split.head;
  std::uint64_t to = destination_offset + split.head;
  std::uint64_t rest = split.shared + split.tail;
  if (destination.share_blocks(source, from, to, split.shared)) {
    sharing.shared_bytes += split.shared;
    from += split.shared;
    to += split.shared;
    rest = split.tail;
    done += split.shared;
    if (progress != nullptr) progress->copy_advanced(done);
  } else {
    sharing.refused = true;
  }
  if (!source.seek(from)) return copy_result::source_failed;
  if (!destination.seek(to)) return copy_result::destination_failed;
  return copy_stream(source, destination, rest, buffer, progress, done);
}

}  // namespace hybrid
