// --undo: a hybrid made by appending behind the ISO data becomes the plain
// ISO image again. Everything is checked before the first write, and the
// change is one transaction: the map goes first (zeros over the first
// 32,768 bytes), then the appended data, so that a crash in between leaves a
// plain ISO image with bytes after it, never a map pointing at nothing.
#include <algorithm>
#include <optional>
#include <vector>

#include "hybrid/apm/map_codec.h"
#include "hybrid/apm/map_walk.h"
#include "hybrid/apm/partition_map.h"
#include "hybrid/hybrid_writer.h"
#include "hybrid/io/iso_transaction.h"
#include "hybrid/iso_target.h"
#include "hybrid/jobs.h"
#include "hybrid/messages.h"
#include "hybrid/tail_recovery.h"

namespace hybrid {
namespace {

using text::failed_operation;

bool all_zero(const std::uint8_t* from, const std::uint8_t* to) {
  return std::all_of(from, to, [](std::uint8_t byte) { return byte == 0; });
}

// What the undo will do, decided before anything is written.
struct undo_plan {
  std::uint64_t length = 0;  // the file's length now
  std::uint64_t cut_at = 0;  // where the plain ISO image ends
  bool other_data = false;   // the system area holds more than our map
};

// The map's entries, read from the head: those inside the system area are
// the map itself; every other one must begin at or after the volume's end
// and inside the file. The first of them is where the appended data begin.
refusal plan_undo(byte_stream& iso, const std::vector<std::uint8_t>& head, undo_plan& plan) {
  const std::uint8_t* block1 = head.data() + block_bytes;
  if (!is_driver_descriptor(head.data()) || !is_partition_entry(block1)) {
    return refusal::because(text::undo_not_hybrid);
  }
  const std::uint32_t entries = decode_partition_entry(block1).map_blocks;
  if (entries == 0 || entries >= map_area_blocks) {
    return refusal::because(text::undo_bad_count(entries));
  }
  std::optional<std::uint64_t> volume_end;
  if (refusal refused = find_volume_end(iso, plan.length, volume_end)) return refused;
  if (!volume_end) return refusal::because(text::undo_no_volume);
  // The job pads the ISO image to whole blocks: the volume's end rounded up.
  const std::uint64_t volume_blocks = (*volume_end + block_bytes - 1) / block_bytes;

  std::optional<std::uint64_t> first_data;
  refusal refused;
  // The count is below 64, so the walk stays inside the head.
  walk_map(map_span::blocks_1_to_n, read_memory_blocks(head.data(), head.size()),
           [&](std::uint32_t, std::uint8_t* block) {
             const partition_entry entry = decode_partition_entry(block);
             const std::uint32_t first = entry.first_block, count = entry.block_count;
             if (!is_partition_entry(entry)) {
               refused = refusal::because(text::undo_bad_count(entries));
             } else if (std::uint64_t{first} + count <= map_area_blocks) {
               return map_visit::go_on;  // the map itself
             } else if (first < volume_blocks) {
               refused = refusal::because(text::undo_entry_inside_volume(text_of(entry.name), first,
                                                                         count, volume_blocks));
             } else if (std::uint64_t{first} * block_bytes >= plan.length) {
               refused = refusal::because(text::undo_entry_past_end(text_of(entry.name), first,
                                                                    plan.length / block_bytes));
             } else {
               first_data = std::min<std::uint64_t>(first_data.value_or(first), first);
               return map_visit::go_on;
             }
             return map_visit::stop;
           });
  if (refused) return refused;
  if (!first_data) return refusal::because(text::undo_no_data);
  plan.cut_at = *first_data * block_bytes;
  // Less than a block between the volume's end and the data: the zeros the
  // job wrote to reach a whole block go, the image's own bytes before them
  // stay. (Zeros the image itself ended with cannot be told from them.)
  // More is padding its authoring tool wrote, which the job kept: it stays.
  if (plan.cut_at > *volume_end && plan.cut_at - *volume_end < block_bytes) {
    std::vector<std::uint8_t> gap(static_cast<std::size_t>(plan.cut_at - *volume_end));
    if (!iso.seek(*volume_end) || !read_exact(iso, gap.data(), gap.size())) {
      return refusal::because(text::io_failure(failed_operation::read, iso));
    }
    while (!gap.empty() && gap.back() == 0) gap.pop_back();
    plan.cut_at = *volume_end + gap.size();
  }

  // The job keeps only the device type and id of block 0 and writes zeros
  // in the blocks after the map: anything else there came from elsewhere.
  const driver_descriptor descriptor = decode_driver_descriptor(head.data());
  const bool drivers =
      descriptor.driver_data != 0 || descriptor.driver_count != 0 ||
      !all_zero(descriptor.drivers.data(), descriptor.drivers.data() + descriptor.drivers.size());
  plan.other_data = drivers || !all_zero(head.data() + (std::size_t{entries} + 1) * block_bytes,
                                         head.data() + head.size());
  return accepted();
}

}  // namespace

job_outcome undo_hybrid(byte_stream& iso, questions& ask) {
  if (job_stop stop = recover_removed_tail(iso, ask)) return *stop;
  iso_target target;
  if (refusal refused = measure_iso_target(iso, target)) {
    return job_outcome::refused(refused.text());
  }
  undo_plan plan;
  plan.length = target.length;
  if (plan.length < system_area_bytes) {
    return job_outcome::refused(text::undo_not_hybrid);
  }
  std::vector<std::uint8_t> head(system_area_bytes);
  if (!iso.seek(0) || !read_exact(iso, head.data(), head.size())) {
    return job_outcome::refused(text::io_failure(failed_operation::read, iso));
  }
  if (refusal refused = plan_undo(iso, head, plan)) {
    return job_outcome::refused(refused.text());
  }
  if (plan.other_data && !ask.warning(text::undo_system_area_data)) {
    return job_outcome::cancelled();
  }
  if (ask.stop_requested()) {
    return job_outcome::failed(text::stopped, files_state::iso_as_it_was);
  }

  iso_transaction transaction(iso);
  if (!transaction.begin(plan.length)) {
    return job_outcome::refused(transaction.changed()
                                    ? text::iso_changed_length
                                    : text::io_failure(failed_operation::read, iso));
  }
  const std::vector<std::uint8_t> zeros(system_area_bytes);
  if (!iso.seek(0) || !iso.write(zeros.data(), zeros.size())) {
    return roll_back_failure(transaction, text::io_failure(failed_operation::write, iso));
  }
  if (!flush_to_disk(iso)) {
    return roll_back_failure(transaction, text::io_failure(failed_operation::flush, iso));
  }
  if (ask.stop_requested()) return roll_back_failure(transaction, text::stopped);
  // The appended data are kept aside until the cut is on the disk, so a
  // failure puts the hybrid back whole.
  if (!transaction.remove_tail(plan.cut_at)) {
    return roll_back_failure(transaction, text::tail_not_kept(transaction.tail(), iso));
  }
  std::uint64_t length = 0;
  if (!flush_to_disk(iso) || !iso.length(length) || length != plan.cut_at) {
    return roll_back_failure(transaction, text::io_failure(failed_operation::flush, iso));
  }
  transaction.commit();
  return job_outcome::completed(text::undo_done(plan.cut_at, plan.length - plan.cut_at));
}

}  // namespace hybrid
