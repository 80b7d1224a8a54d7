// The binary stream a job reads and writes. Jobs see only this interface:
// the dispatch hands them files, tests hand them memory or streams that fail
// on purpose. Offsets and lengths are 64-bit throughout.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "hybrid/io/file_folder.h"
#include "platform/file_ops.h"

namespace hybrid {

class byte_stream {
 public:
  virtual ~byte_stream() = default;

  // Reads up to `count` bytes at the current position; returns how many were
  // read. Fewer means the end of the stream or an error (see error_text).
  virtual std::size_t read(void* buffer, std::size_t count) = 0;
  // Writes all `count` bytes or fails.
  virtual bool write(const void* buffer, std::size_t count) = 0;
  virtual bool seek(std::uint64_t offset) = 0;
  virtual bool seek_to_end() = 0;
  virtual bool tell(std::uint64_t& offset) = 0;
  // Hands buffered writes to the system.
  virtual bool flush() = 0;
  // Flushes, then waits until the data and the length are on the disk: what
  // the system only holds in its cache is lost in a power cut, and reaches
  // the disk in an order of the system's choosing.
  virtual bool sync_to_disk() = 0;
  virtual bool length(std::uint64_t& bytes) = 0;
  virtual bool truncate(std::uint64_t bytes) = 0;
  // What the system records of the file: its kind, length and last change.
  virtual bool status(platform::file_status& status) = 0;
  // A new, empty stream on the same disk as this one, for bytes a job must
  // keep aside for a while; it is gone once destroyed, and leaves nothing
  // behind. Null when none could be made: `why_not` then says why.
  virtual std::unique_ptr<byte_stream> open_scratch(std::string& why_not) = 0;
  // The folder the stream's file lies in, for files a job keeps beside it
  // by name; null when there is none (a stream that is no file).
  virtual file_folder* folder() { return nullptr; }

  // The path as the user gave it, for messages.
  virtual const std::string& name() const = 0;
  // The system's text for the last failure; empty when a read simply ended.
  virtual std::string error_text() const = 0;

  // The standard library file behind the stream, if there is one: copies
  // between two files can then be left to the kernel.
  virtual std::FILE* file_handle() const { return nullptr; }

  // Blocks shared with `source` instead of bytes copied from it (see
  // platform/block_sharing.h): the size that both offsets and the length
  // must be multiples of, or 0 when this stream shares none with it.
  virtual std::uint64_t sharing_block_bytes(const byte_stream& /*source*/) { return 0; }
  // Makes `length` bytes of this stream from `offset` the blocks of
  // `source` from `source_offset`. False when refused: the range must then
  // be written as usual. Both positions are the caller's to set again.
  virtual bool share_blocks(byte_stream& /*source*/, std::uint64_t /*source_offset*/,
                            std::uint64_t /*offset*/, std::uint64_t /*length*/) {
    return false;
  }
};

// Empties the stream's buffer and waits until the bytes are on the disk:
// what a job must have done before it writes what points at them, and
// before it says it completed.
inline bool flush_to_disk(byte_stream& stream) { return stream.flush() && stream.sync_to_disk(); }

// Reads exactly `count` bytes; false on a short read.
inline bool read_exact(byte_stream& stream, void* buffer, std::size_t count) {
  return stream.read(buffer, count) == count;
}

}  // namespace hybrid
