// One target of the simulated bus: an image file that answers commands the
// way a SCSI-2 direct-access device or CD-ROM drive does. The bus owns the
// targets and runs every command on its worker thread.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "scsi/aspi_defs.h"
#include "scsi/sim/sim_file.h"
#include "scsi/sim/simulated_bus.h"

namespace scsi::sim {

constexpr std::uint8_t key_medium_error = 0x03;
constexpr std::uint8_t key_illegal_request = 0x05;
constexpr std::uint8_t key_data_protect = 0x07;
constexpr std::uint8_t asc_write_error = 0x0C;
constexpr std::uint8_t asc_unrecovered_read_error = 0x11;
constexpr std::uint8_t asc_invalid_opcode = 0x20;
constexpr std::uint8_t asc_lba_out_of_range = 0x21;
constexpr std::uint8_t asc_invalid_field_in_cdb = 0x24;
constexpr std::uint8_t asc_lun_not_supported = 0x25;
constexpr std::uint8_t asc_write_protected = 0x27;
// Host adapter status: the data would not fit the buffer, or the flags send
// it the wrong way.
constexpr std::uint8_t hastat_data_overrun = hastat_over_underrun;

constexpr std::size_t sense_data_bytes = 18;

// How a command ended; the bus writes it into the request block.
struct outcome {
  std::uint8_t status = SS_COMP;
  std::uint8_t ha_stat = 0;
  bool check_condition = false;
  std::uint8_t sense_key = 0;
  std::uint8_t asc = 0;
  std::uint8_t ascq = 0;
  std::uint64_t bytes_read = 0;
  std::uint64_t bytes_written = 0;
};

outcome check_condition(std::uint8_t key, std::uint8_t asc, std::uint8_t ascq = 0);
// A failure forced by a test: SS_ERR as a medium error, else the bare status.
outcome injected_failure(std::uint8_t status, bool write);
// Fixed-format sense data for a check condition.
std::array<std::uint8_t, sense_data_bytes> sense_data(const outcome& result);

bool is_transfer(std::uint8_t opcode);

struct block_range {
  bool write = false;
  std::uint32_t first = 0;
  std::uint32_t count = 0;  // the 6-byte forms' 0 already turned into 256
};
// The blocks a READ or WRITE command names; false for other commands or a
// command descriptor block too short to hold them.
bool decode_transfer(const std::uint8_t* cdb, std::uint8_t cdb_len, block_range& range);

class target {
 public:
  static std::unique_ptr<target> open(const sim_device& device, std::string& error);
  ~target();
  target(const target&) = delete;
  target& operator=(const target&) = delete;

  outcome execute(SRB_ExecSCSICmd& srb);
  std::uint8_t peripheral_type() const { return peripheral_type_; }
  void reset() { locked_.store(false); }
  // Reads the blocks after the last read into the target's cache, as a
  // drive's read-ahead does: a bulk copy's next request then costs a copy
  // from memory, and the file read overlaps the caller's write.
  void read_ahead();
  void forget_read_ahead() { ahead_.valid = false, next_.count = 0; }
  bool medium_locked() const { return locked_.load(); }

 private:
  target() = default;
  outcome inquiry(SRB_ExecSCSICmd& srb) const;
  outcome read_capacity(SRB_ExecSCSICmd& srb) const;
  outcome transfer(SRB_ExecSCSICmd& srb);

  sim_file file_;
  bool writable_ = false;
  bool no_six_byte_transfers_ = false;
  std::uint8_t peripheral_type_ = 0;
  std::uint32_t block_bytes_ = 0;
  std::uint64_t blocks_ = 0;
  std::array<std::uint8_t, 36> inquiry_data_{};
  std::atomic<bool> locked_{false};

  struct cached_run {
    bool valid = false;
    std::uint64_t first = 0;
    std::uint32_t count = 0;
    std::vector<std::uint8_t> bytes;
  };
  cached_run ahead_;
  block_range next_;  // what read_ahead fetches; count 0: nothing
};

}  // namespace scsi::sim
