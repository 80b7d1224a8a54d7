#include <limits>

#include "hybrid/device/device_copy.h"
#include "hybrid/device/device_source.h"
#include "hybrid/device/device_volume.h"
#include "hybrid/floppy_image.h"
#include "hybrid/jobs.h"
#include "hybrid/messages.h"
#include "scsi/device_state.h"

namespace hybrid {
namespace {

using text::failed_operation;

// The image is a new file that takes the target's place only when the job
// completes (the dispatch sees to that); a failed job's partial image is cut
// back to nothing all the same, so that it cannot pass for a valid one.
job_outcome fail_extracting(byte_stream& image, const std::string& what) {
  if (image.truncate(0)) image.seek(0);
  return job_outcome::failed(what, files_state::hfs_image_not_written);
}

job_outcome copy_volume(device_source& source, byte_stream& image, std::uint32_t first,
                        std::uint32_t count, questions& ask) {
  device_copy copy;
  copy.progress = &ask;
  ask.copy_started(std::uint64_t{count} * block_bytes);
  const int copied = source.cdrom ? copy_cd_blocks(image, source.request, first, count, copy)
                                  : copy_disk_blocks(image, source.request, first, count, copy);
  ask.copy_ended();
  if (copied != 0) {
    if (!image.flush()) {
      return fail_extracting(image, text::io_failure(failed_operation::flush, image));
    }
    return job_outcome::completed();
  }
  switch (copy.failure.kind) {
    case device_failure::what::write:
      return fail_extracting(image, text::io_failure(failed_operation::write, image));
    case device_failure::what::stopped:
      return fail_extracting(image, text::stopped);
    default:
      source.failure = copy.failure;
      return fail_extracting(image, read_failure_text(source));
  }
}

job_outcome extract_device_volume(const std::string& specifier, bool cdrom, byte_stream& image,
                                  questions& ask) {
  device_source source;
  source.ask = &ask;
  if (refusal refused = open_device_source(source, cdrom)) {
    return job_outcome::refused(refused.text());
  }
  // A CD-ROM must carry both signatures; a disk either one.
  const bool mac_volume = cdrom ? source.has_driver_descriptor && source.has_map_entry
                                : source.has_driver_descriptor || source.has_map_entry;
  if (!mac_volume) return job_outcome::refused(text::not_mac_volume);

  // A CD-ROM's map is walked sector by sector, a disk's block by block.
  partition_list list;
  int choice = choice_cancelled;
  if (job_stop stop = choose_source_partition(source, cdrom, list, ask, choice)) return *stop;
  // The whole volume, its own Driver Descriptor and map included, is all
  // the map describes, or the job is refused here.
  std::uint32_t volume_blocks = 0;
  if (choice == choice_all) {
    if (refusal refused = whole_volume_blocks(source, list, volume_blocks)) {
      return job_outcome::refused(refused.text());
    }
  }

  if (choice == choice_all && ask.dry_run()) {
    ask.show_plan(extract_plan{specifier, 0, volume_blocks, false,
                               std::uint64_t{volume_blocks} * block_bytes});
    return job_outcome::completed();
  }
  if (!image.seek(0)) {
    return fail_extracting(image, text::io_failure(failed_operation::seek, image));
  }
  if (choice == choice_all) return copy_volume(source, image, 0, volume_blocks, ask);

  const hfs_partition& chosen = list[static_cast<std::size_t>(choice)];
  if (chosen.block_count == 0) {
    return fail_extracting(image, text::chosen_partition_empty(chosen.name));
  }
  if (std::uint64_t{chosen.block_count} + map_area_blocks >
      std::numeric_limits<std::uint32_t>::max()) {
    return fail_extracting(image, text::image_too_large());
  }
  if (ask.dry_run()) {
    ask.show_plan(
        extract_plan{specifier, chosen.first_block, chosen.block_count, true,
                     (std::uint64_t{chosen.block_count} + map_area_blocks) * block_bytes});
    return job_outcome::completed();
  }
  if (!write_partition_map(image, chosen.block_count + map_area_blocks, map_area_blocks,
                           chosen.block_count)) {
    return fail_extracting(image, text::io_failure(failed_operation::write, image));
  }
  return copy_volume(source, image, chosen.first_block, chosen.block_count, ask);
}

}  // namespace

refusal check_extract_specifier(const std::string& specifier) {
  const device_specifier device = parse_specifier(specifier);
  switch (device.form) {
    case specifier_form::disk:
    case specifier_form::cdrom:
      return accepted();
    case specifier_form::floppy:
      if (*device.target <= 1) return accepted();
      [[fallthrough]];
    case specifier_form::unknown:
      break;
  }
  return refusal::because(refuse_specifier(device.form, specifier));
}

job_outcome extract_to_hfs_image(const std::string& specifier, byte_stream& image, questions& ask) {
  if (refusal refused = check_extract_specifier(specifier)) {
    return job_outcome::refused(refused.text());
  }
  const device_specifier device = parse_specifier(specifier);
  select_source_device(device);
  if (device.form == specifier_form::floppy) {
    // The floppy's size is the imaging tool's to find: a dry run stops
    // before the tool runs.
    if (ask.dry_run()) {
      ask.show_plan(extract_plan{specifier, 0, 0, false, 0});
      return job_outcome::completed();
    }
    return extract_floppy(*device.target, image, ask);
  }
  job_outcome outcome =
      extract_device_volume(specifier, device.form == specifier_form::cdrom, image, ask);
  // A stop that ends a read before the copy (block 0, the map) is told as a
  // stop during the copy is: the target's new file is open by then, and the
  // user is told that no image was written.
  if (outcome.end() == job_outcome::ending::refused && outcome.text() == text::stopped) {
    return fail_extracting(image, text::stopped);
  }
  return outcome;
}

}  // namespace hybrid
