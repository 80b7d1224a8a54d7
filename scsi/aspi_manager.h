// Where the two ASPI calls go. The program installs one manager when it
// starts: the simulated bus on image files (tests, --attach), and later the
// platform's own way to reach SCSI devices. With none installed, every call
// answers SS_NO_ASPI, as a machine without an ASPI layer would.
#pragma once

#include <cstdint>

namespace scsi {

class aspi_manager {
 public:
  virtual ~aspi_manager() = default;
  // Accepts a request block. Returns SS_PENDING when it will set SRB_Status
  // later, or a final status that it has also written into the block.
  virtual std::uint32_t send(void* request_block) = 0;
  // Status in bits 8-15, number of host adapters in bits 0-7.
  virtual std::uint32_t support_info() = 0;
};

// Not owned; null removes the manager. The manager must outlive its use.
void install_aspi_manager(aspi_manager* manager);
aspi_manager* installed_aspi_manager();

// The two calls of the published interface, under their own names.
std::uint32_t SendASPI32Command(void* request_block);
std::uint32_t GetASPI32SupportInfo();

}  // namespace scsi
