// --undo: a hybrid made by appending behind the ISO data becomes the plain
// ISO image again. Everything is checked before the first write, and the
// change is one transaction, in steps each synced before the next, so that a
// kill or a power cut at any moment leaves a state the next --undo finishes
// and the jobs recognise, and never a map pointing at missing data:
//   1. every entry's signature cleared (the entries' other fields stay, and
//      still say where the appended data begin);
//   2. block 0 zeroed: from here on, nothing is left that reads as a map;
//   3. the appended data cut off (kept aside until the cut is on the disk);
//   4. blocks 2-63 zeroed;
//   5. block 1 zeroed, last: until then the map's own entry, cleared, marks
//      the image as one an --undo has begun (holds_cleared_map).
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
  std::uint64_t length = 0;         // the file's length now
  std::uint64_t cut_at = 0;         // where the plain ISO image ends; `length` when nothing is cut
  std::uint32_t entries = 0;        // the map's block count
  bool cleared = false;             // an earlier --undo cleared the map and was interrupted
  bool other_data = false;          // the system area holds more than our map
  std::uint64_t foreign_bytes = 0;  // after the end of the last partition
};

// The map's entries, read from the head: those inside the system area are
// the map itself; every other one must begin at or after the volume's end
// and inside the file. The first of them is where the appended data begin.
// A map that an earlier --undo cleared is read the same way: its entries
// may have lost their signatures, and once its data are cut, they may be
// zeros or begin past the file's end.
refusal plan_undo(byte_stream& iso, const std::vector<std::uint8_t>& head, undo_plan& plan) {
  const std::uint8_t* block1 = head.data() + block_bytes;
  plan.cleared = holds_cleared_map(head.data());
  if (!plan.cleared && (!is_driver_descriptor(head.data()) || !is_partition_entry(block1))) {
    return refusal::because(text::undo_not_hybrid);
  }
  const std::uint32_t entries = decode_partition_entry(block1).map_blocks;
  if (entries == 0 || entries >= map_area_blocks) {
    return refusal::because(text::undo_bad_count(entries));
  }
  plan.entries = entries;
  std::optional<std::uint64_t> volume_end;
  if (refusal refused = find_volume_end(iso, plan.length, volume_end)) return refused;
  if (!volume_end) return refusal::because(text::undo_no_volume);
  // The job pads the ISO image to whole blocks: the volume's end rounded up.
  const std::uint64_t volume_blocks = (*volume_end + block_bytes - 1) / block_bytes;

  std::optional<std::uint64_t> first_data;
  std::uint64_t data_end = 0;
  refusal refused;
  // The count is below 64, so the walk stays inside the head.
  walk_map(map_span::blocks_1_to_n, read_memory_blocks(head.data(), head.size()),
           [&](std::uint32_t, std::uint8_t* block) {
             const partition_entry entry = decode_partition_entry(block);
             const std::uint32_t first = entry.first_block, count = entry.block_count;
             // An entry whose signature is cleared still repeats the count;
             // a block of zeros is one the earlier --undo zeroed after its cut.
             const bool cleared = is_cleared_entry(entry) && entry.map_blocks == entries;
             if (plan.cleared && all_zero(block, block + block_bytes)) {
               return map_visit::go_on;
             } else if (!is_partition_entry(entry) && !cleared) {
               refused = refusal::because(text::undo_bad_count(entries));
             } else if (std::uint64_t{first} + count <= map_area_blocks) {
               return map_visit::go_on;  // the map itself
             } else if (first < volume_blocks) {
               refused = refusal::because(text::undo_entry_inside_volume(text_of(entry.name), first,
                                                                         count, volume_blocks));
             } else if (!plan.cleared && std::uint64_t{first} * block_bytes >= plan.length) {
               refused = refusal::because(text::undo_entry_past_end(text_of(entry.name), first,
                                                                    plan.length / block_bytes));
             } else {
               first_data = std::min<std::uint64_t>(first_data.value_or(first), first);
               data_end = std::max<std::uint64_t>(data_end, std::uint64_t{first} + count);
               return map_visit::go_on;
             }
             return map_visit::stop;
           });
  if (refused) return refused;
  if (!first_data && !plan.cleared) return refusal::because(text::undo_no_data);
  plan.cut_at = first_data ? std::min(plan.length, *first_data * block_bytes) : plan.length;
  // Bytes past the last partition's end were added after the job: asked about.
  if (first_data && plan.length > data_end * block_bytes) {
    plan.foreign_bytes = plan.length - data_end * block_bytes;
  }
  // Less than a block between the volume's end and the data: the zeros the
  // job wrote to reach a whole block go, the image's own bytes before them
  // stay. (Zeros the image itself ended with cannot be told from them.)
  // More is padding its authoring tool wrote, which the job kept: it stays.
  // Data an earlier --undo already cut (the file ends at or before them)
  // leave the file as that one cut it.
  if (plan.cut_at < plan.length && plan.cut_at > *volume_end &&
      plan.cut_at - *volume_end < block_bytes) {
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

// The tail copy hears only whether to stop: --undo shows no progress.
class stop_only : public copy_progress {
 public:
  explicit stop_only(questions& ask) : ask_(ask) {}
  bool stop_requested() override { return ask_.stop_requested(); }

 private:
  questions& ask_;
};

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
  if (plan.other_data &&
      !ask.warning_about(warning_kind::undo_system_area, text::undo_system_area_data)) {
    return job_outcome::cancelled();
  }
  if (plan.foreign_bytes != 0 &&
      !ask.warning_about(warning_kind::undo_bytes_after,
                         text::undo_bytes_after_data(plan.foreign_bytes))) {
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
  // One step: written, and on the disk before the next begins.
  const auto write_step = [&](std::uint64_t offset, const std::uint8_t* bytes,
                              std::size_t count) -> job_stop {
    if (!iso.seek(offset) || !iso.write(bytes, count)) {
      return roll_back_failure(transaction, text::io_failure(failed_operation::write, iso));
    }
    if (!flush_to_disk(iso)) {
      return roll_back_failure(transaction, text::io_failure(failed_operation::flush, iso));
    }
    return std::nullopt;
  };
  // 1. The entries lose their signatures; 2. block 0 goes.
  const std::uint8_t* const map = head.data() + block_bytes;
  std::vector<std::uint8_t> entries(map, map + std::size_t{plan.entries} * block_bytes);
  for (std::size_t at = 0; at < entries.size(); at += block_bytes) {
    partition_entry entry = decode_partition_entry(entries.data() + at);
    clear_entry_signature(entry);
    encode_partition_entry(entry, entries.data() + at);
  }
  if (job_stop failed = write_step(block_bytes, entries.data(), entries.size())) return *failed;
  const std::vector<std::uint8_t> zeros(system_area_bytes);
  if (job_stop failed = write_step(0, zeros.data(), block_bytes)) return *failed;
  if (ask.stop_requested()) return roll_back_failure(transaction, text::stopped);
  // 3. The appended data are kept aside until the cut is on the disk, so a
  // failure or a stop puts the hybrid back whole.
  stop_only stop(ask);
  if (plan.cut_at < plan.length &&
      !transaction.remove_tail(plan.cut_at, tail_keeping::scratch, &stop)) {
    return roll_back_failure(transaction, ask.stop_requested()
                                              ? std::string(text::stopped)
                                              : text::tail_not_kept(transaction.tail(), iso));
  }
  std::uint64_t length = 0;
  if (!flush_to_disk(iso) || !iso.length(length) || length != plan.cut_at) {
    return roll_back_failure(transaction, text::io_failure(failed_operation::flush, iso));
  }
  if (ask.stop_requested()) return roll_back_failure(transaction, text::stopped);
  // 4. Blocks 2-63, then 5. block 1, the last trace of the map.
  if (job_stop failed = write_step(2 * block_bytes, zeros.data(), zeros.size() - 2 * block_bytes)) {
    return *failed;
  }
  if (job_stop failed = write_step(block_bytes, zeros.data(), block_bytes)) return *failed;
  transaction.commit();
  const std::uint64_t removed = plan.length - plan.cut_at;
  return job_outcome::completed(plan.cleared ? text::undo_finished(plan.cut_at, removed)
                                             : text::undo_done(plan.cut_at, removed));
}

}  // namespace hybrid
