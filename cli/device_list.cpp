#include "cli/device_list.h"

#include <cstdio>

#include "hybrid/messages.h"
#include "hybrid/printable.h"
#include "scsi/device_scan.h"

namespace cli {

namespace {

std::string table_text(int type_filter) {
  scsi::device_table& table = scsi::shared_device_table();
  const std::uint16_t found = scsi::scan_devices(table, type_filter);
  if ((found >> 8) == 0) return std::string(hybrid::text::no_host_adapter_answers) + '\n';

  std::string text;
  char line[96];
  bool host_has_devices = true;
  for (const scsi::device_row& row : table) {
    if (row.host == scsi::end_marker_host) break;
    if (row.target == scsi::header_row_target) {
      if (!host_has_devices) text += "   (no devices of this kind)\n";
      std::snprintf(line, sizeof line,
                    "%sHost adapter %u\nDriver: %s\nId Vendor   Model            Release\n",
                    text.empty() ? "" : "\n", static_cast<unsigned>(row.host),
                    hybrid::printable(row.product).c_str());
      text += line;
      host_has_devices = false;
      continue;
    }
    // The INQUIRY texts are the device's own bytes.
    int length =
        std::snprintf(line, sizeof line, "%2u %-8s %-16s %-4s", static_cast<unsigned>(row.target),
                      hybrid::printable(row.vendor).c_str(), hybrid::printable(row.product).c_str(),
                      hybrid::printable(row.revision).c_str());
    while (length > 0 && line[length - 1] == ' ') --length;  // devices pad their texts
    text.append(line, static_cast<std::size_t>(length));
    text += '\n';
    host_has_devices = true;
  }
  if (!host_has_devices) text += "   (no devices of this kind)\n";
  return text;
}

}  // namespace

std::string device_list_text(int type_filter, const std::vector<std::string>& reasons) {
  std::string text = table_text(type_filter);
  if (!reasons.empty()) text += '\n';
  for (const std::string& reason : reasons)
    text += hybrid::printable(reason, hybrid::line_breaks::keep) + '\n';
  return text;
}

}  // namespace cli
