// A small Windows program with the exports of zelvorant.exe and its start-up
// choice of ASPI manager. Run with WNASPI32.DLL absent, it must start, find no
// host adapters and answer every request as a machine without them would.
// Exit code 0 when it does; otherwise the number of the first check that
// failed.
#include <windows.h>

#include <cstring>

#include "scsi/aspi_defs.h"
#include "scsi/scsi_request.h"
#include "scsi/transports/wnaspi32_manager.h"

extern "C" {
int aspi_init(void);
int aspi_host_inq(unsigned char host, char* manager_id, char* unique);
int aspi_devtype(unsigned char host, unsigned char target);
int aspi_rw(scsi::scsi_request* request);
int cdrom_rw(scsi::scsi_request* request);
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  scsi::install_platform_aspi_manager();
  if (aspi_init() != 0) return 1;
  char manager_id[16] = {'x'}, unique[16] = {'x'};
  if (aspi_host_inq(0, manager_id, unique) != 0) return 2;
  if (manager_id[0] != '\0' || unique[0] != '\0') return 3;
  if (aspi_devtype(0, 0) != -1) return 4;
  unsigned char buffer[2048] = {};
  scsi::scsi_request request{};
  request.command = scsi::op_read6;
  request.block_count = 1;
  request.buffer = buffer;
  if (aspi_rw(&request) != scsi::SS_INVALID_HA) return 5;
  if (cdrom_rw(&request) != scsi::SS_INVALID_HA) return 6;
  return 0;
}
