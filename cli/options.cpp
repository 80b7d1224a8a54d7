#include "cli/options.h"

#include "hybrid/messages.h"
#include "hybrid/printable.h"
#include "hybrid/questions.h"

namespace cli {
namespace {

namespace text = hybrid::text;

bool parse_partition(const std::string& value, int& row) {
  if (value == "all") {
    row = hybrid::choice_all;
    return true;
  }
  if (value.size() != 1 || value[0] < '0' || value[0] > '7') return false;
  row = value[0] - '0';
  return true;
}

}  // namespace

hybrid::device_kind device_kind_of(const std::string& specifier) {
  if (specifier.size() == 2 && specifier[1] == ':') return hybrid::device_kind::floppy;
  if (!specifier.empty() && (specifier[0] == 'C' || specifier[0] == 'c')) {
    return hybrid::device_kind::cdrom;
  }
  return hybrid::device_kind::scsi;
}

namespace {

// Options that take no value; --list-devices takes an optional one.
bool is_flag(const std::string& name) {
  return name == "--help" || name == "-h" || name == "--version" || name == "--yes" ||
         name == "-y" || name == "--dry-run" || name == "--quiet" || name == "-q" ||
         name == "--verbose";
}

bool takes_value(const std::string& name) {
  return name == "--from-file" || name == "--from-drive" || name == "--to-iso" ||
         name == "--to-hfs-image" || name == "--partition" || name == "--attach" ||
         name == "--undo";
}

std::optional<options> parse_arguments(const std::vector<std::string>& args, std::string& error) {
  options parsed;
  bool have_source = false, have_target = false, quiet = false, verbose = false;
  bool options_ended = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (!options_ended && arg == "--") {
      options_ended = true;
      continue;
    }
    // Every path is the value of its option: nothing stands on its own.
    if (options_ended || arg.empty() || arg[0] != '-') {
      error = text::unexpected_argument(arg);
      return std::nullopt;
    }
    // --name=value as well as --name value.
    std::string name = arg;
    std::optional<std::string> attached_value;
    if (const std::size_t equals = arg.find('=');
        arg.rfind("--", 0) == 0 && equals != std::string::npos) {
      name = arg.substr(0, equals);
      attached_value = arg.substr(equals + 1);
    }
    if (attached_value && is_flag(name)) {
      error = text::takes_no_value(name);
      return std::nullopt;
    }
    if (name == "--help" || name == "-h") {
      parsed.what = options::action::help;
      return parsed;
    }
    if (name == "--version") {
      parsed.what = options::action::version;
      return parsed;
    }
    if (name == "--list-devices") {
      parsed.what = options::action::list_devices;
      std::optional<std::string> kind = attached_value;
      if (!kind && i + 1 < args.size() && (args[i + 1] == "disk" || args[i + 1] == "cdrom")) {
        kind = args[++i];
      }
      if (kind && *kind != "disk" && *kind != "cdrom") {
        error = text::list_devices_kind;
        return std::nullopt;
      }
      if (kind) parsed.list_filter = *kind == "disk" ? -2 : 5;
      continue;
    }
    if (name == "--info") {
      // The image is optional: --info --from-drive DEVICE describes a device.
      parsed.what = options::action::info;
      if (attached_value) {
        parsed.info_path = *attached_value;
      } else if (i + 1 < args.size() && args[i + 1].rfind('-', 0) != 0) {
        parsed.info_path = args[++i];
      }
      continue;
    }
    if (name == "--json") {
      parsed.json = true;
      continue;
    }
    if (name == "--yes" || name == "-y") {
      parsed.answers.yes = true;
      continue;
    }
    if (name == "--dry-run") {
      parsed.dry_run = true;
      continue;
    }
    if (name == "--quiet" || name == "-q" || name == "--verbose") {
      (name == "--verbose" ? verbose : quiet) = true;
      continue;
    }
    if (!takes_value(name)) {
      error = text::unknown_option(name);
      return std::nullopt;
    }
    if (!attached_value && i + 1 >= args.size()) {
      error = text::needs_value(name);
      return std::nullopt;
    }
    const std::string& value = attached_value ? *attached_value : args[++i];
    if (name == "--from-file" || name == "--from-drive") {
      if (have_source) {
        error = text::one_source;
        return std::nullopt;
      }
      have_source = true;
      if (name == "--from-file") {
        parsed.request.source = hybrid::source_kind::file;
        parsed.request.source_path = value;
      } else {
        parsed.request.source = hybrid::source_kind::drive;
        parsed.request.device = device_kind_of(value);
        parsed.request.device_text = value;
      }
    } else if (name == "--to-iso" || name == "--to-hfs-image" || name == "--undo") {
      if (have_target) {
        error = text::one_target;
        return std::nullopt;
      }
      have_target = true;
      if (name == "--undo") parsed.what = options::action::undo;
      parsed.request.target = name == "--to-hfs-image" ? hybrid::target_kind::hfs_image
                                                       : hybrid::target_kind::iso_image;
      parsed.request.target_path = value;
    } else if (name == "--attach") {
      scsi::sim_device device;
      if (!scsi::parse_attach(value, device, error)) {
        error = text::attach_refused(error);
        return std::nullopt;
      }
      parsed.attached.push_back(device);
    } else {
      int row = 0;
      if (parse_partition(value, row)) {
        parsed.answers.partition = row;
      } else if (value.empty() || value[0] == '-' ||
                 value.find_first_not_of("0123456789") == std::string::npos) {
        // A number is a row, never a name: 8 or -1 is a mistyped row.
        error = text::partition_value;
        return std::nullopt;
      } else {
        parsed.answers.partition_name = value;
      }
    }
  }
  if (quiet && verbose) {
    error = text::quiet_or_verbose;
    return std::nullopt;
  }
  if (quiet) parsed.talk = verbosity::quiet;
  if (verbose) parsed.talk = verbosity::verbose;
  if (parsed.what == options::action::list_devices) {
    if (have_source || have_target) {
      error = text::list_devices_alone;
      return std::nullopt;
    }
    return parsed;
  }
  if (parsed.json && parsed.what != options::action::info) {
    error = text::json_needs_info;
    return std::nullopt;
  }
  if (parsed.what == options::action::info) {
    if (have_target) {
      error = text::info_no_target;
      return std::nullopt;
    }
    if (have_source == !parsed.info_path.empty()) {
      error = text::info_one_image;
      return std::nullopt;
    }
    if (parsed.request.source == hybrid::source_kind::file && have_source) {
      parsed.info_path = parsed.request.source_path;
    }
    return parsed;
  }
  if (parsed.what == options::action::undo) {
    if (parsed.dry_run) {
      error = text::undo_no_dry_run;
      return std::nullopt;
    }
    if (have_source) {
      error = text::undo_no_source;
      return std::nullopt;
    }
    return parsed;
  }
  if (!have_source) {
    error = text::no_source;
    return std::nullopt;
  }
  if (!have_target) {
    error = text::no_target;
    return std::nullopt;
  }
  return parsed;
}

}  // namespace

std::optional<options> parse_options(const std::vector<std::string>& args, std::string& error) {
  auto parsed = parse_arguments(args, error);
  // The reason quotes what was typed: a line break or an escape sequence in
  // an argument must not reach the terminal as one.
  error = hybrid::printable(error);
  return parsed;
}

const char* usage_text() {
  return "Usage: zelvorant-cli SOURCE TARGET [DEVICES] [ANSWERS] [OUTPUT]\n"
         "  or:  zelvorant-cli --undo ISO [ANSWERS] [OUTPUT]\n"
         "  or:  zelvorant-cli --info IMAGE|--from-drive DEVICE [DEVICES] [--json]\n"
         "Makes an ISO 9660 image a Macintosh/PC hybrid in place, or copies an HFS\n"
         "volume from a device into an HFS image file; --undo turns a hybrid back\n"
         "into the plain ISO image.\n"
         "\n"
         "Source (one):\n"
         "  --from-file PATH       an HFS image file (Apple-partitioned, or a bare\n"
         "                         HFS or HFS+ volume)\n"
         "  --from-drive DEVICE    a device: A:, B: (floppy), AHT0 (SCSI disk on host\n"
         "                         adapter H, target T), CHT0 (CD-ROM); on Linux also\n"
         "                         /dev/srN, /dev/sgN or /dev/sdX\n"
         "Target (one):\n"
         "  --to-iso PATH          an ISO 9660 image, made hybrid in place\n"
         "  --to-hfs-image PATH    an HFS image file to write (replaced once complete)\n"
         "  --undo PATH            a hybrid made by this program, back to its ISO\n"
         "                         image: cut where the HFS data begin, the first\n"
         "                         32,768 bytes zeroed\n"
         "Rehearsal:\n"
         "  --dry-run              run every check and question, print the plan (map\n"
         "                         entries, bytes to append and where, final size)\n"
         "                         and write nothing\n"
         "Simulated devices (for --from-drive AHT0 or CHT0):\n"
         "  --attach disk|cdrom[,no-read6]:HOST:TARGET=FILE\n"
         "                         puts an image file on a simulated SCSI bus as a\n"
         "                         disk or CD-ROM on host adapter HOST (0 to 9),\n"
         "                         target TARGET (0 to 7); no-read6 makes it refuse\n"
         "                         READ(6) as ATAPI and USB drives do; repeatable\n"
         "  --list-devices [disk|cdrom]\n"
         "                         lists the host adapters and their devices (disks\n"
         "                         and optical drives, CD-ROMs, or all) and exits\n"
         "Looking inside (reads only):\n"
         "  --info IMAGE           describes an ISO, a hybrid or an HFS image: the ISO\n"
         "                         9660 volume, the system area, the partition map,\n"
         "                         the HFS volumes, the bytes after them, what is\n"
         "                         wrong, and the layout drawn to scale; with\n"
         "                         --from-drive DEVICE instead of IMAGE, a device's\n"
         "  --json                 the same facts as one JSON object\n"
         "Answers to the questions a job may ask:\n"
         "  --partition N|NAME|all which HFS partition to take: row N (0 to 7), the\n"
         "                         one row named NAME, or all\n"
         "  -y, --yes              answer OK to warnings\n"
         "Output:\n"
         "  -q, --quiet            print errors only\n"
         "  --verbose              also print the status lines (\"Working, please\n"
         "                         wait...\")\n"
         "  -h, --help             print this help and exit\n"
         "  --version              print the version and exit\n"
         "\n"
         "Options take their value as --opt VALUE or --opt=VALUE; -- ends the\n"
         "options. On a terminal an unanswered question is asked; otherwise it is\n"
         "answered with Cancel. A file that cannot be opened is named with the\n"
         "system's reason. A control character in a name read from an image or a\n"
         "device, or in a path, is printed as '?' (--json escapes it).\n"
         "\n"
         "Exit status:\n"
         "  0    completed (with --dry-run: planned, nothing written; with --info:\n"
         "       described, and nothing found wrong)\n"
         "  1    refused, cancelled or failed; the files are as they were (with\n"
         "       --info: problems found, or nothing could be read)\n"
         "  2    usage error\n"
         "  129  stopped by a hang-up (SIGHUP, or the console window closed)\n"
         "  130  stopped by Ctrl-C (SIGINT; Ctrl-Break on Windows)\n"
         "  131  stopped by Ctrl-\\ (SIGQUIT)\n"
         "  143  stopped by SIGTERM\n"
         "A stopped job leaves the ISO image as it was.\n";
}

}  // namespace cli
