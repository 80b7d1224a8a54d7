// Compiled, not run, by the 32-bit Windows compiler: the static assertions
// in these headers check the request records at the offsets a 32-bit ASPI
// manager reads them.
#include "scsi/aspi_defs.h"
#include "scsi/scsi_request.h"

static_assert(sizeof(void*) == 4, "this check needs a 32-bit target");
static_assert(sizeof(scsi::SRB_ExecSCSICmd) == 80);
static_assert(sizeof(scsi::scsi_request) == 16);

int main() { return 0; }
