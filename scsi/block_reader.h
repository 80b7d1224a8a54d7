// Reading a source device in 512-byte blocks: read_blocks for a SCSI disk
// (with retries), read_cd_block for one block of a CD-ROM's 2048-byte sector
// (through a one-sector cache). Both take a scsi_request and return 0 on
// success, else the last ASPI status.
#pragma once

#include "scsi/scsi_request.h"

namespace scsi {

constexpr int disk_read_attempts = 20;
constexpr int cd_read_attempts = 6;

// Transfers block_count blocks of aspi_unit_size bytes at block_address on the
// request's host adapter and target. A command of 2 (read) or 3 (write)
// becomes READ(6) / WRITE(6) in the record.
int read_blocks(scsi_request& request);

// Copies the 512-byte block block_address into buffer. The sector holding it
// is read once and kept; the next blocks of the same sector come from the
// cache. A failed read leaves nothing cached and the buffer untouched.
int read_cd_block(scsi_request& request);

// Prepares CD-ROM reading (512-byte transfer unit, the sector cache) and
// returns the number of CD-ROM drives on the machine.
int cd_reader_init();

// Empties the sector cache. Every job starts with it, so a disc changed
// between two jobs is never served from the old disc's sector.
void forget_cached_sector();

// Where cd_reader_init counts drives; tests substitute a count. Null
// restores the platform's.
using drive_counter = int (*)();
void set_cdrom_drive_counter(drive_counter counter);

}  // namespace scsi
