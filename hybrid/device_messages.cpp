#include "hybrid/device_messages.h"

#include <cstdio>

#include "scsi/aspi_defs.h"

namespace hybrid::text {
namespace {

std::string device_name(bool cdrom, unsigned host, unsigned target) {
  return std::string(cdrom ? "the CD-ROM" : "the SCSI disk") + " at host adapter " +
         std::to_string(host) + ", target " + std::to_string(target);
}

}  // namespace

std::string cd_capacity_warning(std::uint64_t sectors) {
  return "The total length of the ISO image,\nafter adding the selected partition,\nwould be of " +
         std::to_string(sectors) + " sectors.\nThis exceeds the maximum capacity of a CD-ROM.";
}

std::string unknown_specifier(const std::string& specifier) {
  return "\"" + specifier +
         "\" names no device.\nName a SCSI disk as A<host adapter><target>0, a CD-ROM as "
         "C<host adapter><target>0, or a floppy drive as A: or B:.";
}

std::string no_floppy_drive(char letter) {
  return std::string("There is no floppy drive ") + letter + ":.\nChoose floppy drive A: or B:.";
}

std::string device_silent(bool cdrom, unsigned host, unsigned target) {
  std::string name = device_name(cdrom, host, target);
  name[0] = 'T';
  return name + " does not answer.\nAborting...";
}

std::string unsupported_block_size(std::uint32_t bytes) {
  return "This disk has blocks of " + std::to_string(bytes) +
         " bytes; only disks with 512-byte blocks can be read.\nAborting...";
}

std::string device_too_many_entries(int entries) {
  return "This disk holds " + std::to_string(entries) +
         " HFS partitions; a hybrid image has room for 62 at most.\nAborting...";
}

std::string map_past_device_end(bool cdrom, std::uint64_t map_end, std::uint64_t capacity) {
  const char* const medium = cdrom ? "CD-ROM" : "disk";
  return std::string("The partition map of this ") + medium + " reaches block " +
         std::to_string(map_end) + ", but the " + medium + " holds only " +
         std::to_string(capacity) + " blocks of 512 bytes: the volume cannot be copied whole.\n" +
         "Nothing was copied. Aborting...";
}

std::string device_read_failed(const device_failure& failure, unsigned host, unsigned target) {
  const bool cdrom = failure.place != device_failure::unit::disk_block;
  const bool sectors = failure.place == device_failure::unit::cd_sector;
  std::string what;
  if (failure.count > 1) {
    what = (sectors ? "Sectors " : "Blocks ") + std::to_string(failure.address) + " to " +
           std::to_string(std::uint64_t{failure.address} + failure.count - 1);
  } else {
    what = (sectors ? "Sector " : "Block ") + std::to_string(failure.address);
  }
  char status[8];
  std::snprintf(status, sizeof status, "%02X", static_cast<unsigned>(failure.status & 0xFF));
  // An aborted request is one the drive did not finish in time: it was
  // given up at once, not tried again.
  const char* const outcome = (failure.status & 0xFF) == scsi::SS_ABORTED
                                  ? " could not be read: the drive did not answer in time"
                                  : " could not be read";
  return what + " of " + device_name(cdrom, host, target) + outcome + " (ASPI status " + status +
         "h).";
}

}  // namespace hybrid::text
