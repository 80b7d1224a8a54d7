#include "hybrid/hybrid_layout.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>

#include "hybrid/apm/map_walk.h"
#include "hybrid/image_info.h"
#include "hybrid/messages.h"

namespace hybrid {
namespace {

using text::failed_operation;

constexpr std::uint64_t max_blocks = std::numeric_limits<std::uint32_t>::max();

std::string partition_name(const partition_entry& entry) {
  return text_of(entry.name, entry.name.size() - 1);
}

// Blocks 0 and 1 from the head, the others from the source.
class head_then_rest final : public block_source {
 public:
  head_then_rest(const std::vector<std::uint8_t>& head, block_source& rest)
      : head_(head), rest_(rest) {}
  block_read read(std::uint32_t first, std::uint32_t count, std::uint8_t* into) override {
    for (; count > 0 && first < 2; ++first, --count, into += block_bytes)
      std::memcpy(into, head_.data() + first * block_bytes, block_bytes);
    return count == 0 ? block_read::ok : rest_.read(first, count, into);
  }

 private:
  const std::vector<std::uint8_t>& head_;
  block_source& rest_;
};

// What every partition passes before it is laid out at block `at`, the
// refusals first: its data inside the source (a truncated image, or an entry
// that points past its end, would otherwise append bytes that are not
// there), block numbers within 32 bits; then the capacity question.
job_stop admit_partition(const char* name, std::uint32_t first, std::uint32_t count,
                         std::uint64_t at, const plan_source& source) {
  if (source.length) {
    const std::uint64_t end = (std::uint64_t{first} + count) * block_bytes;
    if (end > *source.length)
      return job_outcome::refused(text::partition_past_end(name, end, *source.length));
  }
  if (at + count > max_blocks) return job_outcome::refused(text::image_too_large());
  if (source.capacity && !source.capacity(at + count)) return job_outcome::cancelled();
  return std::nullopt;
}

// Completes a merged map once every entry is in `head`: block 0 counts the
// whole image, block 1 becomes the map's own entry, every entry counts the
// entries (the map's own and `merged`).
void finish_merged_layout(std::vector<std::uint8_t> head, std::vector<append_run> runs,
                          std::uint64_t total_blocks, int merged, std::uint64_t iso_bytes,
                          hybrid_layout& layout) {
  // Counts known only now: the blocks of the whole image, and the entries
  // after block 0, which every entry repeats.
  driver_descriptor descriptor = decode_driver_descriptor(head.data());
  descriptor.block_count = static_cast<std::uint32_t>(total_blocks);
  encode_driver_descriptor(descriptor, head.data());
  const auto entries = static_cast<std::uint32_t>(merged + 1);
  // Block 1 is the map's own entry whatever the source held there: an
  // Apple_HFS entry kept as it was pointed into the ISO 9660 data, one
  // without "PM" made partx refuse the map, and one that covered blocks 1-4
  // only made parted count the ISO data behind it as a partition.
  build_map_entry(head.data() + block_bytes, entries,
                  map_entry_name(head.data() + block_bytes).c_str());
  for (std::uint32_t entry = 2; entry <= entries; ++entry) {
    std::uint8_t* const block = head.data() + entry * block_bytes;
    partition_entry repeated = decode_partition_entry(block);
    repeated.map_blocks = entries;
    encode_partition_entry(repeated, block);
  }
  layout.head = std::move(head);
  layout.iso_bytes = iso_bytes;
  layout.pad_bytes = padded_length(iso_bytes) - iso_bytes;
  layout.runs = std::move(runs);
}

// The bytes of the hybrid a layout plans, read from where each will come
// from: the head, the ISO image up to the layout's length, the padding, then
// each run from the source. Only what --info asks for is read: the system
// area, the volume descriptors and a block at each partition's start.
class planned_bytes {
 public:
  planned_bytes(const hybrid_layout& layout, byte_stream& iso, block_source& blocks)
      : layout_(layout), iso_(iso), blocks_(blocks) {}

  bool read(std::uint64_t offset, std::uint8_t* into, std::size_t count) {
    const std::uint64_t runs_at = padded_length(layout_.iso_bytes);
    while (count > 0) {
      std::size_t taken = 0;
      if (offset < layout_.head.size()) {
        taken = up_to(count, layout_.head.size() - offset);
        std::memcpy(into, layout_.head.data() + offset, taken);
      } else if (offset < layout_.iso_bytes) {
        taken = up_to(count, layout_.iso_bytes - offset);
        if (!iso_.seek(offset) || !read_exact(iso_, into, taken)) return false;
      } else if (offset < runs_at) {
        taken = up_to(count, runs_at - offset);
        std::memset(into, 0, taken);
      } else if (!read_run(offset - runs_at, into, count, taken)) {
        return false;
      }
      offset += taken;
      into += taken;
      count -= taken;
    }
    return true;
  }

  // A failed read was the source's; otherwise the ISO image's.
  bool source_failed = false;

 private:
  static std::size_t up_to(std::size_t count, std::uint64_t left) {
    return static_cast<std::size_t>(std::min<std::uint64_t>(count, left));
  }

  // `offset` bytes after the ISO data and their padding: in the run that
  // holds it, at most to that run's end.
  bool read_run(std::uint64_t offset, std::uint8_t* into, std::size_t count, std::size_t& taken) {
    for (const append_run& run : layout_.runs) {
      if (offset >= run.byte_count) {
        offset -= run.byte_count;
        continue;
      }
      taken = up_to(count, run.byte_count - offset);
      const std::uint64_t at = run.source_offset + offset;
      const std::uint64_t first = at / block_bytes;
      const std::uint64_t blocks = (at + taken + block_bytes - 1) / block_bytes - first;
      std::vector<std::uint8_t> bytes(static_cast<std::size_t>(blocks) * block_bytes);
      source_failed =
          first + blocks > max_blocks + 1 ||
          blocks_.read(static_cast<std::uint32_t>(first), static_cast<std::uint32_t>(blocks),
                       bytes.data()) != block_read::ok;
      if (source_failed) return false;
      std::memcpy(into, bytes.data() + at % block_bytes, taken);
      return true;
    }
    return false;  // past the planned end, which --info's reader never asks for
  }

  const hybrid_layout& layout_;
  byte_stream& iso_;
  block_source& blocks_;
};

}  // namespace

std::uint64_t hybrid_layout::append_bytes() const {
  std::uint64_t total = pad_bytes;
  for (const append_run& run : runs) total += run.byte_count;
  return total;
}

std::uint64_t padded_length(std::uint64_t iso_bytes) {
  return (iso_bytes + block_bytes - 1) / block_bytes * block_bytes;
}

std::uint64_t planned_length(const hybrid_layout& layout) {
  return padded_length(layout.iso_bytes) + layout.append_bytes() - layout.pad_bytes;
}

job_stop judge_planned_hybrid(const hybrid_layout& layout, byte_stream& iso, block_source& blocks,
                              const plan_source& source) {
  planned_bytes bytes(layout, iso, blocks);
  image_info info;
  const bool read =
      describe_image([&](std::uint64_t offset, std::uint8_t* into,
                         std::size_t count) { return bytes.read(offset, into, count); },
                     planned_length(layout), info, judged_as::own_hybrid);
  if (!read) {
    return job_outcome::refused(bytes.source_failed
                                    ? source.read_failure()
                                    : text::io_failure(failed_operation::read, iso));
  }
  if (info.sound()) return std::nullopt;
  std::vector<std::string> problems;
  for (const image_problem& problem : info.problems) problems.push_back(problem.text);
  return job_outcome::refused(text::planned_hybrid_unsound(problems));
}

job_stop plan_chosen_partition(const hfs_partition& partition, std::uint64_t iso_bytes,
                               const plan_source& source, hybrid_layout& layout) {
  if (partition.block_count == 0)
    return job_outcome::refused(text::chosen_partition_empty(partition.name));
  const std::uint64_t iso_blocks = padded_length(iso_bytes) / block_bytes;
  if (job_stop stop = admit_partition(partition.name, partition.first_block, partition.block_count,
                                      iso_blocks, source)) {
    return stop;
  }

  std::array<std::uint8_t, map_area_bytes> map;
  build_partition_map(map, static_cast<std::uint32_t>(iso_blocks + partition.block_count),
                      static_cast<std::uint32_t>(iso_blocks), partition.block_count);
  layout.head.assign(map.begin(), map.end());
  layout.iso_bytes = iso_bytes;
  layout.pad_bytes = padded_length(iso_bytes) - iso_bytes;
  layout.runs = {{std::uint64_t{partition.first_block} * block_bytes,
                  std::uint64_t{partition.block_count} * block_bytes}};
  return std::nullopt;
}

job_stop plan_merged_map(const std::uint8_t* block0, const std::uint8_t* block1, block_source& rest,
                         std::uint64_t iso_bytes, const plan_source& source,
                         hybrid_layout& layout) {
  std::vector<std::uint8_t> head(2 * block_bytes);
  // The source's drivers mean nothing behind an ISO image.
  merged_driver_descriptor(block0, head.data());
  std::memcpy(head.data() + block_bytes, block1, block_bytes);

  std::uint64_t end = padded_length(iso_bytes) / block_bytes;
  std::vector<append_run> runs;
  int merged = 0;
  job_stop stop;
  head_then_rest blocks(head, rest);
  const map_walk_end walked =
      walk_map(map_span::blocks_1_to_n_plus_1, blocks, [&](std::uint32_t, std::uint8_t* entry) {
        partition_entry fields = decode_partition_entry(entry);
        const std::uint32_t count = fields.block_count;
        if (!is_hfs_entry(fields) || count == 0) return map_visit::go_on;
        ++merged;
        if (merged > max_merged_entries) return map_visit::go_on;  // counted for the message only

        const std::uint32_t first = fields.first_block;
        stop = admit_partition(partition_name(fields).c_str(), first, count, end, source);
        if (stop) return map_visit::stop;
        fields.first_block = static_cast<std::uint32_t>(end);
        // The map is ours: every entry in it carries "PM". An Apple_HFS entry
        // whose signature was damaged in the source is taken (the listing
        // offers it), and carried over as it was it made partx refuse the
        // whole map and --info count one entry less than the map says.
        fields.signature = entry_signature;
        encode_partition_entry(fields, entry);
        head.insert(head.end(), entry, entry + block_bytes);
        runs.push_back({std::uint64_t{first} * block_bytes, std::uint64_t{count} * block_bytes});
        end += count;
        return map_visit::go_on;
      });
  if (walked == map_walk_end::read_failed) return job_outcome::refused(source.read_failure());
  if (walked == map_walk_end::stopped) return stop;
  if (merged > max_merged_entries) return job_outcome::refused(source.too_many_entries(merged));
  if (merged == 0) return job_outcome::refused(source.no_hfs_partition);

  finish_merged_layout(std::move(head), std::move(runs), end, merged, iso_bytes, layout);
  return std::nullopt;
}

plan_source file_plan_source(byte_stream& hfs, std::uint64_t hfs_bytes) {
  return {hfs_bytes,
          {},
          [&hfs] { return text::io_failure(failed_operation::read, hfs); },
          text::too_many_entries,
          text::no_hfs_partition};
}

job_stop layout_merged_map(byte_stream& hfs, std::uint64_t iso_bytes, std::uint64_t hfs_bytes,
                           hybrid_layout& layout) {
  std::array<std::uint8_t, block_bytes> block0;
  std::array<std::uint8_t, block_bytes> block1;
  if (!hfs.seek(0)) return job_outcome::refused(text::io_failure(failed_operation::seek, hfs));
  if (!read_exact(hfs, block0.data(), block0.size()) ||
      !read_exact(hfs, block1.data(), block1.size())) {
    return job_outcome::refused(text::io_failure(failed_operation::read, hfs));
  }
  // The stream stands at block 2, right after the head.
  stream_blocks rest(hfs, 2);
  return plan_merged_map(block0.data(), block1.data(), rest, iso_bytes,
                         file_plan_source(hfs, hfs_bytes), layout);
}

job_stop bare_volume_partition(byte_stream& hfs, std::uint64_t hfs_bytes,
                               volume_past_end_text past_end, hfs_partition& volume) {
  // The whole header block must be in the file, as --info reads it: a file
  // that ends inside it ("BD" at byte 1024 and little more) holds no volume,
  // and its one partition would end before the header.
  std::uint8_t header[block_bytes] = {};
  if (hfs_bytes < 2 * block_bytes + sizeof header)
    return job_outcome::refused(text::no_hfs_partition);
  if (!hfs.seek(2 * block_bytes) || !read_exact(hfs, header, sizeof header)) {
    return job_outcome::refused(text::io_failure(failed_operation::read, hfs));
  }
  if (bare_volume_kind(header) == bare_volume::none)
    return job_outcome::refused(text::no_hfs_partition);
  const std::uint64_t volume_bytes = bare_volume_bytes(header);
  if (volume_bytes > hfs_bytes) {
    return job_outcome::refused(past_end(hfs.name(), volume_bytes, hfs_bytes));
  }
  if (hfs_bytes / block_bytes > 0xFFFFFFFFu) return job_outcome::refused(text::no_hfs_partition);
  std::memset(&volume, 0, sizeof volume);
  std::memcpy(volume.name, "MacOS", 5);
  volume.first_block = 0;
  volume.block_count = static_cast<std::uint32_t>(hfs_bytes / block_bytes);
  return std::nullopt;
}

job_stop plan_bare_volume(byte_stream& hfs, std::uint64_t iso_bytes, std::uint64_t hfs_bytes,
                          hybrid_layout& layout) {
  hfs_partition volume;
  if (job_stop stop = bare_volume_partition(hfs, hfs_bytes, text::bare_volume_past_end, volume)) {
    return stop;
  }
  return plan_chosen_partition(volume, iso_bytes, file_plan_source(hfs, hfs_bytes), layout);
}

}  // namespace hybrid
