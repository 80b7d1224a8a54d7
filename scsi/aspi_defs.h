// The ASPI for Win32 request blocks, command codes, flags and status codes,
// laid out as the published interface defines them: packed to one byte, with
// 4-byte pointers on the 32-bit Windows build. The same records travel through
// every ASPI manager we carry (the DLL, the simulated bus, a pass-through), so
// the request layer above never knows which one answers.
#pragma once

#include <cstddef>
#include <cstdint>

namespace scsi {

// Commands (SRB_Cmd).
constexpr std::uint8_t SC_HA_INQUIRY = 0x00;
constexpr std::uint8_t SC_GET_DEV_TYPE = 0x01;
constexpr std::uint8_t SC_EXEC_SCSI_CMD = 0x02;
constexpr std::uint8_t SC_ABORT_SRB = 0x03;
constexpr std::uint8_t SC_RESET_DEV = 0x04;

// Status (SRB_Status, and the return value of SendASPI32Command).
constexpr std::uint8_t SS_PENDING = 0x00;
constexpr std::uint8_t SS_COMP = 0x01;
constexpr std::uint8_t SS_ABORTED = 0x02;
constexpr std::uint8_t SS_ABORT_FAIL = 0x03;
constexpr std::uint8_t SS_ERR = 0x04;
constexpr std::uint8_t SS_INVALID_CMD = 0x80;
constexpr std::uint8_t SS_INVALID_HA = 0x81;
constexpr std::uint8_t SS_NO_DEVICE = 0x82;
constexpr std::uint8_t SS_INVALID_SRB = 0xE0;
constexpr std::uint8_t SS_NO_ASPI = 0xE3;
constexpr std::uint8_t SS_NO_ADAPTERS = 0xE8;

// Flags (SRB_Flags).
constexpr std::uint8_t SRB_POSTING = 0x01;
constexpr std::uint8_t SRB_DIR_IN = 0x08;
constexpr std::uint8_t SRB_DIR_OUT = 0x10;
constexpr std::uint8_t SRB_EVENT_NOTIFY = 0x40;

// Host adapter status codes (SRB_HaStat) of the published interface.
constexpr std::uint8_t hastat_timeout = 0x09;  // timed out waiting to be carried out
constexpr std::uint8_t hastat_command_timeout = 0x0B;
constexpr std::uint8_t hastat_bus_reset = 0x0E;
constexpr std::uint8_t hastat_parity_error = 0x0F;
constexpr std::uint8_t hastat_selection_timeout = 0x11;
constexpr std::uint8_t hastat_over_underrun = 0x12;  // data overrun or underrun
constexpr std::uint8_t hastat_phase_error = 0x14;

// Target status of a command that ended in CHECK CONDITION (SRB_TargStat).
constexpr std::uint8_t STATUS_CHKCOND = 0x02;

constexpr std::size_t SENSE_LEN = 14;

#pragma pack(push, 1)

struct SRB_Header {
  std::uint8_t SRB_Cmd;
  std::uint8_t SRB_Status;
  std::uint8_t SRB_HaId;
  std::uint8_t SRB_Flags;
  std::uint32_t SRB_Hdr_Rsvd;
};

struct SRB_HAInquiry {
  std::uint8_t SRB_Cmd;
  std::uint8_t SRB_Status;
  std::uint8_t SRB_HaId;
  std::uint8_t SRB_Flags;
  std::uint32_t SRB_Hdr_Rsvd;
  std::uint8_t HA_Count;
  std::uint8_t HA_SCSI_ID;
  std::uint8_t HA_ManagerId[16];
  std::uint8_t HA_Identifier[16];
  std::uint8_t HA_Unique[16];
  std::uint16_t HA_Rsvd1;
};

struct SRB_GDEVBlock {
  std::uint8_t SRB_Cmd;
  std::uint8_t SRB_Status;
  std::uint8_t SRB_HaId;
  std::uint8_t SRB_Flags;
  std::uint32_t SRB_Hdr_Rsvd;
  std::uint8_t SRB_Target;
  std::uint8_t SRB_Lun;
  std::uint8_t SRB_DeviceType;
  std::uint8_t SRB_Rsvd1;
};

struct SRB_ExecSCSICmd {
  std::uint8_t SRB_Cmd;
  std::uint8_t SRB_Status;
  std::uint8_t SRB_HaId;
  std::uint8_t SRB_Flags;
  std::uint32_t SRB_Hdr_Rsvd;
  std::uint8_t SRB_Target;
  std::uint8_t SRB_Lun;
  std::uint16_t SRB_Rsvd1;
  std::uint32_t SRB_BufLen;
  std::uint8_t* SRB_BufPointer;
  std::uint8_t SRB_SenseLen;
  std::uint8_t SRB_CDBLen;
  std::uint8_t SRB_HaStat;
  std::uint8_t SRB_TargStat;
  void* SRB_PostProc;
  std::uint8_t SRB_Rsvd2[20];
  std::uint8_t CDBByte[16];
  std::uint8_t SenseArea[SENSE_LEN + 2];
};

struct SRB_BusDeviceReset {
  std::uint8_t SRB_Cmd;
  std::uint8_t SRB_Status;
  std::uint8_t SRB_HaId;
  std::uint8_t SRB_Flags;
  std::uint32_t SRB_Hdr_Rsvd;
  std::uint8_t SRB_Target;
  std::uint8_t SRB_Lun;
  std::uint8_t SRB_Rsvd1[12];
  std::uint8_t SRB_HaStat;
  std::uint8_t SRB_TargStat;
  void* SRB_PostProc;
  std::uint8_t SRB_Rsvd2[36];
};

struct SRB_Abort {
  std::uint8_t SRB_Cmd;
  std::uint8_t SRB_Status;
  std::uint8_t SRB_HaId;
  std::uint8_t SRB_Flags;
  std::uint32_t SRB_Hdr_Rsvd;
  void* SRB_ToAbort;
};

#pragma pack(pop)

// Every request is built in a block of this size: it holds the largest
// record, and on a transfer the 20 sense bytes asked for behind the 16-byte
// command descriptor block.
constexpr std::size_t request_block_bytes = 100;

union request_block {
  std::uint8_t bytes[request_block_bytes];
  SRB_Header header;
  SRB_HAInquiry inquiry;
  SRB_GDEVBlock device;
  SRB_ExecSCSICmd exec;
  SRB_BusDeviceReset reset;
  SRB_Abort abort;
};

// Bytes of sense data a transfer asks for; they end inside the block.
constexpr std::uint8_t sense_bytes_asked = 20;
static_assert(offsetof(SRB_ExecSCSICmd, SenseArea) + sense_bytes_asked <= request_block_bytes);
static_assert(sizeof(request_block) == request_block_bytes);

// Fields the pointer width does not move.
static_assert(sizeof(SRB_HAInquiry) == 60);
static_assert(offsetof(SRB_HAInquiry, HA_Count) == 8);
static_assert(offsetof(SRB_HAInquiry, HA_ManagerId) == 10);
static_assert(offsetof(SRB_HAInquiry, HA_Identifier) == 26);
static_assert(offsetof(SRB_HAInquiry, HA_Unique) == 42);
static_assert(offsetof(SRB_GDEVBlock, SRB_DeviceType) == 10);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_Target) == 8);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_BufLen) == 12);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_BufPointer) == 16);

// The published layout, which a DLL of the 32-bit Windows build reads.
#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(offsetof(SRB_ExecSCSICmd, SRB_SenseLen) == 20);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_CDBLen) == 21);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_HaStat) == 22);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_TargStat) == 23);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_PostProc) == 24);
static_assert(offsetof(SRB_ExecSCSICmd, CDBByte) == 48);
static_assert(offsetof(SRB_ExecSCSICmd, SenseArea) == 64);
static_assert(sizeof(SRB_ExecSCSICmd) == 80);
static_assert(offsetof(SRB_BusDeviceReset, SRB_HaStat) == 22);
static_assert(offsetof(SRB_BusDeviceReset, SRB_PostProc) == 24);
static_assert(sizeof(SRB_BusDeviceReset) == 64);
static_assert(offsetof(SRB_Abort, SRB_ToAbort) == 8);
static_assert(sizeof(SRB_Abort) == 12);
#endif

}  // namespace scsi
