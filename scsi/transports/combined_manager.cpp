#include "scsi/transports/combined_manager.h"

#include <algorithm>
#include <atomic>

#include "scsi/aspi_defs.h"

namespace scsi {
namespace {

// Adapters a manager serves; a manager that reports a failure serves none.
unsigned adapters_of(aspi_manager& manager) {
  const std::uint32_t info = manager.support_info();
  return ((info >> 8) & 0xFF) == SS_COMP ? info & 0xFF : 0u;
}

// A request for an adapter neither side has ends here, with that status.
std::uint32_t refuse_adapter(void* request_block, std::uint8_t status) {
  auto& header = *static_cast<SRB_Header*>(request_block);
  std::atomic_ref<std::uint8_t>(header.SRB_Status).store(status, std::memory_order_release);
  return status;
}

}  // namespace

std::uint32_t combined_manager::send(void* request_block) {
  if (request_block == nullptr) return SS_INVALID_SRB;
  auto& header = *static_cast<SRB_Header*>(request_block);
  const std::uint8_t host = header.SRB_HaId;
  const unsigned in_first = adapters_of(first_);
  const unsigned in_second = adapters_of(second_);
  const auto total = static_cast<std::uint8_t>(std::min(in_first + in_second, 255u));

  std::uint32_t status = 0;
  if (host < in_first) {
    status = first_.send(request_block);
  } else if (host - in_first < in_second) {
    header.SRB_HaId = static_cast<std::uint8_t>(host - in_first);
    status = second_.send(request_block);
    // Pending, the block is the second manager's until it ends: hands off.
    if (status != SS_PENDING) header.SRB_HaId = host;
  } else {
    return refuse_adapter(request_block, SS_INVALID_HA);
  }
  // Each side counts only its own adapters; the caller must see them all.
  if (header.SRB_Cmd == SC_HA_INQUIRY && status == SS_COMP) {
    static_cast<SRB_HAInquiry*>(request_block)->HA_Count = total;
  }
  return status;
}

std::uint32_t combined_manager::support_info() {
  const unsigned total = std::min(adapters_of(first_) + adapters_of(second_), 255u);
  if (total == 0) return std::uint32_t{SS_NO_ADAPTERS} << 8;
  return std::uint32_t{SS_COMP} << 8 | total;
}

}  // namespace scsi
