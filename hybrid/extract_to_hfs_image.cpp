#include <array>
#include <functional>
#include <limits>

#include "hybrid/device/device_copy.h"
#include "hybrid/device/device_source.h"
#include "hybrid/device/device_volume.h"
#include "hybrid/floppy_image.h"
#include "hybrid/hybrid_layout.h"
#include "hybrid/io/copy_stream.h"
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

// What a source does once its volume or partition is chosen, the same for a
// device and an image file: the plan of a dry run, then the whole volume
// (`plan` counts its blocks) as it stands, or the chosen row behind a fresh
// map. `copy` moves blocks of the source to the image's position.
job_outcome extract_choice(
    extract_plan plan, const partition_list& list, int choice, byte_stream& image, questions& ask,
    const std::function<job_outcome(std::uint32_t first, std::uint32_t count)>& copy) {
  if (choice == choice_all && ask.dry_run()) {
    plan.image_bytes = plan.block_count * block_bytes;
    ask.show_plan(plan);
    return job_outcome::completed();
  }
  if (!image.seek(0)) {
    return fail_extracting(image, text::io_failure(failed_operation::seek, image));
  }
  if (choice == choice_all) return copy(0, static_cast<std::uint32_t>(plan.block_count));

  const hfs_partition& chosen = list[static_cast<std::size_t>(choice)];
  if (chosen.block_count == 0) {
    return fail_extracting(image, text::chosen_partition_empty(chosen.name));
  }
  if (std::uint64_t{chosen.block_count} + map_area_blocks >
      std::numeric_limits<std::uint32_t>::max()) {
    return fail_extracting(image, text::image_too_large());
  }
  if (ask.dry_run()) {
    plan.first_block = chosen.first_block;
    plan.block_count = chosen.block_count;
    plan.with_map = true;
    plan.image_bytes = (std::uint64_t{chosen.block_count} + map_area_blocks) * block_bytes;
    ask.show_plan(plan);
    return job_outcome::completed();
  }
  if (!write_partition_map(image, chosen.block_count + map_area_blocks, map_area_blocks,
                           chosen.block_count)) {
    return fail_extracting(image, text::io_failure(failed_operation::write, image));
  }
  return copy(chosen.first_block, chosen.block_count);
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

  return extract_choice(extract_plan{specifier, 0, volume_blocks, false, 0}, list, choice, image,
                        ask, [&](std::uint32_t first, std::uint32_t count) {
                          return copy_volume(source, image, first, count, ask);
                        });
}

// Blocks of an image file, moved by the bulk copier.
job_outcome copy_file_blocks(byte_stream& source, byte_stream& image, std::uint32_t first,
                             std::uint32_t count, questions& ask) {
  const std::uint64_t bytes = std::uint64_t{count} * block_bytes;
  if (!source.seek(std::uint64_t{first} * block_bytes)) {
    return fail_extracting(image, text::io_failure(failed_operation::seek, source));
  }
  copy_buffer buffer;
  ask.copy_started(bytes);
  const copy_result copied = copy_stream(source, image, bytes, buffer, &ask);
  ask.copy_ended();
  switch (copied) {
    case copy_result::ok:
      if (!image.flush()) {
        return fail_extracting(image, text::io_failure(failed_operation::flush, image));
      }
      return job_outcome::completed();
    case copy_result::source_ended:
      return fail_extracting(image, text::ended_early(source));
    case copy_result::source_failed:
      return fail_extracting(image, text::io_failure(failed_operation::read, source));
    case copy_result::destination_failed:
      return fail_extracting(image, text::io_failure(failed_operation::write, image));
    case copy_result::stopped:
      break;
  }
  return fail_extracting(image, text::stopped);
}

// The image file's refusals say what became of the files, as its failures
// do: the source is only ever read.
job_outcome refuse_extracting(const std::string& why) {
  return job_outcome::refused(why + text::hfs_image_kept_suffix);
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

// An image file as a device is read: its HFS partitions listed by the file
// listing, a bare volume as the one partition, the whole volume measured
// through its blocks within the file's length.
job_outcome extract_from_image_file(byte_stream& source, byte_stream& image, questions& ask) {
  std::uint64_t length = 0;
  if (!source.length(length)) {
    return refuse_extracting(text::io_failure(failed_operation::length, source));
  }
  partition_list list;
  clear_partition_list(list);
  const int listed = list_hfs_partitions(source, list);
  if (listed < 0) return refuse_extracting(text::io_failure(failed_operation::read, source));
  const extract_plan named{source.name(), 0, 0, false, 0, true};
  const auto copy = [&](std::uint32_t first, std::uint32_t count) {
    return copy_file_blocks(source, image, first, count, ask);
  };
  if (listed == 0) {
    // A bare volume, as the hybrid job takes it: behind a fresh map.
    hfs_partition volume;
    if (job_stop stop =
            bare_volume_partition(source, length, text::bare_volume_incomplete, volume)) {
      return stop->end() == job_outcome::ending::refused ? refuse_extracting(stop->text()) : *stop;
    }
    clear_partition_list(list);
    list[0] = volume;
    return extract_choice(named, list, 0, image, ask, copy);
  }
  int choice = listed == 1 ? choice_all : ask.choose_partition(list);
  if (choice != choice_all && (choice < 0 || choice >= listed_rows(list))) {
    return job_outcome::cancelled();
  }
  extract_plan plan = named;
  if (choice == choice_all) {
    std::array<std::uint8_t, block_bytes> block0{};
    if (!source.seek(0) || !read_exact(source, block0.data(), block0.size())) {
      return refuse_extracting(text::io_failure(failed_operation::read, source));
    }
    stream_blocks blocks(source);
    const std::uint64_t capacity = length / block_bytes;
    std::uint64_t map_end = 0;
    std::uint32_t volume_blocks = 0;
    switch (measure_whole_volume(block0.data(), blocks, list, capacity, map_end, volume_blocks)) {
      case volume_measure::whole:
        break;
      case volume_measure::read_failed:
        return refuse_extracting(text::io_failure(failed_operation::read, source));
      case volume_measure::past_end:
        return refuse_extracting(text::map_past_file_end(source.name(), map_end, capacity));
      case volume_measure::no_count:
        return refuse_extracting(text::no_hfs_partition);
      case volume_measure::too_large:
        return refuse_extracting(text::image_too_large());
    }
    plan.block_count = volume_blocks;
  }
  return extract_choice(plan, list, choice, image, ask, copy);
}

}  // namespace hybrid
