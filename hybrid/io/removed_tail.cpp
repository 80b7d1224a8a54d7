#include "hybrid/io/removed_tail.h"

#include "hybrid/io/copy_stream.h"

namespace hybrid {

bool removed_tail::fail(step at, const byte_stream* stream) {
  failed_step_ = at;
  failed_stream_ = stream;
  return false;
}

bool removed_tail::remove(std::uint64_t from, copy_progress* progress) {
  std::uint64_t length = 0;
  if (!iso_.length(length)) return fail(step::measure, &iso_);
  if (length <= from) return true;
  scratch_ = iso_.open_scratch(scratch_refusal_);
  if (!scratch_) return fail(step::make_scratch, nullptr);
  if (!iso_.seek(from)) return fail(step::seek, &iso_);
  copy_buffer buffer;
  switch (copy_stream(iso_, *scratch_, length - from, buffer, progress)) {
    case copy_result::ok:
      break;
    case copy_result::destination_failed:
      return fail(step::write, scratch_.get());
    default:
      return fail(step::read, &iso_);
  }
  if (!scratch_->flush()) return fail(step::write, scratch_.get());
  kept_ = true;
  from_ = from;
  bytes_ = length - from;
  if (!iso_.truncate(from)) return fail(step::write, &iso_);
  return true;
}

bool removed_tail::put_back() {
  if (!kept_) return true;
  copy_buffer buffer;
  const bool back = iso_.truncate(from_) && iso_.seek(from_) && scratch_->seek(0) &&
                    copy_stream(*scratch_, iso_, bytes_, buffer) == copy_result::ok && iso_.flush();
  if (back) drop();
  return back;
}

void removed_tail::drop() {
  kept_ = false;
  scratch_.reset();
}

}  // namespace hybrid
