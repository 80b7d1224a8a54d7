#include <optional>

#include "hybrid/device/device_copy.h"
#include "hybrid/device/device_source.h"
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

// A device as the planner's source: no length to check a partition against,
// and the capacity question asked of every partition before it is laid out.
// Cancel at it stops the job before anything is written.
plan_source device_plan_source(device_source& source, questions& ask) {
  return {std::nullopt,
          [&ask](std::uint64_t blocks) {
            const std::optional<std::uint64_t> medium = ask.medium_bytes();
            return blocks <= (medium ? *medium / block_bytes : cdrom_capacity_blocks) ||
                   ask.warning_about(warning_kind::capacity, text::cd_capacity_warning(blocks));
          },
          [&source] { return read_failure_text(source); }, text::device_too_many_entries,
          text::disk_holds_no_hfs};
}

// The device's own map carried over: block 0 as the source was opened with,
// block 1 read again, the rest one request per block.
job_stop plan_device_map(device_source& source, std::uint64_t iso_bytes, const plan_source& terms,
                         hybrid_layout& layout) {
  if (!read_source_block(source, 1)) return job_outcome::refused(read_failure_text(source));
  request_blocks rest = source_blocks(source);
  return plan_merged_map(source.block0.data(), source.entry.data(), rest, iso_bytes, terms, layout);
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

job_outcome make_hybrid(const std::string& specifier, byte_stream& iso, questions& ask) {
  // A refused specifier leaves the device state as the device dialog left it.
  const device_specifier device = parse_specifier(specifier);
  const specifier_form form = device.form;
  if (form != specifier_form::disk && form != specifier_form::cdrom) {
    return job_outcome::refused(refuse_specifier(form, specifier)).about_source();
  }
  select_source_device(device);
  iso_target target;
  if (job_stop stop = prepare_iso_target(iso, target, ask)) return *stop;
  const std::uint64_t iso_bytes = target.kept_length;

  device_source source;
  source.ask = &ask;
  if (refusal refused = open_device_source(source, form == specifier_form::cdrom)) {
    return job_outcome::refused(refused.text()).about_source();
  }
  if (!source.has_driver_descriptor && !source.has_map_entry) {
    return job_outcome::refused(text::not_mac_volume).about_source();
  }
  partition_list list;
  int choice = choice_cancelled;
  if (job_stop stop = choose_source_partition(source, false, list, ask, choice)) {
    return std::move(*stop).about_source();
  }

  hybrid_layout layout;
  const plan_source terms = device_plan_source(source, ask);
  if (job_stop stop = choice == choice_all
                          ? plan_device_map(source, iso_bytes, terms, layout)
                          : plan_chosen_partition(list[static_cast<std::size_t>(choice)], iso_bytes,
                                                  terms, layout)) {
    return std::move(*stop).about_source();
  }
  set_layout_cut(target, layout);
  request_blocks blocks = source_blocks(source);
  if (job_stop judged = judge_planned_hybrid(layout, iso, blocks, terms)) return *judged;
  return write_hybrid(iso, layout, ask, [&](const append_run& run, std::uint64_t done) {
    return copy_device_run(source, iso, run, done, ask);
  });
}

}  // namespace

job_outcome hybridize_from_device(const std::string& specifier, byte_stream& iso, questions& ask) {
  job_outcome outcome = make_hybrid(specifier, iso, ask);
  // A stop that gives up a read before the first write (block 0, the map)
  // says, as one during the copy does, what became of the ISO image.
  if (outcome.end() == job_outcome::ending::refused && outcome.text() == text::stopped) {
    return job_outcome::failed(text::stopped, files_state::iso_as_it_was);
  }
  return outcome;
}

}  // namespace hybrid
