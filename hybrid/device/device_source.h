// What both device jobs do before they copy: read the device specifier,
// set up the request, learn the device's block length and read its first
// two blocks.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "hybrid/apm/partition_map.h"
#include "hybrid/device/device_blocks.h"
#include "hybrid/device/device_read.h"
#include "hybrid/job_outcome.h"
#include "hybrid/questions.h"
#include "hybrid/refusal.h"
#include "scsi/scsi_request.h"

namespace hybrid {

enum class specifier_form { floppy, disk, cdrom, unknown };

// What a device specifier names. "A:" / "B:" (either case) is a floppy
// drive, whose index is the target. "A..." is a SCSI disk and "C..." a CD-ROM
// (upper case): a digit in the second place is the host adapter, one in the
// third the target; a number the specifier does not give stays empty.
struct device_specifier {
  specifier_form form = specifier_form::unknown;
  std::optional<std::uint8_t> host;
  std::optional<std::uint8_t> target;
};

// Reads a specifier; changes nothing.
device_specifier parse_specifier(const std::string& specifier);

// Makes the specified device the source of the device reads that follow
// (src_host and src_target); a number the specifier does not give keeps the
// value it had, as the device dialog left it.
void select_source_device(const device_specifier& device);

// The message for a specifier that names no disk or CD-ROM: a floppy drive
// (which the hybrid job cannot read directly, or which does not exist), or
// nothing this program knows.
std::string refuse_specifier(specifier_form form, const std::string& specifier);

struct device_source {
  bool cdrom = false;
  scsi::scsi_request request{};
  // Every single-block read lands at its start; a CD-ROM listing reads a
  // whole sector into it.
  std::array<std::uint8_t, scsi::cd_sector_bytes> entry{};
  scsi::block_read_fn read = nullptr;
  std::array<std::uint8_t, block_bytes> block0{};
  bool has_driver_descriptor = false;  // "ER" in block 0
  bool has_map_entry = false;          // "PM" in block 1
  // 512-byte blocks the device holds, once READ CAPACITY has told.
  std::optional<std::uint64_t> capacity_blocks;
  device_failure failure;
  // The front end, whose stop aborts a pending read: such a read failed
  // because the user stopped the job, not because the block is unreadable.
  questions* ask = nullptr;
};

// Points the request at the entry buffer, block 0, one block.
void rewind_request(device_source& source);

// Prepares the source named by src_host/src_target and reads blocks 0 and 1
// (block 1 stays in the entry buffer, block_address 1).
refusal open_device_source(device_source& source, bool cdrom);

// Asks the device's capacity (READ CAPACITY, 10 tries) unless a request of
// this job already did.
refusal learn_capacity(device_source& source);

// The message for a failed device read of this source.
std::string read_failure_text(const device_source& source);

// Lists the source's HFS partitions and asks which to take when there are
// several: a disk block by block from block 1 (already in the entry buffer),
// with `cd_walk` a CD-ROM sector by sector from sector 0. Sets `choice` to a
// row or choice_all; or the job ends here (a failed read or no partition is
// refused, a Cancel at the choice).
job_stop choose_source_partition(device_source& source, bool cd_walk, partition_list& list,
                                 questions& ask, int& choice);

// Reads one 512-byte block into the entry buffer; false with source.failure.
bool read_source_block(device_source& source, std::uint32_t block);
// The source's blocks, one request each into the entry buffer, as
// read_source_block reads them.
request_blocks source_blocks(device_source& source);

}  // namespace hybrid
