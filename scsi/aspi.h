// The ASPI request layer: each routine fills one request block, hands it to
// the installed ASPI manager and waits for its status. Routines pass the ASPI
// status byte up unchanged (1 = SS_COMP), except where said.
#pragma once

#include <chrono>
#include <cstdint>

#include "scsi/scsi_request.h"

namespace scsi {

// Number of host adapters when the manager reports success, else 0.
int aspi_init();
// HA_Count of host adapter `host`; copies HA_ManagerId and HA_Unique into the
// two 16-byte outputs (text up to the first zero, zero-filled, no terminator
// when all 16 bytes are used).
int aspi_host_inq(std::uint8_t host, char manager_id[16], char unique[16]);
// Peripheral device type, or -1 when the request did not complete with
// SS_COMP. Type 0 is a disk, not a failure.
int aspi_devtype(std::uint8_t host, std::uint8_t target);
// Transfers request.block_count blocks of aspi_unit_size bytes: reads when
// request.command is READ(6), writes otherwise.
int aspi_rw(const scsi_request& request);
int aspi_reset(std::uint8_t host, std::uint8_t target);
// PREVENT ALLOW MEDIUM REMOVAL; prevent 1 locks the medium, 0 releases it.
int aspi_lock(std::uint8_t host, std::uint8_t target, std::uint8_t prevent);
// READ CAPACITY(10) into a 512-byte buffer: last block address, block length.
int aspi_readcap(std::uint8_t host, std::uint8_t target, std::uint8_t* buffer);
// Reads request.block_count 2048-byte sectors; 0 on success, else the status.
int cdrom_rw(const scsi_request& request);
// Standard INQUIRY data, 100 bytes.
int aspi_inquiry(std::uint8_t host, std::uint8_t target, std::uint8_t* buffer);

// A transfer's address and count fit the 6-byte CDB only below these; beyond
// them the 10-byte form is sent.
constexpr std::uint32_t cdb6_max_address = (1u << 21) - 1;
constexpr std::uint32_t cdb6_max_count = 256;

// How long a request may stay pending before it is aborted. A manager that
// never completes (Wine's stub, a hung bus) must not hang the program.
struct wait_limits {
  std::chrono::milliseconds transfer{60000};
  std::chrono::milliseconds query{10000};
};
void set_wait_limits(const wait_limits& limits);
wait_limits current_wait_limits();

// aspi_lock's short waits read the local time of day as seconds * 100 +
// hundredths. Tests substitute a clock; null restores the real one.
using hundredths_clock = std::uint32_t (*)();
void set_hundredths_clock(hundredths_clock clock);

}  // namespace scsi
