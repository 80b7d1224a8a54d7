#include "scsi/device_scan.h"

#include <cctype>
#include <cstring>

#include "scsi/aspi.h"
#include "scsi/aspi_defs.h"
#include "scsi/block_reader.h"
#include "scsi/device_state.h"

namespace scsi {
namespace {

constexpr int inquiry_attempts = 5;
constexpr int targets_per_host = 8;
constexpr int type_disk = 0;
constexpr int type_cdrom = 5;
constexpr int type_optical = 7;

// Copies at most `limit` characters; a zero byte ends the text earlier.
template <std::size_t N>
void copy_text(char (&out)[N], const std::uint8_t* data, std::size_t limit) {
  std::size_t length = 0;
  while (length < limit && length < N - 1 && data[length] != 0) ++length;
  std::memcpy(out, data, length);
  out[length] = '\0';
}

bool starts_with_nocase(const char* text, const char* prefix) {
  for (; *prefix != '\0'; ++text, ++prefix) {
    if (std::toupper(static_cast<unsigned char>(*text)) !=
        std::toupper(static_cast<unsigned char>(*prefix))) {
      return false;
    }
  }
  return true;
}

}  // namespace

bool passes_type_filter(int type_filter, int type, const char* vendor, const char* product) {
  switch (type_filter) {
    case filter_removable_cartridge:
      return type == type_disk &&
             (starts_with_nocase(product, "SQ") || starts_with_nocase(vendor, "SYQ"));
    case filter_disks:
      return type == type_disk || type == type_optical;
    case filter_any:
      return true;
    default:
      return type == type_filter;
  }
}

std::uint16_t scan_devices(device_table& table, int type_filter) {
  // A rescan may find other devices at the places we learnt about.
  forget_ten_byte_transfers();
  std::memset(table.data(), 0, sizeof(device_row) * table.size());
  // The last row is kept for the end marker, whatever the scan finds.
  const std::size_t last_free = table.size() - 1;
  std::size_t next = 0;
  int listed = 0;
  int hosts = 0;
  for (int host = 0; host < end_marker_host; ++host) {
    char manager_id[16], unique[16];
    const auto h = static_cast<std::uint8_t>(host);
    if (aspi_host_inq(h, manager_id, unique) == 0) break;
    ++hosts;
    if (next < last_free) {
      device_row& header = table[next++];
      header.host = h;
      header.target = header_row_target;
      copy_text(header.product, reinterpret_cast<const std::uint8_t*>(manager_id), 16);
    }
    for (int target = 0; target < targets_per_host; ++target) {
      const auto t = static_cast<std::uint8_t>(target);
      const int type = aspi_devtype(h, t);
      if (type == -1) continue;
      std::uint8_t inquiry[100] = {};
      for (int attempt = 0; attempt < inquiry_attempts; ++attempt) {
        if (aspi_inquiry(h, t, inquiry) == SS_COMP) break;
      }
      device_row row{};
      row.host = h;
      row.type = static_cast<std::uint8_t>(type);
      row.target = t;
      copy_text(row.vendor, inquiry + 8, 8);
      copy_text(row.product, inquiry + 16, 16);
      copy_text(row.revision, inquiry + 32, 4);
      if (!passes_type_filter(type_filter, type, row.vendor, row.product)) continue;
      if (next >= last_free) continue;  // no room: shown nowhere, so not counted
      table[next++] = row;
      ++listed;
    }
  }
  table[next].host = end_marker_host;
  return static_cast<std::uint16_t>(((hosts & 0xFF) << 8) | (listed & 0xFF));
}

device_table& shared_device_table() {
  static device_table table{};
  return table;
}

int find_cdrom(std::string& specifier) {
  const int drives = cd_reader_init();
  if (drives != 1) {
    specifier.clear();
    return drives;
  }
  char manager_id[16], unique[16];
  const int hosts = aspi_host_inq(0, manager_id, unique);
  for (int host = 0; host < hosts && host < specifier_hosts; ++host) {
    for (int target = 0; target < targets_per_host; ++target) {
      if (aspi_devtype(static_cast<std::uint8_t>(host), static_cast<std::uint8_t>(target)) ==
          type_cdrom) {
        specifier = {'C', static_cast<char>('0' + host), static_cast<char>('0' + target), '0'};
        return drives;
      }
    }
  }
  return drives;
}

}  // namespace scsi
