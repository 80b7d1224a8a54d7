// zelvorant-macfile: the part of zelvorant-folders that reads Mac files and
// names, which a shell cannot do well. zelvorant-folders runs it as
//   zelvorant-macfile plan [--map FILE] [--bless FOLDER] MACDIR STAGING
//   zelvorant-macfile name TEXT      (TEXT in Mac Roman, for a volume name)
// and then makes the volume with hfsutils from the lists left in STAGING
// (tools/macfile/folder_plan.h). Exits 0 when planned, 1 with one line per
// name HFS cannot hold, 2 with one line when it could not plan, and
// `--version` prints the version zelvorant-folders reports.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <string_view>

#include "tools/macfile/folder_plan.h"
#include "tools/macfile/mac_roman.h"
#include "tools/macfile/type_map.h"

namespace {

int usage() {
  std::fputs(
      "usage: zelvorant-macfile plan [--map FILE] [--bless FOLDER] MACDIR STAGING\n"
      "       zelvorant-macfile name TEXT\n",
      stderr);
  return 2;
}

int plan(int argc, char** argv) {
  macfile::plan_request request;
  macfile::type_map map = macfile::default_type_map();
  int at = 2;
  for (; at + 1 < argc; at += 2) {
    const std::string_view option = argv[at];
    if (option == "--map") {
      std::ifstream in(argv[at + 1], std::ios::binary);
      std::stringstream text;
      text << in.rdbuf();
      std::string error;
      if (!in || !macfile::parse_type_map(text.str(), map, error)) {
        std::fprintf(stderr, "--map %s: %s\n", argv[at + 1], in ? error.c_str() : "cannot read it");
        return 2;
      }
    } else if (option == "--bless") {
      request.bless = argv[at + 1];
    } else {
      break;
    }
  }
  if (argc - at != 2) return usage();
  request.mac_dir = argv[at];
  request.staging = argv[at + 1];
  request.map = &map;
  const macfile::plan_result result = macfile::make_plan(request);
  switch (result.outcome) {
    case macfile::plan_result::status::planned:
      for (const auto& note : result.notes) std::fprintf(stderr, "%s\n", note.c_str());
      return 0;
    case macfile::plan_result::status::names_refused:
      for (const auto& problem : result.problems) std::fprintf(stderr, "%s\n", problem.c_str());
      return 1;
    case macfile::plan_result::status::failed:
      std::fprintf(stderr, "%s\n", result.failure.c_str());
      return 2;
  }
  return 2;
}

int name(const char* text) {
  const macfile::mac_roman_name mac = macfile::to_mac_roman(text);
  if (!mac.ok) {
    std::fprintf(stderr,
                 mac.bad_utf8 ? "not UTF-8\n" : "holds a character Mac Roman lacks (U+%04X)\n",
                 static_cast<unsigned>(mac.missing));
    return 1;
  }
  std::fwrite(mac.bytes.data(), 1, mac.bytes.size(), stdout);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::string_view(argv[1]) == "--version") {
    std::printf("%s\n", ZELVORANT_VERSION);
    return 0;
  }
  if (argc == 3 && std::string_view(argv[1]) == "name") return name(argv[2]);
  if (argc >= 2 && std::string_view(argv[1]) == "plan") return plan(argc, argv);
  return usage();
}
