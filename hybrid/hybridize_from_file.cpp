#include "hybrid/hybrid_layout.h"
#include "hybrid/hybrid_writer.h"
#include "hybrid/image_info.h"
#include "hybrid/io/copy_stream.h"
#include "hybrid/iso_target.h"
#include "hybrid/jobs.h"
#include "hybrid/messages.h"

namespace hybrid {
namespace {

using text::failed_operation;

// Appends one run of the HFS file behind the ISO data, at `at`: its blocks
// shared with the HFS file where the file system allows, copied elsewhere.
refusal copy_file_run(byte_stream& hfs, byte_stream& iso, copy_buffer& buffer,
                      block_sharing& sharing, const append_run& run, std::uint64_t at,
                      std::uint64_t done, questions& ask) {
  if (!hfs.seek(run.source_offset))
    return refusal::because(text::io_failure(failed_operation::seek, hfs));
  switch (
      copy_range(hfs, run.source_offset, iso, at, run.byte_count, buffer, sharing, &ask, done)) {
    case copy_result::ok:
      return accepted();
    case copy_result::destination_failed:
      return refusal::because(text::io_failure(failed_operation::write, iso));
    case copy_result::source_failed:
      return refusal::because(text::io_failure(failed_operation::read, hfs));
    case copy_result::stopped:
      return refusal::because(text::stopped);
    case copy_result::source_ended:
      break;
  }
  return refusal::because(text::ended_early(hfs));
}

// The HFS file must be what it was when the job began: one that grew or was
// rewritten during the copy (a copy or a download still under way) gave a
// hybrid with a cut or mixed volume. A writer may put the time of its change
// back; the status change time, which it cannot set, still shows it.
refusal check_unchanged(byte_stream& hfs, const platform::file_status& before) {
  platform::file_status now;
  if (!hfs.status(now)) return refusal::because(text::io_failure(failed_operation::length, hfs));
  if (now.length != before.length || now.modified_ns != before.modified_ns ||
      now.changed_ns != before.changed_ns) {
    return refusal::because(text::source_changed);
  }
  return accepted();
}

// Where the runs' data go: behind the ISO data and its padding, one after
// the other.
std::uint64_t first_run_at(const hybrid_layout& layout) {
  return layout.iso_bytes + layout.pad_bytes;
}

std::uint64_t shareable_bytes(const hybrid_layout& layout, std::uint64_t block_bytes) {
  std::uint64_t shareable = 0;
  std::uint64_t at = first_run_at(layout);
  for (const append_run& run : layout.runs) {
    shareable += split_for_sharing(run.source_offset, at, run.byte_count, block_bytes).shared;
    at += run.byte_count;
  }
  return shareable;
}

}  // namespace

job_outcome hybridize_from_file(byte_stream& hfs_image, byte_stream& iso_image, questions& ask) {
  platform::file_status source_at_start;
  std::uint64_t hfs_bytes = 0;
  if (!hfs_image.status(source_at_start) || !hfs_image.length(hfs_bytes)) {
    return job_outcome::refused(text::io_failure(failed_operation::length, hfs_image))
        .about_source();
  }
  iso_target target;
  const auto capacity_accepted = [&](const iso_target& measured) {
    return hfs_bytes + measured.length <= ask.medium_bytes().value_or(cdrom_capacity_bytes) ||
           ask.warning_about(warning_kind::capacity,
                             text::capacity_warning(hfs_bytes, measured.length));
  };
  if (job_stop stop = prepare_iso_target(iso_image, target, ask, capacity_accepted)) return *stop;
  const std::uint64_t iso_bytes = target.kept_length;

  partition_list list;
  clear_partition_list(list);
  const int listed = list_hfs_partitions(hfs_image, list);
  if (listed < 0) {
    return job_outcome::refused(text::io_failure(failed_operation::read, hfs_image)).about_source();
  }

  hybrid_layout layout;
  job_stop stop;
  if (listed == 0) {
    stop = plan_bare_volume(hfs_image, iso_bytes, hfs_bytes, layout);
  } else if (listed == 1) {
    stop = layout_merged_map(hfs_image, iso_bytes, hfs_bytes, layout);
  } else {
    stream_blocks names(hfs_image);
    const int choice = choose_partition_of(ask, list, names);
    if (choice == choice_all) {
      stop = layout_merged_map(hfs_image, iso_bytes, hfs_bytes, layout);
    } else if (choice >= 0 && choice < listed_rows(list)) {
      stop = plan_chosen_partition(list[static_cast<std::size_t>(choice)], iso_bytes,
                                   file_plan_source(hfs_image, hfs_bytes), layout);
    } else {
      return job_outcome::cancelled();
    }
  }
  if (stop) return std::move(*stop).about_source();
  set_layout_cut(target, layout);
  stream_blocks source_blocks(hfs_image);
  if (job_stop judged = judge_planned_hybrid(layout, iso_image, source_blocks,
                                             file_plan_source(hfs_image, hfs_bytes))) {
    return *judged;
  }
  block_sharing sharing = sharing_between(hfs_image, iso_image);
  layout.shareable_bytes = shareable_bytes(layout, sharing.block_bytes);
  copy_buffer buffer;
  job_outcome outcome = write_hybrid(
      iso_image, layout, ask,
      [&](const append_run& run, std::uint64_t done) {
        return copy_file_run(hfs_image, iso_image, buffer, sharing, run,
                             first_run_at(layout) + done, done, ask);
      },
      [&] { return check_unchanged(hfs_image, source_at_start); });
  if (outcome.end() == job_outcome::ending::completed)
    outcome.note_shared_bytes(sharing.shared_bytes);
  return outcome;
}

}  // namespace hybrid
