#include "hybrid/io/iso_transaction.h"

#include <algorithm>

namespace hybrid {

iso_transaction::~iso_transaction() {
  if (active_) roll_back();
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
  // Bytes removed from the end come back first; then the cut: whatever was
  // appended goes, and the head is written back into a file that has exactly
  // its old length. The head goes back even when the tail could not.
  const bool tail_back = tail_.put_back();
  const bool restored = iso_.truncate(length_) && iso_.seek(0) &&
                        iso_.write(head_.data(), head_.size()) && iso_.sync_to_disk() &&
                        reads_as_before() && tail_back;
  active_ = !restored;
  return restored;
}

bool iso_transaction::reads_as_before() {
  std::uint64_t now = 0;
  if (!iso_.length(now) || now != length_) return false;
  std::vector<std::uint8_t> head(head_.size());
  return iso_.seek(0) && read_exact(iso_, head.data(), head.size()) && head == head_;
}

}  // namespace hybrid
