// A WNASPI32.DLL for the tests under Wine: the program loads it as it would
// the ASPI layer of a Windows machine, and every request goes to a simulated
// bus whose devices are image files. The devices come from the environment:
//
//   ZELVORANT_TEST_DEVICES=disk:0:3=Z:\tmp\a.img;cdrom:1:5=Z:\tmp\b.iso
//
// one KIND:HOST:TARGET=FILE item per device, separated by ';'.
// ZELVORANT_TEST_DELAY_MS=300 makes every request take at least that long, a
// slow drive whose job a test can watch. ZELVORANT_TEST_SYNC_MS=70000 makes
// the library synchronous, as some are: every request ends inside
// SendASPI32Command, and the first transfer of more than one block (a job's
// first copy chunk) is held there that long, a drive that hangs. Each host
// adapter reports the manager id "TEST ASPI HOST n", so a test can tell which
// adapter a dialog shows. An item that cannot be used leaves the bus without
// any host adapter, which a test notices at once.
#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "scsi/aspi_defs.h"
#include "scsi/sim/simulated_bus.h"

namespace {

std::string environment_text(const char* name) {
  char small[1];
  const DWORD needed = GetEnvironmentVariableA(name, small, 0);
  if (needed == 0) return {};
  std::string value(needed, '\0');
  const DWORD length = GetEnvironmentVariableA(name, value.data(), needed);
  value.resize(length);
  return value;
}

void report(const std::string& line) {
  const std::string text = "test wnaspi32: " + line + "\n";
  OutputDebugStringA(text.c_str());
  std::fputs(text.c_str(), stderr);
}

// A bus with the devices of the environment, or an empty one when an item is
// wrong.
scsi::simulated_bus* make_bus() {
  auto* bus = new scsi::simulated_bus;
  const std::string list = environment_text("ZELVORANT_TEST_DEVICES");
  std::size_t start = 0;
  while (start < list.size()) {
    std::size_t end = list.find(';', start);
    if (end == std::string::npos) end = list.size();
    const std::string item = list.substr(start, end - start);
    start = end + 1;
    if (item.empty()) continue;
    scsi::sim_device device;
    std::string error;
    if (!scsi::parse_attach(item, device, error) || !bus->attach(device, error)) {
      report(error);
      delete bus;
      return new scsi::simulated_bus;
    }
  }
  if (const std::string delay = environment_text("ZELVORANT_TEST_DELAY_MS"); !delay.empty()) {
    bus->set_delay(std::chrono::milliseconds(std::strtoul(delay.c_str(), nullptr, 10)));
  }
  for (std::uint8_t host = 0; host < scsi::sim_max_hosts; ++host) {
    bus->set_manager_id(host, "TEST ASPI HOST " + std::to_string(host));
  }
  return bus;
}

// Made at the first call and never destroyed: its worker thread must not be
// joined while the loader tears the process down.
scsi::simulated_bus& bus() {
  static scsi::simulated_bus* const instance = make_bus();
  return *instance;
}

// How long the synchronous library holds its one hung transfer; 0 when it
// is not synchronous.
DWORD sync_hold_ms() {
  static const DWORD hold = [] {
    const std::string text = environment_text("ZELVORANT_TEST_SYNC_MS");
    return text.empty() ? DWORD{0} : static_cast<DWORD>(std::strtoul(text.c_str(), nullptr, 10));
  }();
  return hold;
}

bool multi_block_read(const void* request_block) {
  const auto& exec = *static_cast<const scsi::SRB_ExecSCSICmd*>(request_block);
  if (exec.SRB_Cmd != scsi::SC_EXEC_SCSI_CMD) return false;
  if (exec.CDBByte[0] == 0x08) return exec.CDBByte[4] != 1;
  if (exec.CDBByte[0] == 0x28) return exec.CDBByte[7] != 0 || exec.CDBByte[8] > 1;
  return false;
}

DWORD send_synchronously(void* request_block) {
  const DWORD sent = bus().send(request_block);
  if (sent != scsi::SS_PENDING) return sent;
  std::atomic_ref<std::uint8_t> status(static_cast<scsi::SRB_Header*>(request_block)->SRB_Status);
  while (status.load(std::memory_order_acquire) == scsi::SS_PENDING) Sleep(1);
  static std::atomic<bool> held{false};
  if (multi_block_read(request_block) && !held.exchange(true)) {
    report("holding a transfer for " + std::to_string(sync_hold_ms()) + " ms");
    Sleep(sync_hold_ms());
  }
  return status.load(std::memory_order_acquire);
}

}  // namespace

extern "C" {

DWORD __cdecl SendASPI32Command(void* request_block) {
  if (request_block == nullptr) return scsi::SS_INVALID_SRB;
  if (sync_hold_ms() != 0) return send_synchronously(request_block);
  return bus().send(request_block);
}

DWORD __cdecl GetASPI32SupportInfo() { return bus().support_info(); }

}  // extern "C"
