#include "cli/image_report.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "cli/json_writer.h"
#include "hybrid/apm/partition_map.h"
#include "hybrid/printable.h"

namespace cli {
namespace {

using hybrid::hfs_volume_info;
using hybrid::image_info;

const char* volume_kind(hfs_volume_info::kind kind) {
  switch (kind) {
    case hfs_volume_info::kind::hfs:
      return "HFS";
    case hfs_volume_info::kind::hfs_plus:
      return "HFS+";
    case hfs_volume_info::kind::hfsx:
      return "HFSX";
    default:
      return "none";
  }
}

std::vector<std::string> system_area_kinds(const hybrid::system_area_info& area) {
  std::vector<std::string> kinds;
  if (area.empty) kinds.emplace_back("empty");
  if (area.apple_map) kinds.emplace_back("apple_map");
  if (area.pc_boot_record) kinds.emplace_back("pc_boot_record");
  if (area.pc_boot_signature) kinds.emplace_back("pc_boot_signature");
  if (area.gpt) kinds.emplace_back("gpt");
  if (area.hfs_header) kinds.emplace_back("hfs_header");
  if (area.other) kinds.emplace_back("other");
  return kinds;
}

std::string system_area_words(const hybrid::system_area_info& area) {
  if (area.empty) return "empty (zeros)";
  std::vector<std::string> words;
  if (area.apple_map) words.emplace_back("an Apple partition map");
  if (area.pc_boot_record) words.emplace_back("a PC boot record");
  if (area.pc_boot_signature) words.emplace_back("a PC boot signature (0x55AA) alone");
  if (area.gpt) words.emplace_back("a GPT");
  if (area.hfs_header) words.emplace_back("an HFS volume header");
  if (area.other) words.emplace_back("other data");
  std::string text;
  for (std::size_t i = 0; i < words.size(); ++i) {
    text += (i == 0 ? "" : i + 1 == words.size() ? " and " : ", ") + words[i];
  }
  return text;
}

std::string volume_words(const hfs_volume_info& volume) {
  if (volume.found == hfs_volume_info::kind::none) return "no volume header";
  std::string text = volume_kind(volume.found);
  if (volume.found == hfs_volume_info::kind::hfs) text += " \"" + volume.name + "\"";
  if (volume.embedded_hfs_plus) text += " (wrapping an HFS+ volume)";
  return text + ", " + std::to_string(volume.bytes) + " bytes";
}

const char* yes_no(bool truth) { return truth ? "yes" : "no"; }

struct region {
  std::uint64_t start, end;
  std::string label;
};

std::string volume_label(const hfs_volume_info& volume) {
  if (volume.found == hfs_volume_info::kind::none) return "HFS?";
  return std::string(volume_kind(volume.found)) + (volume.name.empty() ? "" : " " + volume.name);
}

// The regions in file order: the system area and the ISO volume first, then
// the partitions and a bare volume past them. A volume that lies inside the
// ISO data shares its files with it (some tools make hybrids so): it is
// named in the ISO region. Gaps between regions are "free", the bytes after
// the last "tail".
std::vector<region> layout_regions(const image_info& info) {
  const std::uint64_t length = info.length;
  std::vector<region> placed;
  std::uint64_t fixed_end = 0;
  if (info.iso.present) {
    const auto& area = info.system_area;
    const char* label = area.apple_map        ? "map"
                        : area.hfs_header     ? "HFS"
                        : area.gpt            ? "GPT"
                        : area.pc_boot_record ? "MBR"
                        : area.empty          ? "zeros"
                                              : "data";
    const auto system_area_end = std::min<std::uint64_t>(length, hybrid::map_area_bytes);
    placed.push_back({0, system_area_end, label});
    fixed_end = std::max(system_area_end, std::min(length, info.iso.bytes));
    placed.push_back({system_area_end, fixed_end, "ISO 9660"});
  } else if (info.map) {
    const std::uint64_t map_end = (info.entries.size() + 1) * std::uint64_t{info.map_block_size};
    fixed_end = std::min(length, map_end);
    placed.push_back({0, fixed_end, "map"});
  }
  std::vector<region> others;
  if (!info.map && info.bare_volume.found != hfs_volume_info::kind::none) {
    others.push_back({0, std::min(length, info.bare_volume.bytes), volume_label(info.bare_volume)});
  }
  for (const auto& entry : info.entries) {
    if (entry.block_count == 0 || entry.type == "Apple_partition_map") continue;
    const std::uint64_t start = entry.first_block * hybrid::block_bytes;
    const std::uint64_t end = start + entry.block_count * hybrid::block_bytes;
    others.push_back({std::min(start, length), std::min(end, length),
                      entry.hfs ? volume_label(entry.volume) : entry.type});
  }
  std::stable_sort(others.begin(), others.end(),
                   [](const region& a, const region& b) { return a.start < b.start; });
  std::vector<region> regions = placed;
  std::uint64_t at = fixed_end;
  for (region r : others) {
    if (info.iso.present && r.start < fixed_end && r.end <= fixed_end) {
      if (r.label.rfind("HFS", 0) == 0) regions[1].label += " + " + r.label;
      continue;
    }
    r.start = std::max(r.start, at);
    if (r.end <= r.start) continue;
    if (r.start > at) regions.push_back({at, r.start, "free"});
    regions.push_back(r);
    at = r.end;
  }
  if (at < length) regions.push_back({at, length, "tail"});
  return regions;
}

}  // namespace

std::string layout_picture(const image_info& info, std::size_t width) {
  const std::vector<region> regions = layout_regions(info);
  if (regions.empty()) return "[]";
  // Each region's share of the width, at least one character; the widest
  // give back what the narrow ones took beyond their share.
  const std::size_t cells = width > regions.size() ? width - (regions.size() - 1) : regions.size();
  std::vector<std::size_t> widths;
  std::size_t used = 0;
  for (const region& r : regions) {
    const long double share =
        static_cast<long double>(r.end - r.start) / static_cast<long double>(info.length);
    widths.push_back(std::max<std::size_t>(1, static_cast<std::size_t>(share * cells + 0.5L)));
    used += widths.back();
  }
  while (used > cells) {
    auto widest = std::max_element(widths.begin(), widths.end());
    if (*widest <= 1) break;
    --*widest;
    --used;
  }
  if (used < cells) *std::max_element(widths.begin(), widths.end()) += cells - used;
  std::string picture = "[";
  for (std::size_t i = 0; i < regions.size(); ++i) {
    if (i > 0) picture += '|';
    std::string cell = regions[i].label.substr(0, widths[i]);
    if (cell.size() < widths[i]) cell += ' ';
    cell.resize(std::max(cell.size(), widths[i]), '.');
    picture += cell.substr(0, widths[i]);
  }
  return picture + "]";
}

std::string info_text(const image_info& info, const std::string& name) {
  std::string out = hybrid::printable(name) + ": " + std::to_string(info.length) + " bytes\n";
  if (info.iso.present) {
    out += "ISO 9660: \"" + info.iso.name + "\", " + std::to_string(info.iso.blocks) +
           " blocks of " + std::to_string(info.iso.block_size) + " bytes (" +
           std::to_string(info.iso.bytes) + " bytes); Joliet " + yes_no(info.iso.joliet) +
           ", Rock Ridge " + yes_no(info.iso.rock_ridge) + ", El Torito " +
           yes_no(info.iso.el_torito) + "\n";
  } else {
    out += "ISO 9660: none\n";
  }
  out += "System area: " + system_area_words(info.system_area) + "\n";
  if (info.driver_descriptor && info.descriptor_valid) {
    out += "Driver Descriptor: " + std::to_string(info.descriptor_block_count) + " blocks of " +
           std::to_string(info.descriptor_block_size) + " bytes\n";
  } else if (info.driver_descriptor) {
    // "ER" over numbers that describe nothing here: told as read, not believed.
    out += "Driver Descriptor: no valid Driver Descriptor (\"ER\" with " +
           std::to_string(info.descriptor_block_count) + " blocks of " +
           std::to_string(info.descriptor_block_size) + " bytes)\n";
  }
  if (info.map) {
    out += "Partition map: " + std::to_string(info.map_count) + " entries";
    if (info.map_block_size != hybrid::block_bytes) {
      out += ", " + std::to_string(info.map_block_size) +
             "-byte blocks (shown below as 512-byte blocks)";
    }
    out += "\n";
    out += "  row  hfsutils  partx  first      blocks     status      type / name\n";
    char line[160];
    for (const auto& entry : info.entries) {
      const std::string row = entry.row >= 0 ? std::to_string(entry.row) : "-";
      const std::string hfsutils =
          entry.hfsutils_number > 0 ? std::to_string(entry.hfsutils_number) : "-";
      const std::string partx = entry.partx_number > 0 ? std::to_string(entry.partx_number) : "-";
      std::snprintf(line, sizeof line, "  %-4s %-9s %-6s %-10s %-10s 0x%08x  ", row.c_str(),
                    hfsutils.c_str(), partx.c_str(), std::to_string(entry.first_block).c_str(),
                    std::to_string(entry.block_count).c_str(), static_cast<unsigned>(entry.status));
      out += line + entry.type + " \"" + entry.name + "\"\n";
      if (entry.hfs) out += "       volume: " + volume_words(entry.volume) + "\n";
    }
    if (info.entries_not_listed > 0) {
      out += "  ... and " + std::to_string(info.entries_not_listed) + " entries more\n";
    }
  } else if (info.bare_volume.found != hfs_volume_info::kind::none) {
    out += "Volume at byte 1024: " + volume_words(info.bare_volume) + "\n";
  }
  if (info.iso.present) {
    out += "Bytes after the ISO volume: " + std::to_string(info.bytes_after_iso) + "\n";
  }
  out += "Bytes after the data: " + std::to_string(info.bytes_after_data) + "\n";
  out += "Layout: " + layout_picture(info) + "\n";
  if (info.sound()) {
    out += "Verdict: sound\n";
  } else {
    out += "Verdict: " + std::to_string(info.problems.size()) +
           (info.problems.size() == 1 ? " problem\n" : " problems\n");
    for (const auto& problem : info.problems) out += "  - " + problem.text + "\n";
  }
  // Whatever the facts quote from the image reaches the terminal through the
  // one filter; the JSON escapes it instead.
  return hybrid::printable(out, hybrid::line_breaks::keep);
}

namespace {

void write_volume(json_writer& json, const hfs_volume_info& volume) {
  json.begin_object();
  json.key("kind").value(volume_kind(volume.found));
  json.key("name").value(volume.name);
  json.key("bytes").value(volume.bytes);
  json.key("embedded_hfs_plus").value(volume.embedded_hfs_plus);
  json.end_object();
}

}  // namespace

std::string info_json(const image_info& info, const std::string& name) {
  json_writer json;
  json.begin_object();
  json.key("file").value(name);
  json.key("bytes").value(info.length);
  json.key("iso9660");
  if (info.iso.present) {
    json.begin_object();
    json.key("volume_name").value(info.iso.name);
    json.key("blocks").value(info.iso.blocks);
    json.key("block_size").value(static_cast<std::uint32_t>(info.iso.block_size));
    json.key("bytes").value(info.iso.bytes);
    json.key("joliet").value(info.iso.joliet);
    json.key("rock_ridge").value(info.iso.rock_ridge);
    json.key("el_torito").value(info.iso.el_torito);
    json.end_object();
  } else {
    json.null();
  }
  json.key("system_area").begin_array();
  for (const std::string& kind : system_area_kinds(info.system_area)) json.value(kind);
  json.end_array();
  json.key("driver_descriptor");
  if (info.driver_descriptor) {
    json.begin_object();
    json.key("block_size").value(static_cast<std::uint32_t>(info.descriptor_block_size));
    json.key("block_count").value(info.descriptor_block_count);
    // Only for one not believed: the JSON of the others stays as it was.
    if (!info.descriptor_valid) json.key("valid").value(false);
    json.end_object();
  } else {
    json.null();
  }
  json.key("map_count");
  if (info.map) {
    json.value(static_cast<std::int64_t>(info.map_count));
  } else {
    json.null();
  }
  // Only for a map of larger blocks: the JSON of the others stays as it was.
  if (info.map_block_size != hybrid::block_bytes) {
    json.key("map_block_size").value(info.map_block_size);
  }
  json.key("entries").begin_array();
  for (const auto& entry : info.entries) {
    json.begin_object();
    json.key("block").value(entry.block);
    json.key("row");
    entry.row >= 0 ? json.value(entry.row) : json.null();
    json.key("hfsutils");
    entry.hfsutils_number > 0 ? json.value(entry.hfsutils_number) : json.null();
    json.key("partx");
    entry.partx_number > 0 ? json.value(entry.partx_number) : json.null();
    json.key("name").value(entry.name);
    json.key("type").value(entry.type);
    json.key("first_block").value(entry.first_block);
    json.key("blocks").value(entry.block_count);
    json.key("status").value(entry.status);
    json.key("signature").value(entry.signature);
    json.key("volume");
    entry.hfs ? write_volume(json, entry.volume) : void(json.null());
    json.end_object();
  }
  json.end_array();
  json.key("entries_not_listed").value(info.entries_not_listed);
  json.key("bare_volume");
  info.bare_volume.found != hfs_volume_info::kind::none ? write_volume(json, info.bare_volume)
                                                        : void(json.null());
  json.key("bytes_after_iso").value(info.bytes_after_iso);
  json.key("data_end").value(info.data_end);
  json.key("bytes_after_data").value(info.bytes_after_data);
  json.key("layout").value(layout_picture(info));
  json.key("sound").value(info.sound());
  json.key("problems").begin_array();
  for (const auto& problem : info.problems) {
    json.begin_object();
    json.key("code").value(problem.code);
    json.key("text").value(problem.text);
    json.end_object();
  }
  json.end_array();
  json.end_object();
  return json.text() + "\n";
}

}  // namespace cli
