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

// What a roll-back writes first, so that a kill or a power cut in the
// middle of it never leaves a partition map pointing at bytes that are not
// there: the head, where the job may have written its map over data it
// appended (it goes with them); the bytes after the volume, where the map
// stood before and the job cut what it points at (--undo).
enum class restore_order { bytes_then_head, head_then_bytes };

class iso_transaction {
 public:
  explicit iso_transaction(byte_stream& iso, restore_order order = restore_order::bytes_then_head)
      : iso_(iso), tail_(iso), order_(order) {}
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
  bool remove_tail(std::uint64_t from, tail_keeping keeping = tail_keeping::scratch,
                   copy_progress* progress = nullptr) {
    return tail_.remove(from, keeping, progress);
  }
  const removed_tail& tail() const { return tail_; }
  // The job's writes are final (and on the disk): the bytes kept aside go.
  // False when their named file could not be removed (tail().kept_name()).
  bool commit() {
    active_ = false;
    return tail_.drop();
  }
  // Restores the image: every part that can be written back is (the bytes
  // kept aside, the length, the head), each tried even when one before it
  // failed, then synced to the disk and read back; a read-back that differs
  // gets one more round. The answer is final: false only when the image
  // read back differs from what it was, or could not be read (the stream's
  // error_text says why, when the system said anything). Bytes kept in a
  // named file stay there when they did not come back.
  bool roll_back();

  std::uint64_t original_length() const { return length_; }
  bool changed() const { return changed_; }

 private:
  byte_stream& iso_;
  removed_tail tail_;
  std::vector<std::uint8_t> head_;
  std::uint64_t length_ = 0;
  restore_order order_;
  bool active_ = false;
  bool rolled_back_ = false;  // roll_back() answered: the destructor adds nothing
  bool changed_ = false;

  bool write_head();
  bool write_bytes_and_length();
  bool reads_as_before();
};

}  // namespace hybrid
