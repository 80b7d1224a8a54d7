#include <algorithm>
#include <cstring>
#include <limits>

#include "hybrid/device_copy.h"
#include "hybrid/device_listing.h"
#include "hybrid/device_messages.h"
#include "hybrid/device_source.h"
#include "hybrid/hybrid_writer.h"
#include "hybrid/jobs.h"
#include "hybrid/messages.h"
#include "scsi/device_state.h"

namespace hybrid {
namespace {

using text::failed_operation;

// A CD-ROM holds this many 512-byte blocks; beyond it the user is warned.
constexpr std::uint64_t cdrom_capacity_blocks = 1250000;
constexpr std::uint64_t max_blocks = std::numeric_limits<std::uint32_t>::max();
constexpr int max_merged_entries = static_cast<int>(map_area_blocks) - 2;

// Cancel at a capacity warning stops the job before anything is written.
bool capacity_accepted(std::uint64_t blocks, questions& ask) {
  return blocks <= cdrom_capacity_blocks || ask.warning(text::cd_capacity_warning(blocks));
}

std::string check_iso(byte_stream& iso, std::uint64_t& iso_bytes) {
  if (!iso.length(iso_bytes)) return text::io_failure(failed_operation::length, iso);
  std::uint8_t first[2] = {};
  if (!iso.seek(0) || iso.read(first, sizeof first) != std::min<std::uint64_t>(iso_bytes, 2)) {
    return text::io_failure(failed_operation::read, iso);
  }
  if (iso_bytes >= 2 && first[0] == 'E' && first[1] == 'R') return text::already_hybrid;
  // The map covers the first 32,768 bytes; a shorter file has no room for it.
  if (iso_bytes < map_area_bytes) return text::iso_too_small(iso_bytes);
  return {};
}

// A fresh 64-block map for one partition, appended behind the ISO data.
std::string layout_chosen(const hfs_partition& partition, std::uint64_t iso_bytes,
                          hybrid_layout& layout, questions& ask, bool& cancelled) {
  if (partition.block_count == 0) return text::chosen_partition_empty(partition.name);
  const std::uint64_t iso_blocks = padded_length(iso_bytes) / block_bytes;
  const std::uint64_t total = iso_blocks + partition.block_count;
  if (total > max_blocks) return text::image_too_large();
  if (!capacity_accepted(total, ask)) {
    cancelled = true;
    return {};
  }
  std::array<std::uint8_t, map_area_bytes> map;
  build_partition_map(map, static_cast<std::uint32_t>(total),
                      static_cast<std::uint32_t>(iso_blocks), partition.block_count);
  layout.head.assign(map.begin(), map.end());
  layout.pad_bytes = padded_length(iso_bytes) - iso_bytes;
  layout.runs = {{std::uint64_t{partition.first_block} * block_bytes,
                  std::uint64_t{partition.block_count} * block_bytes}};
  return {};
}

// The device's own map carried over: its Driver Descriptor without drivers,
// its first entry whatever its type, and every Apple_HFS entry with blocks
// among the next map-block-count blocks, each pointing at its data behind
// the ISO data. The whole walk and every warning come before the first write,
// so a Cancel leaves the ISO image untouched.
std::string layout_merged(device_source& source, std::uint64_t iso_bytes, hybrid_layout& layout,
                          questions& ask, bool& cancelled) {
  std::vector<std::uint8_t> head(2 * block_bytes);
  std::memcpy(head.data(), source.block0.data(), ddr::drivers);
  stamp_driver_descriptor(head.data());
  if (!read_source_block(source, 1)) return read_failure_text(source);
  std::memcpy(head.data() + block_bytes, source.entry.data(), block_bytes);

  const std::int32_t map_blocks =
      std::clamp(map_block_count(source.entry.data()), 0, max_walked_map_blocks);
  std::uint64_t end = padded_length(iso_bytes) / block_bytes;
  std::vector<append_run> runs;
  int merged = 0;
  for (std::int32_t walked = 0; walked < map_blocks; ++walked) {
    if (!read_source_block(source, static_cast<std::uint32_t>(walked) + 2)) {
      return read_failure_text(source);
    }
    std::uint8_t* entry = source.entry.data();
    const std::uint32_t count = get_be32(entry + pm::block_count);
    if (!is_hfs_entry(entry) || count == 0) continue;
    ++merged;
    if (merged > max_merged_entries) continue;  // counted for the message only
    if (end + count > max_blocks) return text::image_too_large();
    if (!capacity_accepted(end + count, ask)) {
      cancelled = true;
      return {};
    }
    const std::uint32_t first = get_be32(entry + pm::first_block);
    put_be32(entry + pm::first_block, static_cast<std::uint32_t>(end));
    head.insert(head.end(), entry, entry + block_bytes);
    runs.push_back({std::uint64_t{first} * block_bytes, std::uint64_t{count} * block_bytes});
    end += count;
  }
  if (merged > max_merged_entries) return text::device_too_many_entries(merged);
  if (merged == 0) return text::disk_holds_no_hfs;

  put_be32(head.data() + ddr::block_count, static_cast<std::uint32_t>(end));
  const auto entries = static_cast<std::uint32_t>(merged + 1);
  for (std::uint32_t index = 1; index <= entries; ++index) {
    put_be32(head.data() + index * block_bytes + pm::map_blocks, entries);
  }
  layout.head = std::move(head);
  layout.pad_bytes = padded_length(iso_bytes) - iso_bytes;
  layout.runs = std::move(runs);
  return {};
}

std::string copy_device_run(device_source& source, byte_stream& iso, const append_run& run,
                            std::uint64_t done, questions& ask) {
  device_copy copy;
  copy.progress = &ask;
  copy.done = done;
  const auto first = static_cast<std::uint32_t>(run.source_offset / block_bytes);
  const auto count = static_cast<std::uint32_t>(run.byte_count / block_bytes);
  const int copied = source.cdrom ? copy_cd_blocks(iso, source.request, first, count, copy)
                                  : copy_disk_blocks(iso, source.request, first, count, copy);
  if (copied != 0) return {};
  switch (copy.failure.kind) {
    case device_failure::what::write:
      return text::io_failure(failed_operation::write, iso);
    case device_failure::what::stopped:
      return text::stopped;
    default:
      source.failure = copy.failure;
      return read_failure_text(source);
  }
}

}  // namespace

int hybridize_from_device(const std::string& specifier, byte_stream& iso, questions& ask) {
  const specifier_form form = read_specifier(specifier);
  if (form != specifier_form::disk && form != specifier_form::cdrom) {
    ask.notice(refuse_specifier(form, specifier));
    return 0;
  }
  std::uint64_t iso_bytes = 0;
  if (std::string refusal = check_iso(iso, iso_bytes); !refusal.empty()) {
    ask.notice(refusal);
    return 0;
  }

  device_source source;
  if (std::string refusal = open_device_source(source, form == specifier_form::cdrom);
      !refusal.empty()) {
    ask.notice(refusal);
    return 0;
  }
  if (!source.has_driver_descriptor && !source.has_map_entry) {
    ask.notice(text::not_mac_volume);
    return 0;
  }

  partition_list list;
  clear_partition_list(list);
  const int listed = list_hfs_partitions_dev(source.read, source.request, list, source.failure);
  if (listed < 0) {
    ask.notice(read_failure_text(source));
    return 0;
  }
  if (listed == 0) {
    ask.notice(text::disk_holds_no_hfs);
    return 0;
  }

  hybrid_layout layout;
  std::string refusal;
  bool cancelled = false;
  const int choice = listed == 1 ? choice_all : ask.choose_partition(list);
  if (choice == choice_all) {
    refusal = layout_merged(source, iso_bytes, layout, ask, cancelled);
  } else if (choice >= 0 && choice < listed_rows(list)) {
    refusal =
        layout_chosen(list[static_cast<std::size_t>(choice)], iso_bytes, layout, ask, cancelled);
  } else {
    return 0;
  }
  if (cancelled) return 0;
  if (!refusal.empty()) {
    ask.notice(refusal);
    return 0;
  }
  return write_hybrid(iso, layout, ask, [&](const append_run& run, std::uint64_t done) {
    return copy_device_run(source, iso, run, done, ask);
  });
}

}  // namespace hybrid
