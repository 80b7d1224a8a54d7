// The INQUIRY command block, as every part of the program sends it: the
// request routines (aspi_inquiry, for the device scan) and the Windows
// pass-through, which asks each device it finds what kind it is.
#pragma once

#include <cstdint>

#include "scsi/aspi_defs.h"

namespace scsi {

constexpr std::uint8_t op_inquiry = 0x12;

// Fills the command, the buffer and the 6-byte CDB of an INQUIRY of `length`
// bytes; the caller addresses it and sets the flags.
inline void build_inquiry(SRB_ExecSCSICmd& exec, std::uint8_t* buffer, std::uint8_t length) {
  exec.SRB_Cmd = SC_EXEC_SCSI_CMD;
  exec.SRB_BufLen = length;
  exec.SRB_BufPointer = buffer;
  exec.SRB_CDBLen = 6;
  exec.CDBByte[0] = op_inquiry;
  exec.CDBByte[4] = length;
}

}  // namespace scsi
