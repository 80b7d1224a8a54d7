#include "hybrid/tail_recovery.h"

#include <algorithm>
#include <memory>
#include <optional>
#include <vector>

#include "hybrid/apm/map_codec.h"
#include "hybrid/apm/map_walk.h"
#include "hybrid/apm/partition_map.h"
#include "hybrid/hybrid_layout.h"
#include "hybrid/io/copy_stream.h"
#include "hybrid/io/iso_transaction.h"
#include "hybrid/io/removed_tail.h"
#include "hybrid/iso_target.h"
#include "hybrid/messages.h"

namespace hybrid {
namespace {

// What the job writes last: a map whose first data begin at the block where
// the bytes were cut, every entry inside the file. The image it began with
// had no map (the job refuses one that has), so a map there is the job's.
bool is_finished_hybrid(const std::vector<std::uint8_t>& head, std::uint64_t cut_at,
                        std::uint64_t length) {
  if (head.size() < 2 * block_bytes || !is_driver_descriptor(head.data()) ||
      !is_partition_entry(head.data() + block_bytes)) {
    return false;
  }
  const std::uint32_t entries = decode_partition_entry(head.data() + block_bytes).map_blocks;
  if (entries == 0 || entries >= map_area_blocks) return false;
  std::optional<std::uint64_t> first_data;
  bool inside = true;
  // The count is below 64, so the walk stays inside the head.
  walk_map(map_span::blocks_1_to_n, read_memory_blocks(head.data(), head.size()),
           [&](std::uint32_t, std::uint8_t* block) {
             const partition_entry entry = decode_partition_entry(block);
             const std::uint64_t first = entry.first_block, end = first + entry.block_count;
             if (!is_partition_entry(entry) || end * block_bytes > length) {
               inside = false;
               return map_visit::stop;
             }
             if (end > map_area_blocks) first_data = std::min(first_data.value_or(first), first);
             return map_visit::go_on;
           });
  return inside && first_data && *first_data * block_bytes == padded_length(cut_at);
}

}  // namespace

job_stop recover_removed_tail(byte_stream& iso, questions& ask) {
  file_folder* folder = iso.folder();
  platform::file_status status;
  std::uint64_t length = 0;
  std::optional<std::uint64_t> volume_end;
  std::uint32_t fingerprint = 0;
  // Whatever cannot be read here, the job's own checks read again and
  // report; a pipe is never read.
  if (folder == nullptr || !iso.status(status) || status.kind != platform::file_kind::regular ||
      find_volume_end(iso, length = status.length, volume_end) || !volume_end ||
      !volume_fingerprint(iso, fingerprint)) {
    return std::nullopt;
  }
  const kept_tail_names names = kept_tail_names_for(iso.name(), *volume_end, fingerprint);
  const bool writes = !ask.dry_run();
  // Never the only copy: the image is cut only once the file is complete.
  if (writes) folder->remove(names.incomplete);
  bool missing = false;
  std::unique_ptr<byte_stream> kept = folder->open_file(names.complete, missing);
  if (!kept) {
    if (missing) return std::nullopt;
    return job_outcome::refused(
        text::tail_left_beside(names.complete, iso.name(), *volume_end, folder->error_text()));
  }
  std::uint64_t count = 0;
  if (!kept->length(count)) {
    return job_outcome::refused(
        text::tail_left_beside(names.complete, iso.name(), *volume_end, kept->error_text()));
  }
  std::vector<std::uint8_t> head(
      static_cast<std::size_t>(std::min<std::uint64_t>(length, system_area_bytes)));
  if (!iso.seek(0) || !read_exact(iso, head.data(), head.size())) {
    return job_outcome::refused(text::io_failure(text::failed_operation::read, iso));
  }
  const auto remove_kept = [&] {
    kept.reset();
    if (folder->remove(names.complete)) folder->sync();
  };

  const bool cut_and_left = !is_driver_descriptor(head.data()) && length >= *volume_end;
  if (is_driver_descriptor(head.data()) && is_finished_hybrid(head, *volume_end, length)) {
    if (writes) remove_kept();  // the job completed: the user agreed to remove them
    return std::nullopt;
  }
  if (!cut_and_left) {
    return job_outcome::refused(
        text::tail_left_beside(names.complete, iso.name(), *volume_end, text::tail_image_changed));
  }
  if (length == *volume_end + count && same_bytes(iso, *volume_end, *kept, 0, count)) {
    if (writes) remove_kept();  // never cut, or put back already
    return std::nullopt;
  }
  if (!writes) {
    return job_outcome::refused(text::tail_put_back_first(names.complete, iso.name(), count));
  }
  // Whatever the killed run appended goes with the cut.
  copy_buffer buffer;
  const bool back = iso.truncate(*volume_end) && iso.seek(*volume_end) && kept->seek(0) &&
                    copy_stream(*kept, iso, count, buffer) == copy_result::ok &&
                    flush_to_disk(iso) && iso.length(length) && length == *volume_end + count &&
                    same_bytes(iso, *volume_end, *kept, 0, count);
  if (!back) {
    const std::string reason = !iso.error_text().empty() ? iso.error_text() : kept->error_text();
    iso.truncate(*volume_end);  // as the killed run left it, for the next try
    return job_outcome::refused(
        text::tail_not_put_back(names.complete, iso.name(), *volume_end, reason));
  }
  remove_kept();
  ask.notice(text::tail_put_back(names.complete, iso.name(), count, *volume_end));
  return std::nullopt;
}

}  // namespace hybrid
