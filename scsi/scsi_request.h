// The record that describes every device read: what the jobs fill in, what
// the block readers and the exported aspi_rw / cdrom_rw take. Packed,
// little-endian fields, no gaps; the buffer pointer is 4 bytes on the 32-bit
// Windows build.
#pragma once

#include <cstddef>
#include <cstdint>

namespace scsi {

// Operation codes and the job-level codes the disk reader maps onto them.
constexpr std::int16_t command_read = 2;
constexpr std::int16_t command_write = 3;
constexpr std::int16_t op_read6 = 0x08;
constexpr std::int16_t op_write6 = 0x0A;
constexpr std::uint8_t op_read10 = 0x28;
constexpr std::uint8_t op_write10 = 0x2A;

// A CD-ROM transfers 2048-byte sectors, four of the 512-byte blocks that a
// partition map counts.
constexpr std::uint32_t cd_sector_bytes = 2048;
constexpr std::uint32_t cd_blocks_per_sector = 4;

#pragma pack(push, 1)
struct scsi_request {
  std::int16_t command;
  std::uint16_t host_adapter;
  std::uint16_t target;
  std::uint32_t block_address;
  std::uint16_t block_count;
  std::uint8_t* buffer;
};
#pragma pack(pop)

static_assert(offsetof(scsi_request, host_adapter) == 2);
static_assert(offsetof(scsi_request, target) == 4);
static_assert(offsetof(scsi_request, block_address) == 6);
static_assert(offsetof(scsi_request, block_count) == 10);
static_assert(offsetof(scsi_request, buffer) == 12);
#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(scsi_request) == 16);
#endif

// A block-read function: reads request.block_count blocks at
// request.block_address into request.buffer; 0 on success, else the last
// ASPI status.
using block_read_fn = int (*)(scsi_request& request);

}  // namespace scsi
