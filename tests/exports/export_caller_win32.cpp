// Another program's view of zelvorant.exe: it loads the program as a library
// and calls its exports, never its start-up. With the test WNASPI32.DLL
// serving a disk at host adapter 0, target 3, and a CD-ROM at target 5, the
// first call must find them.
//
//   export_caller.exe PATH\zelvorant.exe
//
// Exit code 0 when every check passed; otherwise the number of the first
// check that failed.
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "scsi/aspi_defs.h"
#include "scsi/scsi_request.h"

namespace {

template <typename Entry>
Entry entry_point(HMODULE module, const char* name) {
  const FARPROC found = GetProcAddress(module, name);
  return reinterpret_cast<Entry>(reinterpret_cast<void (*)()>(found));
}

int fail(int check, const char* what) {
  std::fprintf(stderr, "export_caller: check %d failed: %s\n", check, what);
  return check;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return fail(1, "usage: export_caller PATH\\zelvorant.exe");
  const HMODULE program = LoadLibraryA(argv[1]);
  if (program == nullptr) return fail(2, "LoadLibrary");

  using init_fn = int (*)();
  using devtype_fn = int (*)(unsigned char, unsigned char);
  using readcap_fn = int (*)(unsigned char, unsigned char, unsigned char*);
  using rw_fn = int (*)(scsi::scsi_request*);
  const auto init = entry_point<init_fn>(program, "_aspi_init");
  const auto devtype = entry_point<devtype_fn>(program, "_aspi_devtype");
  const auto readcap = entry_point<readcap_fn>(program, "_aspi_readcap");
  const auto cdrom_rw = entry_point<rw_fn>(program, "_cdrom_rw");
  if (!init || !devtype || !readcap || !cdrom_rw) return fail(3, "an export is missing");

  // The very first call, before any other, must already reach the library.
  if (devtype(0, 3) != 0) return fail(4, "_aspi_devtype(0, 3) is not a disk");
  if (init() < 1) return fail(5, "_aspi_init found no host adapter");
  if (devtype(0, 4) != -1) return fail(6, "_aspi_devtype(0, 4) found a device");
  unsigned char capacity[512] = {};
  if (readcap(0, 3, capacity) != scsi::SS_COMP) return fail(7, "_aspi_readcap");
  if (capacity[6] != 0x02 || capacity[7] != 0x00) return fail(8, "block length not 512");
  // The CD-ROM's first sector: its first two bytes are "ER".
  unsigned char sector[2048] = {};
  scsi::scsi_request request{};
  request.command = scsi::op_read6;
  request.target = 5;
  request.block_count = 1;
  request.buffer = sector;
  if (cdrom_rw(&request) != 0) return fail(9, "_cdrom_rw");
  if (std::memcmp(sector, "ER", 2) != 0) return fail(10, "the data read are not the CD-ROM's");
  std::puts("export_caller: the exports reached the test WNASPI32.DLL");
  return 0;
}
