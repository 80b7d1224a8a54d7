// The device scan against a manager whose every answer comes from the fuzz
// input: host adapter counts, manager ids without terminators, device types,
// INQUIRY data of any length and status. The table must keep its shape.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "cli/device_list.h"
#include "fuzz_support.h"
#include "scsi/aspi.h"
#include "scsi/aspi_defs.h"
#include "scsi/aspi_manager.h"
#include "scsi/device_scan.h"
#include "scsi/device_state.h"

namespace {

class fuzzed_manager : public scsi::aspi_manager {
 public:
  fuzzed_manager(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  std::uint32_t support_info() override { return (std::uint32_t{scsi::SS_COMP} << 8) | next(); }

  std::uint32_t send(void* raw) override {
    auto& block = *static_cast<scsi::request_block*>(raw);
    std::uint8_t status = next() % 4 == 0 ? scsi::SS_ERR : scsi::SS_COMP;
    switch (block.header.SRB_Cmd) {
      case scsi::SC_HA_INQUIRY:
        block.inquiry.HA_Count = next();
        for (auto& byte : block.inquiry.HA_ManagerId) byte = next();
        for (auto& byte : block.inquiry.HA_Unique) byte = next();
        break;
      case scsi::SC_GET_DEV_TYPE:
        block.device.SRB_DeviceType = next();
        if (next() % 3 == 0) status = scsi::SS_NO_DEVICE;
        break;
      case scsi::SC_EXEC_SCSI_CMD: {
        // Any number of bytes, but never more than the buffer holds.
        const std::size_t length = std::min<std::size_t>(next(), block.exec.SRB_BufLen);
        for (std::size_t i = 0; i < length; ++i) block.exec.SRB_BufPointer[i] = next();
        break;
      }
      default:
        break;
    }
    block.header.SRB_Status = status;
    return status;
  }

 private:
  std::uint8_t next() { return size_ == 0 ? 0 : data_[position_++ % size_]; }
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t position_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  scsi::reset_device_state();
  fuzzed_manager manager(data + 1, size - 1);
  scsi::install_aspi_manager(&manager);
  const int filters[] = {-3, -2, -1, 5};
  const int filter = filters[data[0] % 4];
  scsi::device_table table;
  const std::uint16_t found = scsi::scan_devices(table, filter);
  int rows = 0, listed = 0;
  bool ended = false;
  for (const scsi::device_row& row : table) {
    ++rows;
    fuzz::check(std::memchr(row.vendor, 0, sizeof row.vendor) != nullptr, "vendor not terminated");
    fuzz::check(std::memchr(row.product, 0, sizeof row.product) != nullptr,
                "product not terminated");
    fuzz::check(std::memchr(row.revision, 0, sizeof row.revision) != nullptr,
                "revision not terminated");
    if (row.host == scsi::end_marker_host) {
      ended = true;
      break;
    }
    if (row.target != scsi::header_row_target) {
      ++listed;
      fuzz::check(row.target < 8, "a device row outside targets 0-7");
    }
  }
  fuzz::check(ended && rows <= static_cast<int>(scsi::device_table_rows),
              "no end marker in the table");
  fuzz::check((found & 0xFF) == listed, "the listed count disagrees with the table");
  (void)cli::device_list_text(filter);
  std::string specifier;
  scsi::find_cdrom(specifier);
  fuzz::check(specifier.empty() || (specifier.size() == 4 && specifier[0] == 'C'),
              "a bad CD-ROM specifier");
  scsi::install_aspi_manager(nullptr);
  return 0;
}
