// The request routines as the Windows program exports them to other programs:
// plain C functions, C calling convention, under the names and ordinals that
// app/zelvorant.def gives them. Each hands its arguments to the routine in
// scsi/aspi.h unchanged.
#include "scsi/aspi.h"
#include "scsi/aspi_manager.h"
#include "scsi/scsi_request.h"
#include "scsi/transports/wnaspi32_manager.h"

namespace {

// A program that loads zelvorant.exe and calls these never ran its start-up,
// which installs the platform's manager: without this, _aspi_init answered 0
// and _aspi_devtype -1 even with a working WNASPI32.DLL. The first call
// installs it, as start-up does; inside the program it is there already.
void ensure_manager() {
  if (scsi::installed_aspi_manager() == nullptr) scsi::install_platform_aspi_manager();
}

}  // namespace

extern "C" {

int aspi_init(void) {
  ensure_manager();
  return scsi::aspi_init();
}

int aspi_host_inq(unsigned char host, char* manager_id, char* unique) {
  ensure_manager();
  return scsi::aspi_host_inq(host, manager_id, unique);
}

int aspi_devtype(unsigned char host, unsigned char target) {
  ensure_manager();
  return scsi::aspi_devtype(host, target);
}

int aspi_rw(scsi::scsi_request* request) {
  ensure_manager();
  return scsi::aspi_rw(*request);
}

int aspi_reset(unsigned char host, unsigned char target) {
  ensure_manager();
  return scsi::aspi_reset(host, target);
}

int aspi_lock(unsigned char host, unsigned char target, unsigned char prevent) {
  ensure_manager();
  return scsi::aspi_lock(host, target, prevent);
}

int aspi_readcap(unsigned char host, unsigned char target, unsigned char* buffer) {
  ensure_manager();
  return scsi::aspi_readcap(host, target, buffer);
}

int cdrom_rw(scsi::scsi_request* request) {
  ensure_manager();
  return scsi::cdrom_rw(*request);
}

}  // extern "C"
