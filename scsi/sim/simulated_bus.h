// An ASPI manager whose host adapters and targets are image files. The tests
// run the whole device path on it, and --attach puts it under the device jobs
// of the headless front end. Transfers and resets complete on the bus's own
// thread, as on a real adapter, so the code that waits for a status and
// aborts a late request runs for real.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "scsi/aspi_defs.h"
#include "scsi/aspi_manager.h"
#include "scsi/sim/sim_device.h"

namespace scsi {

constexpr std::uint8_t sim_max_hosts = 10;
constexpr std::uint8_t sim_max_targets = 8;

// One request as the bus saw it and how it ended.
struct sim_event {
  std::uint8_t cmd = 0;
  std::uint8_t host = 0;
  std::uint8_t target = 0;
  std::uint8_t flags = 0;
  std::uint32_t buf_len = 0;
  std::uint8_t cdb[16] = {};
  std::uint8_t cdb_len = 0;
  std::uint8_t status = 0;
};

struct sim_stats {
  std::uint64_t transfers = 0;  // READ and WRITE requests carried out, failed ones too
  std::uint64_t bytes_read = 0;
  std::uint64_t bytes_written = 0;
};

class simulated_bus : public aspi_manager {
 public:
  simulated_bus();
  // Stops the worker. Requests still queued or held are dropped without a
  // status: their blocks may already be gone.
  ~simulated_bus() override;
  simulated_bus(const simulated_bus&) = delete;
  simulated_bus& operator=(const simulated_bus&) = delete;

  // Opens the image (a disk read-write when the file allows it, a CD-ROM
  // read-only) and puts it on the bus. False with a one-line reason when the
  // place is taken, out of range, or the file cannot be used.
  bool attach(const sim_device& device, std::string& error);

  // What SC_HA_INQUIRY reports for a host adapter. Text longer than 16
  // characters is cut; shorter text is padded with zeros.
  void set_manager_id(std::uint8_t host, const std::string& text);
  void set_identifier(std::uint8_t host, const std::string& text);
  void set_unique(std::uint8_t host, const std::array<std::uint8_t, 16>& bytes);

  // How long after it was sent a queued request completes at the earliest.
  void set_delay(std::chrono::microseconds delay);

  std::uint32_t send(void* request_block) override;
  std::uint32_t support_info() override;

  // Faults for tests. `nth` counts READ and WRITE requests (either CDB size)
  // sent from now on, 1 being the next; 0 does nothing. A status of SS_ERR
  // ends in CHECK CONDITION with MEDIUM ERROR sense; any other status is
  // reported as it is. Data is not moved on a failed transfer.
  void fail_transfer(unsigned nth, std::uint8_t status);
  void fail_blocks(std::uint8_t host, std::uint8_t target, std::uint32_t first_block,
                   std::uint32_t count, std::uint8_t status = SS_ERR);
  // The request stays pending until SC_ABORT_SRB names it.
  void never_complete(unsigned nth);
  void clear_faults();

  // The last 4096 requests, oldest first; a request appears once it has
  // ended, before its status is written.
  std::vector<sim_event> events() const;
  void clear_events();
  sim_stats statistics() const;
  // PREVENT ALLOW MEDIUM REMOVAL state of a target; a device reset clears it.
  bool medium_locked(std::uint8_t host, std::uint8_t target) const;
  // Requests accepted but not yet ended: queued, held or being carried out.
  std::size_t outstanding() const;

 private:
  struct state;
  std::unique_ptr<state> state_;
};

}  // namespace scsi
