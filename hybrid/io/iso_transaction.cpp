#include "hybrid/io/iso_transaction.h"

#include <algorithm>

namespace hybrid {

iso_transaction::~iso_transaction() {
  if (active_) roll_back();
}

bool iso_transaction::begin() {
  if (!iso_.length(length_)) return false;
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
                        iso_.write(head_.data(), head_.size()) && iso_.flush() && tail_back;
  active_ = !restored;
  return restored;
}

}  // namespace hybrid
