#include "scsi/transports/library_aspi.h"

#include "scsi/aspi_defs.h"

namespace scsi {

std::uint32_t no_adapters_manager::send(void* request_block) {
  static_cast<SRB_Header*>(request_block)->SRB_Status = SS_INVALID_HA;
  return SS_INVALID_HA;
}

std::uint32_t no_adapters_manager::support_info() { return std::uint32_t{SS_NO_ADAPTERS} << 8; }

bool library_serves_adapters(send_command_entry send, support_info_entry support) {
  if (send == nullptr || support == nullptr) return false;
  const std::uint32_t info = support();
  return (info >> 8 & 0xFF) == SS_COMP && (info & 0xFF) > 0;
}

}  // namespace scsi
