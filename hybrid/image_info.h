// What an image holds, described without changing it: the ISO 9660 volume,
// the system area, every entry of an Apple partition map and the volume at
// the start of each HFS partition, the bytes after them, and what is wrong.
// The bytes are untrusted: every walk is bounded, nothing is read past the
// end the caller gives, and block fields are added in 64 bits.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "hybrid/io/block_source.h"
#include "hybrid/questions.h"

namespace hybrid {

// Reads `count` bytes at `offset` into `into`; the describer never asks for
// bytes past the length it was given. False when the read failed.
using image_reader =
    std::function<bool(std::uint64_t offset, std::uint8_t* into, std::size_t count)>;

struct hfs_volume_info {
  enum class kind { none, hfs, hfs_plus, hfsx } found = kind::none;
  std::string name;                // HFS only: the Master Directory Block's name
  std::uint64_t bytes = 0;         // what the header says the volume spans
  bool embedded_hfs_plus = false;  // an HFS wrapper around an HFS+ volume
};

struct iso_volume_info {
  bool present = false;  // a primary volume descriptor whose size can be believed
  std::string name;      // trailing spaces removed
  std::uint32_t blocks = 0;
  std::uint16_t block_size = 0;
  std::uint64_t bytes = 0;
  bool joliet = false;      // a supplementary descriptor with %/@, %/C or %/E
  bool rock_ridge = false;  // SUSP "SP" and a Rock Ridge entry in the root's "." record
  bool el_torito = false;   // a boot record whose system identifier marks a bootable CD
};

// What the first 32,768 bytes hold; several may be true at once.
struct system_area_info {
  bool empty = false;      // all zero (or the file ends first)
  bool apple_map = false;  // "ER" at 0 or "PM" at 512
  // 0x55AA at 510 with a partition table entry in use or boot code; the
  // signature alone, over an empty table, is pc_boot_signature.
  bool pc_boot_record = false;
  bool pc_boot_signature = false;
  bool gpt = false;         // "EFI PART" at 512
  bool hfs_header = false;  // "BD", "H+" or "HX" at 1024
  bool other = false;       // none of those, and not all zero
};

// Every block number and count below is in 512-byte blocks, whatever the
// map's own block size: a map of 2048-byte blocks has its numbers scaled.
struct map_entry_info {
  std::uint32_t block = 0;    // where the entry lies
  int row = -1;               // the partition choice's row, from 0; -1 when not offered
  int hfsutils_number = 0;    // Apple_HFS partitions counted from 1; 0 for other entries
                              // and in maps of 2048-byte blocks, which hfsutils refuses
  int partx_number = 0;       // map entries counted from 1, the map's own entry included
  bool signature = false;     // "PM"
  bool beyond_count = false;  // the block after the last entry the count allows
  std::string name, type;
  std::uint64_t first_block = 0, block_count = 0;
  std::uint32_t status = 0;
  bool hfs = false;  // a type the jobs take for HFS ("Apple_HFS..."); `volume` then tells
  hfs_volume_info volume;
};

struct image_problem {
  std::string code;  // for scripts: past_end, overlaps_iso, map_count, ...
  std::string text;  // for people
};

struct image_info {
  std::uint64_t length = 0;
  system_area_info system_area;
  iso_volume_info iso;
  bool driver_descriptor = false;  // "ER" at 0
  // A block size the map could use and a count that ends where something in
  // the image does; "ER" over other numbers (a few tools put code there) is
  // shown as no valid Driver Descriptor.
  bool descriptor_valid = false;
  std::uint16_t descriptor_block_size = 0;
  std::uint32_t descriptor_block_count = 0;
  bool map = false;            // "PM" at block 1
  std::int32_t map_count = 0;  // block 1's map block count
  // 512, the only size the jobs read, or 2048: a Driver Descriptor that
  // counts 2048-byte blocks, and entries at 2048-byte strides, as Mac
  // CD-ROMs and DVDs have them.
  std::uint32_t map_block_size = 512;
  std::vector<map_entry_info> entries;
  std::uint32_t entries_not_listed = 0;  // past the listing's bound
  hfs_volume_info bare_volume;           // the header at byte 1024, without a map
  // Where the ISO volume, the entries and a bare volume end, within the file.
  std::uint64_t data_end = 0;
  std::uint64_t bytes_after_iso = 0;   // 0 without an ISO volume
  std::uint64_t bytes_after_data = 0;  // after data_end
  std::vector<image_problem> problems;
  bool sound() const { return problems.empty(); }
};

// At most this many entries are listed; a map that claims more is still
// walked to the walk's bound, and the rest counted.
constexpr std::size_t max_listed_entries = 256;

// Whose image is judged. Any image is judged by what its readers need, so a
// Driver Descriptor that counts fewer blocks than the file (other tools pad
// the image after the volume) or a map of 2048-byte blocks is no problem. A
// job's own planned hybrid is held to what the job writes as well: a Driver
// Descriptor of 512-byte blocks counting exactly the file.
enum class judged_as { any_image, own_hybrid };

// Describes the `length` bytes that `read` serves. False when a read failed
// (`info` then holds what was read before it).
bool describe_image(const image_reader& read, std::uint64_t length, image_info& info,
                    judged_as rules = judged_as::any_image);

// The name an HFS volume gives itself in its Master Directory Block, the
// block 2 of its partition, read through --info's own rules; "" when the
// block is no HFS header.
std::string hfs_volume_name(const std::uint8_t* block2);

// The partition choice, with each listed row's volume name for a front end
// that shows them (read from `blocks` at the row's first block + 2; a block
// that cannot be read leaves its name empty).
int choose_partition_of(questions& ask, const partition_list& list, block_source& blocks);

}  // namespace hybrid
