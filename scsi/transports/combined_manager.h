// Two ASPI managers seen as one: the host adapters of the first, then those
// of the second numbered after them. The native front end puts the real
// SCSI hosts first and the simulated bus of --attach behind them.
#pragma once

#include <cstdint>

#include "scsi/aspi_manager.h"

namespace scsi {

class combined_manager final : public aspi_manager {
 public:
  // Neither manager is owned; both must outlive this one.
  combined_manager(aspi_manager& first, aspi_manager& second) : first_(first), second_(second) {}

  // A request for one of the second manager's adapters reaches it with
  // SRB_HaId in its own numbering. The caller's number is put back when the
  // request ends within send(); while a request stays pending the block
  // keeps the second manager's number, so whoever aborts it must address the
  // abort by the number it used to send it.
  std::uint32_t send(void* request_block) override;
  std::uint32_t support_info() override;

 private:
  aspi_manager& first_;
  aspi_manager& second_;
};

}  // namespace scsi
