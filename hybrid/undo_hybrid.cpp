// --undo: a hybrid made by appending behind the ISO data becomes the plain
// ISO image again. Everything is checked before the first write, and the
// change is one transaction: the map goes first (zeros over the first
// 32,768 bytes), then the appended data, so that a crash in between leaves a
// plain ISO image with bytes after it, never a map pointing at nothing.
#include <algorithm>
#include <optional>
#include <vector>

#include "hybrid/apm/big_endian.h"
#include "hybrid/apm/partition_map.h"
#include "hybrid/hybrid_writer.h"
#include "hybrid/io/iso_transaction.h"
#include "hybrid/iso_target.h"
#include "hybrid/jobs.h"
#include "hybrid/messages.h"

namespace hybrid {
namespace {

using text::failed_operation;

std::string entry_name(const std::uint8_t* entry) {
  const std::uint8_t* end = std::find(entry + pm::name, entry + pm::name + pm::text_bytes, 0);
  return std::string(entry + pm::name, end);
}

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
  if (head[0] != 'E' || head[1] != 'R' || block1[0] != 'P' || block1[1] != 'M') {
    return refusal::because(text::undo_not_hybrid);
  }
  const std::uint32_t entries = get_be32(block1 + pm::map_blocks);
  if (entries == 0 || entries >= map_area_blocks) {
    return refusal::because(text::undo_bad_count(entries));
  }
  std::optional<std::uint64_t> volume_end;
  if (refusal refused = find_volume_end(iso, plan.length, volume_end)) return refused;
  if (!volume_end) return refusal::because(text::undo_no_volume);
  // The job pads the ISO image to whole blocks: the volume's end rounded up.
  const std::uint64_t volume_blocks = (*volume_end + block_bytes - 1) / block_bytes;

  std::optional<std::uint64_t> first_data;
  for (std::uint32_t n = 1; n <= entries; ++n) {
    const std::uint8_t* entry = head.data() + std::size_t{n} * block_bytes;
    if (entry[0] != 'P' || entry[1] != 'M') return refusal::because(text::undo_bad_count(entries));
    const std::uint32_t first = get_be32(entry + pm::first_block);
    const std::uint32_t count = get_be32(entry + pm::block_count);
    if (std::uint64_t{first} + count <= map_area_blocks) continue;  // the map itself
    if (first < volume_blocks) {
      return refusal::because(
          text::undo_entry_inside_volume(entry_name(entry), first, count, volume_blocks));
    }
    if (std::uint64_t{first} * block_bytes >= plan.length) {
      return refusal::because(
          text::undo_entry_past_end(entry_name(entry), first, plan.length / block_bytes));
    }
    first_data = std::min<std::uint64_t>(first_data.value_or(first), first);
  }
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
  plan.other_data =
      !all_zero(head.data() + ddr::driver_data, head.data() + block_bytes) ||
      !all_zero(head.data() + (std::size_t{entries} + 1) * block_bytes, head.data() + head.size());
  return accepted();
}

}  // namespace

job_outcome undo_hybrid(byte_stream& iso, questions& ask) {
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
