// An ASPI manager for unit tests: devices are byte vectors, requests complete
// before send returns, and every request block is kept as it was sent.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "scsi/aspi.h"
#include "scsi/aspi_defs.h"
#include "scsi/aspi_manager.h"

namespace test {

// A field of a packed record, by value: a reference to it may be misaligned.
template <typename T>
T packed(T value) {
  return value;
}

struct fake_device {
  int type = 0;  // 0 disk, 5 CD-ROM, 7 optical
  std::vector<std::uint8_t> data;
  std::uint32_t block_bytes = 512;
  std::string vendor = "ZELVRANT", product = "FAKE DISK", revision = "1.0";
  // Answers READ(6)/WRITE(6) as an ATAPI drive does: CHECK CONDITION,
  // invalid command operation code (descriptor-format sense).
  bool no_six_byte_transfers = false;
};

// A disk of 512-byte blocks, or a CD-ROM of 2048-byte sectors padded to
// whole sectors, holding `data`.
fake_device device_of(std::vector<std::uint8_t> data, bool cdrom);

using block_copy = std::array<std::uint8_t, scsi::request_block_bytes>;

class fake_bus : public scsi::aspi_manager {
 public:
  int hosts = 1;
  std::string manager_id = "FAKE MANAGER";
  std::map<std::pair<int, int>, fake_device> devices;
  // Every block as it was handed over, before the bus touched it.
  std::vector<block_copy> sent;
  // Decides a transfer's fate: 0 lets it run, another value is its status.
  std::function<std::uint8_t(const scsi::SRB_ExecSCSICmd&)> fault;
  // Transfers held pending for good (from the Nth one on, 1-based; 0 never).
  int hang_from_transfer = 0;
  // Answer of send() for every request when not 0, status left unset (like a
  // manager that refuses a request outright).
  std::uint32_t refuse_with = 0;

  std::uint32_t send(void* block) override;
  std::uint32_t support_info() override;

  int transfers() const { return transfer_count; }
  // The SCSI commands sent, in order: operation code, address, count.
  struct command {
    std::uint8_t op;
    std::uint32_t address;
    std::uint32_t count;
  };
  std::vector<command> commands() const;

 private:
  std::uint8_t execute(scsi::SRB_ExecSCSICmd& exec);
  int transfer_count = 0;
};

// Installs a bus for one test, with a clean device state and short waits.
class bus_scope {
 public:
  explicit bus_scope(fake_bus& bus);
  ~bus_scope();
  bus_scope(const bus_scope&) = delete;
  bus_scope& operator=(const bus_scope&) = delete;

 private:
  scsi::wait_limits saved_;
};

}  // namespace test
