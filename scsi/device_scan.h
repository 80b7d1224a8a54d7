// What ASPI reports of host adapters and devices, kept in a table that the
// device picker shows one host adapter at a time, and the CD-ROM shortcut.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace scsi {

struct device_row {
  std::uint8_t host;    // 255 in the end marker
  std::uint8_t type;    // peripheral device type (device rows)
  std::uint8_t target;  // 0-7; 255 in a host adapter's header row
  char vendor[9];
  char product[17];  // the manager id in a header row
  char revision[5];
};

constexpr std::uint8_t header_row_target = 255;
constexpr std::uint8_t end_marker_host = 255;
constexpr std::size_t device_table_rows = 25;
using device_table = std::array<device_row, device_table_rows>;

// Type filters besides a plain peripheral type (5 = CD-ROM).
constexpr int filter_removable_cartridge = -3;  // type 0 by one maker's ids
constexpr int filter_disks = -2;                // types 0 and 7
constexpr int filter_any = -1;

bool passes_type_filter(int type_filter, int type, const char* vendor, const char* product);

// Fills the table: per host adapter a header row and its listed devices,
// then the end marker. Returns host adapters scanned * 256 + devices listed.
// A full table keeps its last row for the end marker; devices beyond it are
// not listed.
std::uint16_t scan_devices(device_table& table, int type_filter);

// The process-wide table the device picker fills.
device_table& shared_device_table();

// A device specifier has one digit for the host adapter: it names host
// adapters 0 to 9 only.
constexpr int specifier_hosts = 10;

// The number of CD-ROM drives. When it is 1 and ASPI reports a CD-ROM,
// `specifier` receives "C<host><target>0"; when it is not 1, the empty text.
int find_cdrom(std::string& specifier);

}  // namespace scsi
