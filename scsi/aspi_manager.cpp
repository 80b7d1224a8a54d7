#include "scsi/aspi_manager.h"

#include "scsi/aspi_defs.h"

namespace scsi {
namespace {
aspi_manager* current_manager = nullptr;
}  // namespace

void install_aspi_manager(aspi_manager* manager) { current_manager = manager; }
aspi_manager* installed_aspi_manager() { return current_manager; }

std::uint32_t SendASPI32Command(void* request_block) {
  if (current_manager == nullptr) {
    static_cast<SRB_Header*>(request_block)->SRB_Status = SS_NO_ASPI;
    return SS_NO_ASPI;
  }
  return current_manager->send(request_block);
}

std::uint32_t GetASPI32SupportInfo() {
  if (current_manager == nullptr) return std::uint32_t{SS_NO_ASPI} << 8;
  return current_manager->support_info();
}

}  // namespace scsi
