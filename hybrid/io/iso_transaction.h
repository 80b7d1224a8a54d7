// The ISO image is changed in place, so a failure halfway would leave a disc
// image that neither side reads. Before the first write we keep what the job
// may overwrite (the system area, at most the first 32,768 bytes) and the
// length; on failure we put those bytes back and cut the file to its old
// length, which makes it byte-identical to what it was. The roll-back reaches
// the disk, and is read back before anyone is told it worked: a file system
// may claim a truncate it did not do.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "hybrid/io/byte_stream.h"
#include "hybrid/io/removed_tail.h"

namespace hybrid {

// The ISO 9660 system area: the first 16 sectors of 2048 bytes, which a
// hybrid's partition map takes over.
constexpr std::size_t system_area_bytes = 32768;

class iso_transaction {
 public:
  explicit iso_transaction(byte_stream& iso) : iso_(iso), tail_(iso) {}
  ~iso_transaction();
  iso_transaction(const iso_transaction&) = delete;
  iso_transaction& operator=(const iso_transaction&) = delete;

  // Keeps the head and the length, which must still be `planned_length`,
  // the length the job was planned for. False when they cannot be read, or
  // the length changed (changed() says so); nothing has been written then.
  bool begin(std::uint64_t planned_length);
  // Cuts the image at `from` (the end of its ISO 9660 volume) with the bytes
  // after it kept aside, so that a roll-back puts them back too. False when
  // that failed: tail() says how; roll back then. `progress` may stop the
  // copy between chunks (see removed_tail::remove).
  bool remove_tail(std::uint64_t from, copy_progress* progress = nullptr) {
    return tail_.remove(from, progress);
  }
  const removed_tail& tail() const { return tail_; }
  // The job's writes are final.
  void commit() {
    active_ = false;
    tail_.drop();
  }
  // Restores the image (the bytes kept aside included), syncs it to the disk
  // and checks its length and head; false when that failed too (the stream's
  // error_text says why, when the system said anything). Rolling back twice
  // is harmless.
  bool roll_back();

  std::uint64_t original_length() const { return length_; }
  bool changed() const { return changed_; }

 private:
  byte_stream& iso_;
  removed_tail tail_;
  std::vector<std::uint8_t> head_;
  std::uint64_t length_ = 0;
  bool active_ = false;
  bool changed_ = false;

  bool reads_as_before();
};

}  // namespace hybrid
