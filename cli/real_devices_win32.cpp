#include "cli/real_devices.h"
#include "scsi/transports/spti_manager_win32.h"
#include "scsi/transports/wnaspi32_manager.h"

namespace cli {
namespace {

// The ASPI library's manager lives as long as the program; this hands it on
// without owning it.
class borrowed_manager final : public scsi::aspi_manager {
 public:
  explicit borrowed_manager(scsi::aspi_manager& manager) : manager_(manager) {}
  std::uint32_t send(void* request_block) override { return manager_.send(request_block); }
  std::uint32_t support_info() override { return manager_.support_info(); }

 private:
  scsi::aspi_manager& manager_;
};

}  // namespace

// WNASPI32.DLL when it serves a host adapter, else the system's SCSI
// pass-through; the refusal for lack of rights is printed by --list-devices
// rather than shown as a host adapter, which would move --attach's.
real_devices open_real_devices() {
  real_devices found;
  if (scsi::aspi_manager* library = scsi::wnaspi32_library()) {
    found.manager = std::make_unique<borrowed_manager>(*library);
    return found;
  }
  auto pass_through = std::make_unique<scsi::spti_manager>(scsi::real_spti_system(), false);
  if (!pass_through->access_problem().empty()) {
    found.reasons.push_back(pass_through->access_problem());
  }
  found.manager = std::move(pass_through);
  return found;
}

}  // namespace cli
