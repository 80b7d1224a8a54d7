#include "hybrid/hybrid_writer.h"

#include "hybrid/apm/partition_map.h"
#include "hybrid/io/iso_transaction.h"
#include "hybrid/messages.h"

namespace hybrid {
namespace {

using text::failed_operation;

bool write_zeros(byte_stream& stream, std::uint64_t count) {
  static const std::uint8_t zeros[block_bytes] = {};
  return count == 0 || stream.write(zeros, static_cast<std::size_t>(count));
}

}  // namespace

job_outcome roll_back_failure(iso_transaction& transaction, const std::string& what) {
  if (transaction.roll_back()) return job_outcome::failed(what, files_state::iso_as_it_was);
  const removed_tail& tail = transaction.tail();
  if (!tail.named_file_kept()) return job_outcome::failed(what, files_state::iso_not_restored);
  return job_outcome::failed(what + text::tail_kept_in(tail.kept_name(), tail.from()),
                             files_state::iso_not_restored);
}

job_outcome write_hybrid(byte_stream& iso, const hybrid_layout& layout, questions& ask,
                         const run_copier& copy_run, const map_check& before_map) {
  // An interrupt that came while the job was being set up or asked its
  // questions ends it here, before the first write.
  if (ask.stop_requested()) {
    return job_outcome::failed(text::stopped, files_state::iso_as_it_was);
  }
  if (ask.dry_run()) {
    ask.show_plan(layout, layout.iso_bytes + layout.removed_bytes);
    return job_outcome::completed();
  }
  // A map the job wrote goes before the data it points at.
  iso_transaction transaction(iso, restore_order::head_then_bytes);
  if (!transaction.begin(layout.iso_bytes + layout.removed_bytes)) {
    return job_outcome::refused(transaction.changed()
                                    ? text::iso_changed_length
                                    : text::io_failure(failed_operation::read, iso));
  }
  // The bytes after the volume are the user's: they wait beside the image,
  // where a kill leaves them for the next run, until the job is final.
  if (layout.cut_at && !transaction.remove_tail(*layout.cut_at, tail_keeping::beside_image)) {
    return roll_back_failure(transaction, text::tail_not_kept(transaction.tail(), iso));
  }
  // The data go exactly where the layout's block numbers say, whatever the
  // file's end is now.
  if (!iso.seek(layout.iso_bytes))
    return roll_back_failure(transaction, text::io_failure(failed_operation::seek, iso));
  if (!write_zeros(iso, layout.pad_bytes)) {
    return roll_back_failure(transaction, text::io_failure(failed_operation::write, iso));
  }

  std::uint64_t done = 0;
  ask.copy_started(layout.append_bytes() - layout.pad_bytes);
  for (const append_run& run : layout.runs) {
    if (const refusal failure = copy_run(run, done)) {
      ask.copy_ended();
      return roll_back_failure(transaction, failure.text());
    }
    done += run.byte_count;
  }
  ask.copy_ended();

  // The data reach the disk before the map that points at them, so a crash
  // or a power cut at any moment leaves a plain ISO image with bytes after
  // it, never a map pointing at nothing.
  if (!flush_to_disk(iso))
    return roll_back_failure(transaction, text::io_failure(failed_operation::flush, iso));
  if (before_map) {
    if (const refusal refused = before_map()) return roll_back_failure(transaction, refused.text());
  }
  if (ask.stop_requested()) return roll_back_failure(transaction, text::stopped);
  if (!iso.seek(0) || !iso.write(layout.head.data(), layout.head.size())) {
    return roll_back_failure(transaction, text::io_failure(failed_operation::write, iso));
  }
  // Only a map on the disk is a completed job.
  if (!flush_to_disk(iso))
    return roll_back_failure(transaction, text::io_failure(failed_operation::flush, iso));
  if (!transaction.commit()) {
    const removed_tail& tail = transaction.tail();
    const file_folder* folder = iso.folder();
    return job_outcome::completed(
        text::tail_file_left(tail.kept_name(), folder ? folder->error_text() : std::string()));
  }
  return job_outcome::completed();
}

}  // namespace hybrid
