#include "cli/options.h"

#include "hybrid/questions.h"

namespace cli {
namespace {

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

std::optional<options> parse_arguments(const std::vector<std::string>& args, std::string& error) {
  options parsed;
  bool have_source = false, have_target = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--help" || arg == "-h") {
      parsed.what = options::action::help;
      return parsed;
    }
    if (arg == "--version") {
      parsed.what = options::action::version;
      return parsed;
    }
    if (arg == "--list-devices") {
      parsed.what = options::action::list_devices;
      if (i + 1 < args.size() && (args[i + 1] == "disk" || args[i + 1] == "cdrom")) {
        parsed.list_filter = args[++i] == "disk" ? -2 : 5;
      }
      continue;
    }
    if (arg == "--info") {
      // The image is optional: --info --from-drive DEVICE describes a device.
      parsed.what = options::action::info;
      if (i + 1 < args.size() && args[i + 1].rfind('-', 0) != 0) parsed.info_path = args[++i];
      continue;
    }
    if (arg == "--json") {
      parsed.json = true;
      continue;
    }
    if (arg == "--yes" || arg == "-y") {
      parsed.answers.yes = true;
      continue;
    }
    const bool takes_value = arg == "--from-file" || arg == "--from-drive" || arg == "--to-iso" ||
                             arg == "--to-hfs-image" || arg == "--partition" || arg == "--attach";
    if (!takes_value) {
      error = "unknown option '" + arg + "'";
      return std::nullopt;
    }
    if (i + 1 >= args.size()) {
      error = arg + " needs a value";
      return std::nullopt;
    }
    const std::string& value = args[++i];
    if (arg == "--from-file" || arg == "--from-drive") {
      if (have_source) {
        error = "give one source: --from-file or --from-drive";
        return std::nullopt;
      }
      have_source = true;
      if (arg == "--from-file") {
        parsed.request.source = hybrid::source_kind::file;
        parsed.request.source_path = value;
      } else {
        parsed.request.source = hybrid::source_kind::drive;
        parsed.request.device = device_kind_of(value);
        parsed.request.device_text = value;
      }
    } else if (arg == "--to-iso" || arg == "--to-hfs-image") {
      if (have_target) {
        error = "give one target: --to-iso or --to-hfs-image";
        return std::nullopt;
      }
      have_target = true;
      parsed.request.target =
          arg == "--to-iso" ? hybrid::target_kind::iso_image : hybrid::target_kind::hfs_image;
      parsed.request.target_path = value;
    } else if (arg == "--attach") {
      scsi::sim_device device;
      if (!scsi::parse_attach(value, device, error)) {
        error = "--attach: " + error;
        return std::nullopt;
      }
      parsed.attached.push_back(device);
    } else {
      int row = 0;
      if (!parse_partition(value, row)) {
        error = "--partition takes a row 0 to 7 or 'all'";
        return std::nullopt;
      }
      parsed.answers.partition = row;
    }
  }
  if (parsed.what == options::action::list_devices) {
    if (have_source || have_target) {
      error = "--list-devices runs no job: give it without a source or target";
      return std::nullopt;
    }
    return parsed;
  }
  if (parsed.json && parsed.what != options::action::info) {
    error = "--json goes with --info";
    return std::nullopt;
  }
  if (parsed.what == options::action::info) {
    if (have_target) {
      error = "--info writes nothing: give it without a target";
      return std::nullopt;
    }
    if (have_source == !parsed.info_path.empty()) {
      error = "--info takes one IMAGE, or a device with --from-drive DEVICE";
      return std::nullopt;
    }
    if (parsed.request.source == hybrid::source_kind::file && have_source) {
      parsed.info_path = parsed.request.source_path;
    }
    return parsed;
  }
  if (!have_source) {
    error = "no source: give --from-file PATH or --from-drive DEVICE";
    return std::nullopt;
  }
  if (!have_target) {
    error = "no target: give --to-iso PATH or --to-hfs-image PATH";
    return std::nullopt;
  }
  return parsed;
}

}  // namespace

std::optional<options> parse_options(const std::vector<std::string>& args, std::string& error) {
  auto parsed = parse_arguments(args, error);
  // The reason quotes what was typed: a line break or an escape sequence in
  // an argument must not reach the terminal as one.
  for (char& c : error) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  }
  return parsed;
}

const char* usage_text() {
  return "Usage: zelvorant-cli SOURCE TARGET [DEVICES] [ANSWERS]\n"
         "       zelvorant-cli --info IMAGE|--from-drive DEVICE [DEVICES] [--json]\n"
         "Makes an ISO 9660 image a Macintosh/PC hybrid in place, or copies an HFS\n"
         "volume from a device into an HFS image file.\n"
         "\n"
         "Source (one):\n"
         "  --from-file PATH       an HFS image file (Apple-partitioned, or a bare\n"
         "                         HFS or HFS+ volume)\n"
         "  --from-drive DEVICE    a device: A:, B: (floppy), AHT0 (SCSI disk on host\n"
         "                         adapter H, target T), CHT0 (CD-ROM)\n"
         "Target (one):\n"
         "  --to-iso PATH          an ISO 9660 image, made hybrid in place\n"
         "  --to-hfs-image PATH    an HFS image file to write (replaced once complete)\n"
         "Simulated devices (for --from-drive AHT0 or CHT0):\n"
         "  --attach disk|cdrom:HOST:TARGET=FILE\n"
         "                         puts an image file on a simulated SCSI bus as a\n"
         "                         disk or CD-ROM on host adapter HOST (0 to 9),\n"
         "                         target TARGET (0 to 7); repeatable\n"
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
         "  --partition N|all      which HFS partition to take (row N, 0 to 7)\n"
         "  --yes                  answer OK to warnings\n"
         "  --help, --version\n"
         "\n"
         "On a terminal an unanswered question is asked; otherwise it is answered\n"
         "with Cancel. Exit status: 0 completed, 1 refused, cancelled or failed,\n"
         "2 usage error. With --info: 0 described and sound, 1 problems found or\n"
         "nothing could be read, 2 usage error.\n";
}

}  // namespace cli
