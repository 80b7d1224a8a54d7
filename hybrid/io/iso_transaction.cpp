#include "hybrid/io/iso_transaction.h"

#include <algorithm>

namespace hybrid {

// A job that returns without rolling back (none should) still leaves the
// image as it was.
iso_transaction::~iso_transaction() {
  if (active_ && !rolled_back_) roll_back();
}

bool iso_transaction::begin(std::uint64_t planned_length) {
  if (!iso_.length(length_)) return false;
  if (length_ != planned_length) {
    changed_ = true;
    return false;
  }
  head_.resize(static_cast<std::size_t>(std::min<std::uint64_t>(length_, system_area_bytes)));
  if (!iso_.seek(0) || !read_exact(iso_, head_.data(), head_.size())) return false;
  active_ = true;
  return true;
}

bool iso_transaction::roll_back() {
  if (!active_) return true;
  rolled_back_ = true;
  for (int round = 0; round < 2; ++round) {
    // Each part is written whatever became of the one before, and each
    // order syncs its first part before the second begins.
    if (order_ == restore_order::head_then_bytes) {
      write_head();
      iso_.sync_to_disk();
      write_bytes_and_length();
    } else {
      write_bytes_and_length();
      iso_.sync_to_disk();
      write_head();
    }
    iso_.sync_to_disk();
    if (reads_as_before()) {
      active_ = false;
      tail_.drop();  // one left behind is recognised and removed by the next run
      return true;
    }
  }
  return false;
}

bool iso_transaction::write_head() {
  return iso_.seek(0) && iso_.write(head_.data(), head_.size());
}

// The bytes kept aside come back from where they were cut, then the file
// is cut to its old length: whatever was appended goes.
bool iso_transaction::write_bytes_and_length() {
  const bool tail_back = tail_.put_back();
  return iso_.truncate(length_) && tail_back;
}

bool iso_transaction::reads_as_before() {
  std::uint64_t now = 0;
  if (!iso_.length(now) || now != length_) return false;
  std::vector<std::uint8_t> head(head_.size());
  return iso_.seek(0) && read_exact(iso_, head.data(), head.size()) && head == head_ &&
         tail_.reads_back();
}

}  // namespace hybrid
