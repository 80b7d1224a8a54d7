#include "cli/plan_text.h"

#include <algorithm>

#include "hybrid/apm/big_endian.h"
#include "hybrid/apm/partition_map.h"
#include "hybrid/printable.h"

namespace cli {
namespace {

// A map's name or type field, as the source's map wrote it.
std::string field_text(const std::uint8_t* at) {
  const std::uint8_t* end = std::find(at, at + hybrid::pm::text_bytes, 0);
  return hybrid::printable(std::string(at, end));
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
  const std::uint8_t* head = layout.head.data();
  const std::size_t blocks = layout.head.size() / block_bytes;
  // The entries written: blocks 1 to the count the first entry gives.
  const std::uint32_t entries = blocks > 1 ? get_be32(head + block_bytes + pm::map_blocks) : 0;
  for (std::uint32_t n = 1; n <= entries && n < blocks; ++n) {
    const std::uint8_t* entry = head + std::size_t{n} * block_bytes;
    text += "  " + number(n) + "  first " + number(get_be32(entry + pm::first_block)) +
            "  blocks " + number(get_be32(entry + pm::block_count)) + "  " +
            field_text(entry + pm::type) + "  \"" + field_text(entry + pm::name) + "\"\n";
  }
  text += "Append at byte " + number(layout.iso_bytes) + ": " + number(layout.pad_bytes) +
          " bytes of zeros, then " + number(layout.append_bytes() - layout.pad_bytes) +
          " bytes of HFS data\n";
  text += "Final size: " + number(layout.iso_bytes + layout.append_bytes()) + " bytes\n";
  return text;
}

std::string plan_text(const hybrid::extract_plan& plan) {
  std::string text = "Plan (dry run):\n";
  if (plan.image_bytes == 0) {
    return text + "Copy the floppy disk in drive " + hybrid::printable(plan.device) +
           " with the floppy imaging tool (its size is known once it has read the disk)\n";
  }
  text += "Copy " + number(plan.block_count) + " blocks of 512 bytes from device " +
          hybrid::printable(plan.device) + ", from block " + number(plan.first_block) + "\n";
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
