// A device of the simulated bus: which image file it serves, as what, and
// where on the bus. --attach names one on the command line.
#pragma once

#include <cstdint>
#include <string>

namespace scsi {

struct sim_device {
  enum class kind { disk, cdrom } kind = kind::disk;
  std::uint8_t host = 0;
  std::uint8_t target = 0;
  std::string path;
  // 0 takes the usual size of the kind: 512 for a disk, 2048 for a CD-ROM.
  std::uint32_t block_bytes = 0;
  std::string vendor = "ZELVRANT";  // up to 8 characters
  std::string product;              // up to 16; empty: "SIM DISK" or "SIM CD-ROM"
  std::string revision = "0.9";     // up to 4
  // Refuses READ(6) and WRITE(6) as unknown commands and takes only the
  // 10-byte forms, as ATAPI and USB optical drives do.
  bool no_six_byte_transfers = false;
};
// The member `kind` hides its own type's name; this names the type.
using sim_kind = decltype(sim_device::kind);

// Reads the --attach form KIND[,no-read6]:HOST:TARGET=FILE, KIND being disk
// or cdrom, HOST 0 to 9 and TARGET 0 to 7; no-read6 makes a device that
// takes only the 10-byte transfers. On failure `error` is one line.
bool parse_attach(const std::string& text, sim_device& device, std::string& error);

}  // namespace scsi
