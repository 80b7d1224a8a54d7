// An ASPI layer that lives in a library loaded at run time (WNASPI32.DLL on
// Windows), and the manager used when there is none. The choice between them
// is made here, away from the loader, so that it can be tested anywhere.
#pragma once

#include <cstdint>

#include "scsi/aspi_manager.h"

namespace scsi {

// The library's two entry points, as it exports them (C calling convention).
using send_command_entry = std::uint32_t (*)(void* request_block);
using support_info_entry = std::uint32_t (*)();

// Forwards both calls to the library.
class library_aspi_manager final : public aspi_manager {
 public:
  library_aspi_manager(send_command_entry send_entry, support_info_entry support_entry)
      : send_(send_entry), support_(support_entry) {}
  std::uint32_t send(void* request_block) override { return send_(request_block); }
  std::uint32_t support_info() override { return support_(); }

 private:
  send_command_entry send_;
  support_info_entry support_;
};

// A machine with an ASPI layer but no host adapters: every request is for a
// host adapter that does not exist.
class no_adapters_manager final : public aspi_manager {
 public:
  std::uint32_t send(void* request_block) override;
  std::uint32_t support_info() override;
};

// True when both entry points are there and the library reports SS_COMP with
// at least one host adapter; only then is it worth using. Asks the library
// once.
bool library_serves_adapters(send_command_entry send, support_info_entry support);

}  // namespace scsi
