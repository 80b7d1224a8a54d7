#include "hybrid/hybrid_writer.h"

#include "hybrid/apm/partition_map.h"
#include "hybrid/io/iso_transaction.h"
#include "hybrid/messages.h"

namespace hybrid {
namespace {

using text::failed_operation;

// Puts the ISO image back, then tells the user what failed and whether the
// image is as it was.
int fail_writing(questions& ask, iso_transaction& transaction, const std::string& what) {
  const bool restored = transaction.roll_back();
  ask.notice(what + text::iso_restored_suffix(restored));
  return 0;
}

bool write_zeros(byte_stream& stream, std::uint64_t count) {
  static const std::uint8_t zeros[block_bytes] = {};
  return count == 0 || stream.write(zeros, static_cast<std::size_t>(count));
}

}  // namespace

int write_hybrid(byte_stream& iso, const hybrid_layout& layout, questions& ask,
                 const run_copier& copy_run, const map_check& before_map) {
  iso_transaction transaction(iso);
  if (!transaction.begin()) {
    ask.notice(text::io_failure(failed_operation::read, iso));
    return 0;
  }
  if (layout.cut_at && !transaction.remove_tail(*layout.cut_at)) {
    return fail_writing(ask, transaction, text::tail_not_kept(transaction.tail(), iso));
  }
  if (!iso.seek_to_end())
    return fail_writing(ask, transaction, text::io_failure(failed_operation::seek, iso));
  if (!write_zeros(iso, layout.pad_bytes)) {
    return fail_writing(ask, transaction, text::io_failure(failed_operation::write, iso));
  }

  std::uint64_t done = 0;
  ask.copy_started(layout.append_bytes() - layout.pad_bytes);
  for (const append_run& run : layout.runs) {
    if (const refusal failure = copy_run(run, done)) {
      ask.copy_ended();
      return fail_writing(ask, transaction, failure.text());
    }
    done += run.byte_count;
  }
  ask.copy_ended();

  // The data go to the file before the map that points at them, so an
  // interrupted run leaves a plain ISO image with bytes after it, never a map
  // pointing at nothing.
  if (!iso.flush())
    return fail_writing(ask, transaction, text::io_failure(failed_operation::flush, iso));
  if (before_map) {
    if (const refusal refused = before_map()) return fail_writing(ask, transaction, refused.text());
  }
  if (!iso.seek(0) || !iso.write(layout.head.data(), layout.head.size()) || !iso.flush()) {
    return fail_writing(ask, transaction, text::io_failure(failed_operation::write, iso));
  }
  transaction.commit();
  return 1;
}

}  // namespace hybrid
