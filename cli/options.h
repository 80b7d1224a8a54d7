// The headless front end's command line, turned into the request the main
// window would build and the answers it would click.
#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "hybrid/job_dispatch.h"
#include "scsi/sim/sim_device.h"

namespace cli {

// How the user answered ahead of time; an absent answer is asked on a
// terminal, and taken as Cancel elsewhere.
struct preset_answers {
  bool yes = false;  // OK to warnings
  // OK to these questions alone (--accept-size, --overwrite-system-area, ...).
  std::set<hybrid::warning_kind> approved;
  // --media: the capacity the size questions use, in bytes; unset, the jobs'.
  std::optional<std::uint64_t> medium_bytes;
  std::optional<int> partition;  // a row, or hybrid::choice_all
  // --partition NAME: the one row whose name is exactly this.
  std::optional<std::string> partition_name;
};

// How much the front end says: --quiet errors only, --verbose also the
// status lines the window shows.
enum class verbosity { quiet, normal, verbose };

struct options {
  enum class action { run_job, undo, list_devices, info, help, version } what = action::run_job;
  // For list_devices: the device scan's type filter (-1 all, -2 disks, 5 CD-ROMs).
  int list_filter = -1;
  // For run_job; for undo, target_path is the hybrid to turn back.
  hybrid::job_request request;
  bool dry_run = false;  // every check and question, then the plan; no write
  verbosity talk = verbosity::normal;
  preset_answers answers;
  std::vector<scsi::sim_device> attached;  // --attach, in the order given
  // For info: the image file, or the request's --from-drive device; --json.
  std::string info_path;
  bool json = false;
};

// Parses argv (without the program name). On a usage error returns nullopt
// and sets `error` to a one-line reason.
std::optional<options> parse_options(const std::vector<std::string>& args, std::string& error);

// The device kind a specifier names: "A:"/"B:" a floppy, "C..." a CD-ROM,
// anything else a SCSI disk (the jobs check the form).
hybrid::device_kind device_kind_of(const std::string& specifier);

const char* usage_text();

// The option that answers OK to one kind of question.
const char* answer_option(hybrid::warning_kind kind);

// What --media NAME stands for, in bytes (none: no limit); nullopt for a
// name it does not know.
std::optional<std::uint64_t> media_bytes(const std::string& name);

}  // namespace cli
