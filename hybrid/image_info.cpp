#include "hybrid/image_info.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>

#include "hybrid/apm/mac_roman_table.h"
#include "hybrid/apm/map_codec.h"
#include "hybrid/apm/map_walk.h"
#include "hybrid/apm/partition_map.h"
#include "hybrid/iso_volume.h"

namespace hybrid {
namespace {

void append_utf8(std::string& out, std::uint32_t code) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

// Text from an on-disk field, up to its first NUL, in UTF-8 whatever the
// bytes: Mac names go through the Mac's character set; ISO 9660 names are
// ASCII, and anything else there is shown as '?'. Control characters stay
// as they were read: the text output shows them through printable(), the
// JSON escapes them.
std::string field_text(const std::uint8_t* bytes, std::size_t count, bool mac_roman) {
  std::string out;
  for (std::size_t i = 0; i < count && bytes[i] != 0; ++i) {
    const std::uint8_t byte = bytes[i];
    if (byte < 0x80) {
      out += static_cast<char>(byte);
    } else if (mac_roman) {
      append_utf8(out, mac_roman_high[byte - 0x80u]);
    } else {
      out += '?';
    }
  }
  return out;
}

class bounded_reader {
 public:
  bounded_reader(const image_reader& read, std::uint64_t length) : read_(read), length_(length) {}
  enum class got { ok, past_end, failed };
  // Only bytes inside the file are asked of the reader.
  got fetch(std::uint64_t offset, std::uint8_t* into, std::size_t count) const {
    if (offset > length_ || count > length_ - offset) return got::past_end;
    if (count == 0) return got::ok;
    return read_(offset, into, count) ? got::ok : got::failed;
  }
  std::uint64_t length() const { return length_; }

 private:
  const image_reader& read_;
  std::uint64_t length_;
};

using got = bounded_reader::got;

// The volume header 1,024 bytes into a partition (or the file).
got read_volume_header(const bounded_reader& in, std::uint64_t start, hfs_volume_info& volume) {
  std::array<std::uint8_t, block_bytes> header{};
  const got read = in.fetch(start + 2 * block_bytes, header.data(), header.size());
  if (read != got::ok) return read == got::past_end ? got::ok : read;
  switch (bare_volume_kind(header.data())) {
    case bare_volume::none:
      return got::ok;
    case bare_volume::hfs: {
      volume.found = hfs_volume_info::kind::hfs;
      constexpr std::size_t name_at = 36, longest_name = 27;  // drVN, a Pascal string
      volume.name = field_text(header.data() + name_at + 1,
                               std::min<std::size_t>(header[name_at], longest_name), true);
      constexpr std::size_t embedded_signature = 0x7C;  // drEmbedSigWord
      volume.embedded_hfs_plus =
          header[embedded_signature] == 'H' && header[embedded_signature + 1] == '+';
      break;
    }
    case bare_volume::hfs_plus:
      volume.found =
          header[1] == 'X' ? hfs_volume_info::kind::hfsx : hfs_volume_info::kind::hfs_plus;
      break;
  }
  volume.bytes = bare_volume_bytes(header.data());
  return got::ok;
}

// Rock Ridge announces itself in the system use area of the root
// directory's "." record: SUSP's "SP" first, then its own entries.
got find_rock_ridge(const bounded_reader& in, const std::uint8_t* primary, std::uint16_t block_size,
                    bool& rock_ridge) {
  const std::optional<std::uint32_t> extent = both_endian32(primary + iso9660::root_record + 2);
  if (!extent) return got::ok;
  std::array<std::uint8_t, iso9660::sector_bytes> dir{};
  const got read = in.fetch(std::uint64_t{*extent} * block_size, dir.data(), block_size);
  if (read != got::ok) return read == got::past_end ? got::ok : read;
  const std::size_t record = dir[0];
  constexpr std::size_t fixed_part = 33;  // the record before its name
  if (record < fixed_part + 1 || record > block_size) return got::ok;
  const std::size_t name_bytes = dir[32];
  std::size_t at = fixed_part + name_bytes + (name_bytes % 2 == 0 ? 1 : 0);
  bool susp = false, rrip = false;
  while (at + 4 <= record) {
    const std::size_t entry = dir[at + 2];
    if (entry < 4 || at + entry > record) break;
    const char a = static_cast<char>(dir[at]), b = static_cast<char>(dir[at + 1]);
    if (a == 'S' && b == 'P') susp = true;
    if ((a == 'R' && b == 'R') || (a == 'P' && b == 'X') || (a == 'E' && b == 'R') ||
        (a == 'N' && b == 'M')) {
      rrip = true;
    }
    if (a == 'S' && b == 'T') break;
    at += entry;
  }
  rock_ridge = susp && rrip;
  return got::ok;
}

got read_descriptors(const bounded_reader& in, iso_volume_info& iso) {
  std::array<std::uint8_t, iso9660::sector_bytes> sector{};
  bool primary_seen = false;
  for (std::size_t n = 0; n < iso9660::max_descriptors; ++n) {
    const got read = in.fetch(map_area_bytes + n * sector.size(), sector.data(), sector.size());
    if (read != got::ok) return read == got::past_end ? got::ok : read;
    if (!is_volume_descriptor(sector.data()) || sector[0] == iso9660::set_terminator) break;
    if (sector[0] == iso9660::boot_record) {
      // The boot system identifier at byte 7 that every bootable CD's boot
      // record carries, padded with zeros; these 23 letters are the
      // identifier itself, as PC firmware compares it.
      constexpr char el_torito[] = "EL TORITO SPECIFICATION";
      iso.el_torito =
          iso.el_torito || std::memcmp(sector.data() + 7, el_torito, sizeof el_torito - 1) == 0;
    } else if (sector[0] == iso9660::supplementary_descriptor) {
      const std::uint8_t* escape = sector.data() + iso9660::escape_sequences;
      iso.joliet = iso.joliet || (escape[0] == '%' && escape[1] == '/' &&
                                  (escape[2] == '@' || escape[2] == 'C' || escape[2] == 'E'));
    } else if (sector[0] == iso9660::primary_descriptor && !primary_seen) {
      primary_seen = true;
      const std::optional<iso_volume_size> size = primary_volume_size(sector.data());
      if (!size) continue;
      iso.present = true;
      iso.blocks = size->blocks;
      iso.block_size = size->block_size;
      iso.bytes = size->bytes();
      iso.name = field_text(sector.data() + iso9660::volume_id, 32, false);
      iso.name.erase(iso.name.find_last_not_of(' ') + 1);
      if (const got rr = find_rock_ridge(in, sector.data(), size->block_size, iso.rock_ridge);
          rr != got::ok) {
        return rr;
      }
    }
  }
  return got::ok;
}

// 0x55AA at byte 510 ends every PC boot sector, and some ISO 9660 tools
// write it over an empty partition table (every entry of type 0) and no
// code. Only a table with an entry in use (a type and a length), or code
// before the table, makes the sector a boot record. Block 0 of an Apple
// map keeps its own fields where the code would be: there the table alone
// counts.
bool holds_pc_boot_record(const std::uint8_t* block0, bool apple_descriptor) {
  if (!has_pc_boot_record(block0)) return false;
  constexpr std::size_t code_bytes = 440, table = 446, entry_bytes = 16, entries = 4;
  constexpr std::size_t type_at = 4, length_at = 12;
  for (std::size_t n = 0; n < entries; ++n) {
    const std::uint8_t* entry = block0 + table + n * entry_bytes;
    const bool has_length =
        std::any_of(entry + length_at, entry + entry_bytes, [](std::uint8_t b) { return b != 0; });
    if (entry[type_at] != 0 && has_length) return true;
  }
  return !apple_descriptor &&
         std::any_of(block0, block0 + code_bytes, [](std::uint8_t b) { return b != 0; });
}

void classify_system_area(const std::vector<std::uint8_t>& head, image_info& info) {
  system_area_info& area = info.system_area;
  area.empty = std::all_of(head.begin(), head.end(), [](std::uint8_t b) { return b == 0; });
  if (head.size() < 3 * block_bytes) {
    area.other = !area.empty;
    return;
  }
  info.driver_descriptor = is_driver_descriptor(head.data());
  if (info.driver_descriptor) {
    const driver_descriptor descriptor = decode_driver_descriptor(head.data());
    info.descriptor_block_size = descriptor.block_size;
    info.descriptor_block_count = descriptor.block_count;
  }
  if (const std::size_t map_block = find_map_block_size(head.data(), head.size())) {
    info.map = true;
    info.map_block_size = static_cast<std::uint32_t>(map_block);
  }
  area.apple_map = info.driver_descriptor || info.map;
  area.pc_boot_record = holds_pc_boot_record(head.data(), info.driver_descriptor);
  area.pc_boot_signature = has_pc_boot_record(head.data()) && !area.pc_boot_record;
  area.gpt = has_gpt_header(head.data());
  area.hfs_header = bare_volume_kind(head.data() + 2 * block_bytes) != bare_volume::none;
  area.other = !area.empty && !area.apple_map && !area.pc_boot_record && !area.pc_boot_signature &&
               !area.gpt && !area.hfs_header;
}

std::string entry_label(const map_entry_info& entry) {
  return "entry " + std::to_string(entry.partx_number) + " (\"" + entry.name + "\", " + entry.type +
         ")";
}

void add(image_info& info, const char* code, std::string text) {
  info.problems.push_back({code, std::move(text)});
}

// The furthest byte the map's entries reach; 0 without them.
std::uint64_t entries_end(const image_info& info) {
  std::uint64_t end = 0;
  for (const map_entry_info& entry : info.entries) {
    end = std::max(end, (entry.first_block + entry.block_count) * block_bytes);
  }
  return end;
}

// A Driver Descriptor is believed when its blocks are a size a map can use
// and its count ends no further than the file, the ISO volume or the map's
// entries do: a count past all of them describes nothing in the image.
bool descriptor_believed(const image_info& info) {
  const std::uint32_t size = info.descriptor_block_size;
  const bool size_known = size >= block_bytes && size <= 32768 && (size & (size - 1)) == 0;
  const std::uint64_t counted = std::uint64_t{info.descriptor_block_count} * size;
  const std::uint64_t image_end = std::max({info.length, info.iso.bytes, entries_end(info)});
  return size_known && info.descriptor_block_count > 0 && counted <= image_end;
}

// The rules of any image: a count short of the file is padding after the
// data; one short of the entries, or past the file's end, is a fault. Its
// block size must be the map's.
void judge_descriptor(image_info& info) {
  if (!info.driver_descriptor || !info.descriptor_valid) return;
  const std::uint32_t size = info.descriptor_block_size;
  const std::uint64_t counted = std::uint64_t{info.descriptor_block_count} * size;
  const std::string counts = "the Driver Descriptor counts " +
                             std::to_string(info.descriptor_block_count) + " blocks of " +
                             std::to_string(size) + " bytes";
  if (info.map && size != info.map_block_size) {
    add(info, "block_size",
        "the Driver Descriptor counts " + std::to_string(size) + "-byte blocks, the map " +
            std::to_string(info.map_block_size) + "-byte blocks");
  } else if (counted < entries_end(info)) {
    add(info, "block_count",
        counts + ", fewer than the map's entries reach (" + std::to_string(entries_end(info)) +
            " bytes)");
  } else if (counted > info.length) {
    add(info, "block_count", counts + ", the file holds " + std::to_string(info.length) + " bytes");
  }
}

// The rules of the job's own hybrid, which counts the file exactly in
// 512-byte blocks.
void judge_own_descriptor(image_info& info) {
  if (info.driver_descriptor && info.descriptor_block_size != block_bytes) {
    add(info, "block_size",
        "the Driver Descriptor counts " + std::to_string(info.descriptor_block_size) +
            "-byte blocks; its map is not one of 512-byte blocks, which is all the jobs read");
  } else if (info.driver_descriptor &&
             std::uint64_t{info.descriptor_block_count} * block_bytes != info.length) {
    add(info, "block_count",
        "the Driver Descriptor counts " + std::to_string(info.descriptor_block_count) +
            " blocks, the file holds " + std::to_string(info.length / block_bytes) +
            (info.length % block_bytes
                 ? " and " + std::to_string(info.length % block_bytes) + " bytes"
                 : std::string()));
  }
}

void judge(image_info& info, std::uint32_t entries_with_signature, bool counts_differ,
           judged_as rules) {
  const std::uint64_t file_blocks = info.length / block_bytes;
  if (info.iso.present && info.iso.bytes > info.length) {
    add(info, "iso_truncated",
        "the ISO 9660 volume is " + std::to_string(info.iso.bytes) + " bytes, the file only " +
            std::to_string(info.length));
  }
  if (rules == judged_as::own_hybrid) {
    judge_own_descriptor(info);
  } else {
    judge_descriptor(info);
  }
  if (info.map && info.map_count > 0 &&
      static_cast<std::uint32_t>(info.map_count) != entries_with_signature) {
    add(info, "map_count",
        "the map counts " + std::to_string(info.map_count) + " entries, " +
            std::to_string(entries_with_signature) + " were found");
  }
  if (info.map && info.map_count <= 0) {
    add(info, "map_count", "the map counts " + std::to_string(info.map_count) + " entries");
  }
  if (counts_differ)
    add(info, "entry_counts", "the entries disagree on how many entries there are");
  const std::uint64_t iso_end_block = (info.iso.bytes + block_bytes - 1) / block_bytes;
  for (map_entry_info& entry : info.entries) {
    const std::uint64_t end = std::uint64_t{entry.first_block} + entry.block_count;
    if (entry.beyond_count) {
      add(info, "beyond_count",
          entry_label(entry) + " lies after the map's last entry, yet the jobs list it");
    }
    if (end > file_blocks) {
      add(info, "past_end",
          entry_label(entry) + " ends at block " + std::to_string(end) +
              ", past the end of the file (" + std::to_string(file_blocks) + " blocks)");
    }
    const bool overlaps = info.iso.present && entry.block_count > 0 &&
                          entry.first_block < iso_end_block && end > map_area_blocks;
    // A partition whose volume is inside the ISO data shares its files with
    // the ISO 9660 side on purpose: that is how some tools make hybrids.
    // Others map the ISO data themselves, with entries of a type that says
    // so; the jobs never write one.
    const bool shares_files = entry.hfs && entry.volume.found != hfs_volume_info::kind::none;
    const bool maps_iso_data = rules == judged_as::any_image && entry.type == "ISO9660_data";
    if (overlaps && !shares_files && !maps_iso_data) {
      add(info, "overlaps_iso", entry_label(entry) + " overlaps the ISO 9660 data");
    }
    if (entry.hfs && entry.volume.found == hfs_volume_info::kind::none) {
      add(info, "no_volume", entry_label(entry) + " holds no HFS or HFS+ volume header");
    }
  }
}

}  // namespace

bool describe_image(const image_reader& read, std::uint64_t length, image_info& info,
                    judged_as rules) {
  info = image_info{};
  info.length = length;
  const bounded_reader in(read, length);

  std::vector<std::uint8_t> head(
      static_cast<std::size_t>(std::min<std::uint64_t>(length, map_area_bytes)));
  if (in.fetch(0, head.data(), head.size()) != got::ok) return false;
  classify_system_area(head, info);
  if (read_descriptors(in, info.iso) == got::failed) return false;

  // A map of 512-byte blocks as the jobs walk it: blocks 1 to the count and
  // the block after, at most to the walk's bound and never past the file.
  // One of larger blocks, which no job takes, as partx reads it: blocks 1 to
  // the count, every number scaled to 512-byte blocks.
  const std::size_t map_block = info.map_block_size;
  const auto scale = static_cast<std::uint32_t>(map_block / block_bytes);
  const bool jobs_read = map_block == block_bytes;
  std::uint32_t with_signature = 0;
  bool counts_differ = false;
  int offered = 0, hfsutils = 0;
  partition_list rows;
  clear_partition_list(rows);
  bool failed = false;
  if (info.map) {
    info.map_count = map_block_count(head.data() + map_block);
    const map_walk_end walked = walk_map(
        jobs_read ? map_span::blocks_1_to_n_plus_1 : map_span::blocks_1_to_n,
        [&](std::uint32_t block, std::uint8_t* into) {
          switch (in.fetch(std::uint64_t{block} * map_block, into, map_block)) {
            case got::ok:
              return block_read::ok;
            case got::past_end:
              return block_read::end;
            default:
              return block_read::failed;
          }
        },
        [&](std::uint32_t block, std::uint8_t* bytes) {
          const partition_entry fields = decode_partition_entry(bytes);
          const bool beyond = static_cast<std::int64_t>(block) > info.map_count;
          map_entry_info entry;
          entry.block = block * scale;
          entry.signature = is_partition_entry(fields);
          // The jobs offer rows from maps of 512-byte blocks only.
          const int before = offered;
          entry.hfs = jobs_read ? examine_block(bytes, rows, offered) : is_hfs_entry(fields);
          if (entry.hfs && jobs_read && before < max_partitions) entry.row = before;
          // Only entries inside the count are partitions to the other readers.
          if (entry.signature && !beyond) {
            ++with_signature;
            counts_differ =
                counts_differ || static_cast<std::int32_t>(fields.map_blocks) != info.map_count;
            entry.partx_number = static_cast<int>(block);
          }
          if (jobs_read && !beyond && is_plain_hfs_entry(fields)) {
            entry.hfsutils_number = ++hfsutils;
          }
          if (!(entry.signature && !beyond) && !entry.hfs) return map_visit::go_on;
          entry.beyond_count = beyond;
          if (info.entries.size() >= max_listed_entries) {
            ++info.entries_not_listed;
            return map_visit::go_on;
          }
          entry.name = field_text(fields.name.data(), fields.name.size(), true);
          entry.type = field_text(fields.type.data(), fields.type.size(), true);
          entry.first_block = std::uint64_t{fields.first_block} * scale;
          entry.block_count = std::uint64_t{fields.block_count} * scale;
          entry.status = fields.status;
          info.entries.push_back(std::move(entry));
          return map_visit::go_on;
        },
        map_block);
    failed = walked == map_walk_end::read_failed;
  }
  for (map_entry_info& entry : info.entries) {
    if (failed) break;
    if (entry.hfs) {
      failed = read_volume_header(in, std::uint64_t{entry.first_block} * block_bytes,
                                  entry.volume) == got::failed;
    }
  }
  if (!info.map && !failed) failed = read_volume_header(in, 0, info.bare_volume) == got::failed;
  if (failed) return false;

  std::uint64_t end = info.iso.present ? info.iso.bytes : 0;
  if (info.map) end = std::max<std::uint64_t>(end, (std::uint64_t{with_signature} + 1) * map_block);
  for (const map_entry_info& entry : info.entries) {
    end = std::max(end, (std::uint64_t{entry.first_block} + entry.block_count) * block_bytes);
  }
  end = std::max(end, info.bare_volume.bytes);
  info.data_end = std::min(end, length);
  info.bytes_after_data = length - info.data_end;
  if (info.iso.present && info.iso.bytes < length) info.bytes_after_iso = length - info.iso.bytes;
  if (!info.map && info.bare_volume.found != hfs_volume_info::kind::none &&
      info.bare_volume.bytes > length) {
    add(info, "volume_truncated",
        "the volume at byte 1024 spans " + std::to_string(info.bare_volume.bytes) +
            " bytes, the file only " + std::to_string(length));
  }
  if (!info.iso.present && !info.map && !info.driver_descriptor &&
      info.bare_volume.found == hfs_volume_info::kind::none) {
    add(info, "unknown",
        "neither an ISO 9660 volume, nor an Apple partition map, nor an HFS volume was found");
  }
  info.descriptor_valid = info.driver_descriptor && descriptor_believed(info);
  judge(info, with_signature, counts_differ, rules);
  return true;
}

std::string hfs_volume_name(const std::uint8_t* block2) {
  // The block as the third of a partition's, so that the header is read
  // where --info reads it.
  std::array<std::uint8_t, 3 * block_bytes> start{};
  std::memcpy(start.data() + 2 * block_bytes, block2, block_bytes);
  const image_reader read = [&start](std::uint64_t offset, std::uint8_t* into, std::size_t count) {
    std::memcpy(into, start.data() + offset, count);
    return true;
  };
  hfs_volume_info volume;
  if (read_volume_header(bounded_reader(read, start.size()), 0, volume) != got::ok) return {};
  return volume.name;
}

int choose_partition_of(questions& ask, const partition_list& list, block_source& blocks) {
  if (!ask.wants_volume_names()) return ask.choose_partition(list);
  volume_names names;
  std::array<std::uint8_t, block_bytes> block{};
  for (int row = 0; row < listed_rows(list); ++row) {
    const hfs_partition& slot = list[static_cast<std::size_t>(row)];
    if (slot.block_count > 2 && slot.first_block <= UINT32_MAX - 2 &&
        blocks.read(slot.first_block + 2, 1, block.data()) == block_read::ok)
      names[static_cast<std::size_t>(row)] = hfs_volume_name(block.data());
  }
  return ask.choose_partition_named(list, names);
}

}  // namespace hybrid
