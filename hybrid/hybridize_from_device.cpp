#include <cstring>
#include <limits>
#include <optional>

#include "hybrid/device_copy.h"
#include "hybrid/device_messages.h"
#include "hybrid/device_source.h"
#include "hybrid/hybrid_writer.h"
#include "hybrid/iso_target.h"
#include "hybrid/jobs.h"
#include "hybrid/messages.h"
#include "scsi/device_state.h"

namespace hybrid {
namespace {

using text::failed_operation;

// A CD-ROM holds this many 512-byte blocks; beyond it the user is warned.
constexpr std::uint64_t cdrom_capacity_blocks = 1250000;
constexpr std::uint64_t max_blocks = std::numeric_limits<std::uint32_t>::max();

// Cancel at a capacity warning stops the job before anything is written.
bool capacity_accepted(std::uint64_t blocks, questions& ask) {
  return blocks <= cdrom_capacity_blocks || ask.warning(text::cd_capacity_warning(blocks));
}

// A fresh 64-block map for one partition, appended behind the ISO data, as
// from a file; a device has no file length to check the partition against.
// The capacity question comes first, and only for a layout that can be made.
refusal layout_chosen(const hfs_partition& partition, std::uint64_t iso_bytes,
                      hybrid_layout& layout, questions& ask, bool& cancelled) {
  const std::uint64_t total = padded_length(iso_bytes) / block_bytes + partition.block_count;
  if (partition.block_count != 0 && total <= max_blocks && !capacity_accepted(total, ask)) {
    cancelled = true;
    return accepted();
  }
  return layout_chosen_partition(partition, iso_bytes, std::numeric_limits<std::uint64_t>::max(),
                                 layout);
}

// The device's own map carried over: its Driver Descriptor without drivers,
// the map's own entry, and every Apple_HFS entry with blocks among blocks 1
// to map-block-count + 1, each pointing at its data behind the ISO data. The whole walk and every
// warning come before the first write, so a Cancel leaves the ISO image untouched.
refusal layout_merged(device_source& source, std::uint64_t iso_bytes, hybrid_layout& layout,
                      questions& ask, bool& cancelled) {
  std::vector<std::uint8_t> head(2 * block_bytes);
  merged_driver_descriptor(source.block0.data(), head.data());
  if (!read_source_block(source, 1)) return refusal::because(read_failure_text(source));
  std::memcpy(head.data() + block_bytes, source.entry.data(), block_bytes);

  std::uint64_t end = padded_length(iso_bytes) / block_bytes;
  std::vector<append_run> runs;
  int merged = 0;
  refusal refused;
  const auto read_entry = [&](std::uint32_t block, std::uint8_t* into) {
    if (!read_source_block(source, block)) return block_read::failed;
    std::memcpy(into, source.entry.data(), block_bytes);
    return block_read::ok;
  };
  const map_walk_end walked =
      walk_merged_entries(head, read_entry, [&](std::uint32_t, std::uint8_t* entry) {
        partition_entry fields = decode_partition_entry(entry);
        const std::uint32_t count = fields.block_count;
        if (!is_hfs_entry(fields) || count == 0) return map_visit::go_on;
        ++merged;
        if (merged > max_merged_entries) return map_visit::go_on;  // counted for the message only
        if (end + count > max_blocks) {
          refused = refusal::because(text::image_too_large());
          return map_visit::stop;
        }
        if (!capacity_accepted(end + count, ask)) {
          cancelled = true;
          return map_visit::stop;
        }
        const std::uint32_t first = fields.first_block;
        fields.first_block = static_cast<std::uint32_t>(end);
        encode_partition_entry(fields, entry);
        head.insert(head.end(), entry, entry + block_bytes);
        runs.push_back({std::uint64_t{first} * block_bytes, std::uint64_t{count} * block_bytes});
        end += count;
        return map_visit::go_on;
      });
  if (walked == map_walk_end::read_failed) return refusal::because(read_failure_text(source));
  if (walked == map_walk_end::stopped) return refused;
  if (merged > max_merged_entries) return refusal::because(text::device_too_many_entries(merged));
  if (merged == 0) return refusal::because(text::disk_holds_no_hfs);

  finish_merged_layout(std::move(head), std::move(runs), end, merged, iso_bytes, layout);
  return accepted();
}

refusal copy_device_run(device_source& source, byte_stream& iso, const append_run& run,
                        std::uint64_t done, questions& ask) {
  device_copy copy;
  copy.progress = &ask;
  copy.done = done;
  const auto first = static_cast<std::uint32_t>(run.source_offset / block_bytes);
  const auto count = static_cast<std::uint32_t>(run.byte_count / block_bytes);
  const int copied = source.cdrom ? copy_cd_blocks(iso, source.request, first, count, copy)
                                  : copy_disk_blocks(iso, source.request, first, count, copy);
  if (copied != 0) return accepted();
  switch (copy.failure.kind) {
    case device_failure::what::write:
      return refusal::because(text::io_failure(failed_operation::write, iso));
    case device_failure::what::stopped:
      return refusal::because(text::stopped);
    default:
      source.failure = copy.failure;
      return refusal::because(read_failure_text(source));
  }
}

}  // namespace

int hybridize_from_device(const std::string& specifier, byte_stream& iso, questions& ask) {
  // A refused specifier leaves the device state as the device dialog left it.
  const device_specifier device = parse_specifier(specifier);
  const specifier_form form = device.form;
  if (form != specifier_form::disk && form != specifier_form::cdrom) {
    ask.notice(refuse_specifier(form, specifier));
    return 0;
  }
  select_source_device(device);
  iso_target target;
  bool cancelled = false;
  if (refusal refused = measure_iso_target(iso, target)) {
    ask.notice(refused.text());
    return 0;
  }
  if (refusal refused = check_iso_target(iso, target, ask, cancelled)) {
    ask.notice(refused.text());
    return 0;
  }
  if (cancelled) return 0;
  const std::uint64_t iso_bytes = target.kept_length;

  device_source source;
  source.ask = &ask;
  if (refusal refused = open_device_source(source, form == specifier_form::cdrom)) {
    ask.notice(refused.text());
    return 0;
  }
  if (!source.has_driver_descriptor && !source.has_map_entry) {
    ask.notice(text::not_mac_volume);
    return 0;
  }
  partition_list list;
  const std::optional<int> choice = choose_source_partition(source, false, list, ask);
  if (!choice) return 0;

  hybrid_layout layout;
  const refusal refused = *choice == choice_all
                              ? layout_merged(source, iso_bytes, layout, ask, cancelled)
                              : layout_chosen(list[static_cast<std::size_t>(*choice)], iso_bytes,
                                              layout, ask, cancelled);
  if (cancelled) return 0;
  if (refused) {
    ask.notice(refused.text());
    return 0;
  }
  if (target.removes_bytes_after_volume()) {
    layout.cut_at = target.kept_length;
    layout.removed_bytes = target.length - target.kept_length;
  }
  return write_hybrid(iso, layout, ask, [&](const append_run& run, std::uint64_t done) {
    return copy_device_run(source, iso, run, done, ask);
  });
}

}  // namespace hybrid
