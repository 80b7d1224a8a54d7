// What a Mac folder tree becomes on an HFS volume, decided before the volume
// is made: every name in Mac Roman and checked, every file sorted into the
// way hcopy copies it, and the lists zelvorant-folders hands to hfsutils.
//
// In STAGING it leaves:
//   folders   the HFS paths of the folders to make, parents first
//   raw       pairs: a folder of links named in Mac Roman, the HFS folder
//             its files go to (one `hcopy -r` each); beside that folder,
//             FOLDER.list holds the paths of the files whose own names
//             are already their HFS names, which go there too
//   single    triples: m or b, a MacBinary or BinHex file, its HFS path
//             (one `hcopy -m` or `hcopy -b` each)
//   types.N   type and creator (8 bytes), then the HFS paths of the plain
//             files that take them (one hattrib per group)
//   bless     the HFS path of the folder to bless, when one was asked for
// Records end with a NUL byte; HFS paths are Mac Roman, ':' between names.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "tools/macfile/type_map.h"

namespace macfile {

struct plan_request {
  std::filesystem::path mac_dir;
  std::filesystem::path staging;  // an empty folder
  std::string bless;              // a folder of mac_dir, '/' between names; empty: none
  const type_map* map = nullptr;
};

struct plan_result {
  enum class status { planned, names_refused, failed } outcome = status::planned;
  std::vector<std::string> problems;  // names_refused: one line for each name
  std::string failure;                // failed: what went wrong
  std::vector<std::string> notes;     // planned: what was left out, and why
};

plan_result make_plan(const plan_request& request);

}  // namespace macfile
