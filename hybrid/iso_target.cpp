#include "hybrid/iso_target.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <vector>

#include "hybrid/apm/partition_map.h"
#include "hybrid/iso_volume.h"
#include "hybrid/messages.h"
#include "hybrid/tail_recovery.h"

namespace hybrid {
namespace {

using text::failed_operation;

constexpr std::size_t sector_bytes = iso9660::sector_bytes;

}  // namespace

// The end of the ISO 9660 volume as its primary volume descriptor declares
// it; nothing when there is no such descriptor or its numbers cannot be
// believed (the two copies differ, an odd block size, a volume that would
// end inside its own descriptors).
refusal find_volume_end(byte_stream& iso, std::uint64_t length,
                        std::optional<std::uint64_t>& volume_end) {
  std::vector<std::uint8_t> sector(sector_bytes);
  for (std::size_t n = 0; n < iso9660::max_descriptors; ++n) {
    const std::uint64_t at = map_area_bytes + n * sector_bytes;
    if (at + sector_bytes > length) return accepted();
    if (!iso.seek(at) || !read_exact(iso, sector.data(), sector.size())) {
      return refusal::because(text::io_failure(failed_operation::read, iso));
    }
    if (!is_volume_descriptor(sector.data()) || sector[0] == iso9660::set_terminator) {
      return accepted();
    }
    if (sector[0] != iso9660::primary_descriptor) continue;
    const std::optional<iso_volume_size> size = primary_volume_size(sector.data());
    if (!size) return accepted();
    const std::uint64_t end = size->bytes();
    if (end >= at + sector_bytes) volume_end = end;
    return accepted();
  }
  return accepted();
}

namespace {

// A few zeros after the volume are padding that some tools write outside it
// (xorriso's own mode leaves about 330 KB): nothing is lost by keeping them,
// so they are not asked about. The look stops at the first byte that is not
// zero, and does not go on for ever: more than this is asked about anyway.
constexpr std::uint64_t max_padding_bytes = 16u << 20;

refusal is_padding(byte_stream& iso, std::uint64_t from, std::uint64_t length, bool& padding) {
  std::vector<std::uint8_t> chunk(64 * 1024);
  padding = false;
  if (length - from > max_padding_bytes) return accepted();
  padding = true;
  if (!iso.seek(from)) return refusal::because(text::io_failure(failed_operation::seek, iso));
  for (std::uint64_t at = from; at < length;) {
    const auto count = static_cast<std::size_t>(std::min<std::uint64_t>(chunk.size(), length - at));
    if (!read_exact(iso, chunk.data(), count)) {
      return refusal::because(text::io_failure(failed_operation::read, iso));
    }
    if (std::any_of(chunk.begin(), chunk.begin() + static_cast<std::ptrdiff_t>(count),
                    [](std::uint8_t byte) { return byte != 0; })) {
      padding = false;
      return accepted();
    }
    at += count;
  }
  return accepted();
}

}  // namespace

refusal measure_iso_target(byte_stream& iso, iso_target& target) {
  platform::file_status status;
  if (!iso.status(status)) return refusal::because(text::io_failure(failed_operation::length, iso));
  if (status.kind != platform::file_kind::regular) {
    return refusal::because(text::iso_not_a_file(iso.name(), status.kind));
  }
  if (!iso.length(target.length)) {
    return refusal::because(text::io_failure(failed_operation::length, iso));
  }
  target.kept_length = target.length;
  return accepted();
}

job_stop check_iso_target(byte_stream& iso, iso_target& target, questions& ask) {
  const std::uint64_t length = target.length;
  std::vector<std::uint8_t> head(
      static_cast<std::size_t>(std::min<std::uint64_t>(length, map_area_bytes + sector_bytes)));
  if (!iso.seek(0) || !read_exact(iso, head.data(), head.size())) {
    return job_outcome::refused(text::io_failure(failed_operation::read, iso));
  }
  // What an interrupted --undo left (the map with its signatures cleared) is
  // neither a hybrid nor another program's data: the job overwrites it, and
  // the data it pointed at are asked about below as bytes after the volume.
  const bool cleared_map = head.size() >= 2 * block_bytes && holds_cleared_map(head.data());
  if (length >= 2 && is_driver_descriptor(head.data()) && !cleared_map)
    return job_outcome::refused(text::already_hybrid);
  // The map covers the first 32,768 bytes; a shorter file has no room for it
  // and holds no ISO 9660 volume anyway.
  if (length < map_area_bytes) return job_outcome::refused(text::iso_too_small(length));
  // A hybrid made without a partition map, or an HFS volume given as the
  // target: the map would overwrite the volume's header.
  if (bare_volume_kind(head.data() + 2 * block_bytes) != bare_volume::none) {
    return job_outcome::refused(text::already_hybrid);
  }

  const bool looks_like_iso9660 =
      length >= map_area_bytes + 6 && is_volume_descriptor(head.data() + map_area_bytes);
  const auto system_area_end = head.begin() + static_cast<std::ptrdiff_t>(map_area_bytes);
  if (!cleared_map &&
      std::any_of(head.begin(), system_area_end, [](std::uint8_t byte) { return byte != 0; }) &&
      !ask.warning_about(
          warning_kind::system_area,
          text::system_area_in_use(system_area_contents(head.data()), looks_like_iso9660))) {
    return job_outcome::cancelled();
  }

  std::optional<std::uint64_t> volume_end;
  if (refusal refused = find_volume_end(iso, length, volume_end)) {
    return job_outcome::refused(refused.text());
  }
  if (!volume_end || *volume_end >= length) return std::nullopt;
  bool padding = false;
  if (refusal refused = is_padding(iso, *volume_end, length, padding)) {
    return job_outcome::refused(refused.text());
  }
  if (padding) return std::nullopt;
  if (!ask.warning_about(warning_kind::bytes_after_volume,
                         text::bytes_after_volume(length - *volume_end)))
    return job_outcome::cancelled();
  target.kept_length = *volume_end;
  return std::nullopt;
}

job_stop prepare_iso_target(byte_stream& iso, iso_target& target, questions& ask,
                            const std::function<bool(const iso_target&)>& before_checks) {
  if (job_stop stop = recover_removed_tail(iso, ask)) return stop;
  if (refusal refused = measure_iso_target(iso, target))
    return job_outcome::refused(refused.text());
  if (before_checks && !before_checks(target)) return job_outcome::cancelled();
  return check_iso_target(iso, target, ask);
}

void set_layout_cut(const iso_target& target, hybrid_layout& layout) {
  if (!target.removes_bytes_after_volume()) return;
  layout.cut_at = target.kept_length;
  layout.removed_bytes = target.length - target.kept_length;
}

}  // namespace hybrid
