#include "cli/plan_text.h"

#include "hybrid/apm/map_codec.h"
#include "hybrid/apm/map_walk.h"
#include "hybrid/apm/partition_map.h"
#include "hybrid/messages.h"
#include "hybrid/printable.h"

namespace cli {
namespace {

// A map's name or type field, as the source's map wrote it.
std::string field_text(const hybrid::map_text& field) {
  return hybrid::printable(hybrid::text_of(field));
}

std::string number(std::uint64_t value) { return std::to_string(value); }

}  // namespace

std::string plan_text(const hybrid::hybrid_layout& layout, std::uint64_t iso_length) {
  using namespace hybrid;
  std::string text = "Plan (dry run):\n";
  text += "ISO image: " + number(iso_length) + " bytes\n";
  if (layout.cut_at) {
    text += "Cut at byte " + number(*layout.cut_at) + ", the end of the ISO 9660 volume (" +
            number(iso_length - *layout.cut_at) + " bytes after it removed)\n";
  }
  text += "Map entries (512-byte blocks; numbered as partx does):\n";
  // The entries written: blocks 1 to the count the first entry gives.
  walk_map(map_span::blocks_1_to_n, read_memory_blocks(layout.head.data(), layout.head.size()),
           [&](std::uint32_t n, std::uint8_t* block) {
             const partition_entry entry = decode_partition_entry(block);
             text += "  " + number(n) + "  first " + number(entry.first_block) + "  blocks " +
                     number(entry.block_count) + "  " + field_text(entry.type) + "  \"" +
                     field_text(entry.name) + "\"\n";
             return map_visit::go_on;
           });
  text += "Append at byte " + number(layout.iso_bytes) + ": " + number(layout.pad_bytes) +
          " bytes of zeros, then " + number(layout.append_bytes() - layout.pad_bytes) +
          " bytes of HFS data\n";
  if (layout.shareable_bytes > 0) text += text::plan_may_share(layout.shareable_bytes) + "\n";
  text += "Final size: " + number(layout.iso_bytes + layout.append_bytes()) + " bytes\n";
  return text;
}

std::string plan_text(const hybrid::extract_plan& plan) {
  std::string text = "Plan (dry run):\n";
  if (plan.image_bytes == 0) {
    return text + "Copy the floppy disk in drive " + hybrid::printable(plan.device) +
           " with the floppy imaging tool (its size is known once it has read the disk)\n";
  }
  text += "Copy " + number(plan.block_count) + " blocks of 512 bytes from " +
          (plan.from_file ? "file " : "device ") + hybrid::printable(plan.device) +
          ", from block " + number(plan.first_block) + "\n";
  if (plan.with_map) {
    text += "Write them at block " + number(hybrid::map_area_blocks) +
            " of the HFS image, behind a fresh 64-block partition map\n";
  } else {
    text += "Write them at block 0 of the HFS image, its own map included\n";
  }
  text += "Final size: " + number(plan.image_bytes) + " bytes\n";
  return text;
}

}  // namespace cli
