// The request routines as the Windows program exports them to other programs:
// plain C functions, C calling convention, under the names and ordinals that
// scsi/zelvorant.def gives them. Each hands its arguments to the routine in
// scsi/aspi.h unchanged.
#include "scsi/aspi.h"
#include "scsi/scsi_request.h"

extern "C" {

int aspi_init(void) { return scsi::aspi_init(); }

int aspi_host_inq(unsigned char host, char* manager_id, char* unique) {
  return scsi::aspi_host_inq(host, manager_id, unique);
}

int aspi_devtype(unsigned char host, unsigned char target) {
  return scsi::aspi_devtype(host, target);
}

int aspi_rw(scsi::scsi_request* request) { return scsi::aspi_rw(*request); }

int aspi_reset(unsigned char host, unsigned char target) { return scsi::aspi_reset(host, target); }

int aspi_lock(unsigned char host, unsigned char target, unsigned char prevent) {
  return scsi::aspi_lock(host, target, prevent);
}

int aspi_readcap(unsigned char host, unsigned char target, unsigned char* buffer) {
  return scsi::aspi_readcap(host, target, buffer);
}

int cdrom_rw(scsi::scsi_request* request) { return scsi::cdrom_rw(*request); }

}  // extern "C"
