#include "cli/options.h"

#include <algorithm>
#include <limits>
#include <utility>

#include "cli/option_table.h"
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

handled refuse(std::string& error, std::string reason) {
  error = std::move(reason);
  return handled::refused;
}

// The sources and targets the jobs take, listed by the usage errors about
// sources and targets that no job combines.
const std::vector<std::string> jobs = {
    "--from-file PATH --to-iso PATH",
    "--from-drive DEVICE --to-iso PATH",
    "--from-drive DEVICE --to-hfs-image PATH",
    "--from-file PATH --to-hfs-image PATH",
    "--undo PATH",
};

handled refuse_pair(parse_state& state, std::string& error, const char* reason) {
  state.list_jobs = true;
  return refuse(error, reason);
}

// True the first time only: a second source or target is a usage error.
bool first(bool& given) { return !std::exchange(given, true); }

handled help(parse_state& state, const std::optional<std::string>&, std::string&) {
  state.parsed.what = options::action::help;
  return handled::stop;
}

handled version(parse_state& state, const std::optional<std::string>&, std::string&) {
  state.parsed.what = options::action::version;
  return handled::stop;
}

handled from_file(parse_state& state, const std::optional<std::string>& path, std::string& error) {
  if (!first(state.have_source)) {
    return refuse_pair(state, error, text::one_source);
  }
  state.parsed.request.source = hybrid::source_kind::file;
  state.parsed.request.source_path = *path;
  return handled::next;
}

handled from_drive(parse_state& state, const std::optional<std::string>& device,
                   std::string& error) {
  if (!first(state.have_source)) {
    return refuse_pair(state, error, text::one_source);
  }
  state.parsed.request.source = hybrid::source_kind::drive;
  state.parsed.request.device = device_kind_of(*device);
  state.parsed.request.device_text = *device;
  return handled::next;
}

handled target(parse_state& state, hybrid::target_kind kind, const std::string& path,
               std::string& error) {
  if (!first(state.have_target)) {
    return refuse_pair(state, error, text::one_target);
  }
  state.parsed.request.target = kind;
  state.parsed.request.target_path = path;
  return handled::next;
}

handled to_iso(parse_state& state, const std::optional<std::string>& path, std::string& error) {
  return target(state, hybrid::target_kind::iso_image, *path, error);
}

handled to_hfs_image(parse_state& state, const std::optional<std::string>& path,
                     std::string& error) {
  return target(state, hybrid::target_kind::hfs_image, *path, error);
}

// The hybrid to turn back is the target the job once wrote.
handled undo(parse_state& state, const std::optional<std::string>& path, std::string& error) {
  state.parsed.what = options::action::undo;
  return target(state, hybrid::target_kind::iso_image, *path, error);
}

handled dry_run(parse_state& state, const std::optional<std::string>&, std::string&) {
  state.parsed.dry_run = true;
  return handled::next;
}

handled attach(parse_state& state, const std::optional<std::string>& device, std::string& error) {
  scsi::sim_device attached;
  if (!scsi::parse_attach(*device, attached, error))
    return refuse(error, text::attach_refused(error));
  state.parsed.attached.push_back(attached);
  return handled::next;
}

bool is_device_kind(const std::string& word) { return word == "disk" || word == "cdrom"; }

handled list_devices(parse_state& state, const std::optional<std::string>& kind,
                     std::string& error) {
  state.parsed.what = options::action::list_devices;
  if (!kind) return handled::next;
  if (!is_device_kind(*kind)) return refuse(error, text::list_devices_kind);
  state.parsed.list_filter = *kind == "disk" ? -2 : 5;
  return handled::next;
}

// The image is optional: --info --from-drive DEVICE describes a device.
bool names_an_image(const std::string& word) { return word.rfind('-', 0) != 0; }

handled info(parse_state& state, const std::optional<std::string>& image, std::string&) {
  state.parsed.what = options::action::info;
  if (image) state.parsed.info_path = *image;
  return handled::next;
}

handled json(parse_state& state, const std::optional<std::string>&, std::string&) {
  state.parsed.json = true;
  return handled::next;
}

handled partition(parse_state& state, const std::optional<std::string>& choice,
                  std::string& error) {
  const std::string& value = *choice;
  int row = 0;
  if (parse_partition(value, row)) {
    state.parsed.answers.partition = row;
  } else if (value.empty() || value[0] == '-' ||
             value.find_first_not_of("0123456789") == std::string::npos) {
    // A number is a row, never a name: 8 or -1 is a mistyped row.
    return refuse(error, text::partition_value);
  } else {
    state.parsed.answers.partition_name = value;
  }
  return handled::next;
}

handled yes(parse_state& state, const std::optional<std::string>&, std::string&) {
  state.parsed.answers.yes = true;
  return handled::next;
}

template <hybrid::warning_kind kind>
handled approve(parse_state& state, const std::optional<std::string>&, std::string&) {
  state.parsed.answers.approved.insert(kind);
  return handled::next;
}

handled media(parse_state& state, const std::optional<std::string>& name, std::string& error) {
  const std::optional<std::uint64_t> bytes = media_bytes(*name);
  if (!bytes) return refuse(error, text::media_value);
  state.parsed.answers.medium_bytes = bytes;
  return handled::next;
}

handled quiet(parse_state& state, const std::optional<std::string>&, std::string&) {
  state.quiet = true;
  return handled::next;
}

handled verbose(parse_state& state, const std::optional<std::string>&, std::string&) {
  state.verbose = true;
  return handled::next;
}

// The options that each answer one kind of question.
constexpr const char* accept_size = "--accept-size";
constexpr const char* overwrite_system_area = "--overwrite-system-area";
constexpr const char* remove_after_volume = "--remove-after-volume";
constexpr const char* zero_system_area = "--zero-system-area";
constexpr const char* remove_after_data = "--remove-after-data";

// --help's headings.
namespace heading {
constexpr const char* sources = "Source (one):";
constexpr const char* targets = "Target (one):";
constexpr const char* rehearsal = "Rehearsal:";
constexpr const char* simulated = "Simulated devices (for --from-drive AHT0 or CHT0):";
constexpr const char* looking = "Looking inside (reads only):";
constexpr const char* answers = "Answers to the questions a job may ask:";
constexpr const char* output = "Output:";
}  // namespace heading

// In --help's order. --json takes no value, but --json=ANYTHING has always
// been taken as --json.
const option_entry every_option[] = {
    {"--from-file", nullptr, value_rule::required, nullptr, from_file, heading::sources, " PATH",
     "an HFS image file (Apple-partitioned, or a bare\n"
     "HFS or HFS+ volume)"},
    {"--from-drive", nullptr, value_rule::required, nullptr, from_drive, heading::sources,
     " DEVICE",
     "a device: A:, B: (floppy), AHT0 (SCSI disk on host\n"
     "adapter H, target T), CHT0 (CD-ROM); on Linux also\n"
     "/dev/srN, /dev/sgN or /dev/sdX"},
    {"--to-iso", nullptr, value_rule::required, nullptr, to_iso, heading::targets, " PATH",
     "an ISO 9660 image, made hybrid in place"},
    {"--to-hfs-image", nullptr, value_rule::required, nullptr, to_hfs_image, heading::targets,
     " PATH", "an HFS image file to write (replaced once complete)"},
    {"--undo", nullptr, value_rule::required, nullptr, undo, heading::targets, " PATH",
     "a hybrid made by this program, back to its ISO\n"
     "image: cut where the HFS data begin, the first\n"
     "32,768 bytes zeroed"},
    {"--dry-run", nullptr, value_rule::none, nullptr, dry_run, heading::rehearsal, "",
     "run every check and question, print the plan (map\n"
     "entries, bytes to append and where, final size)\n"
     "and write nothing"},
    {"--attach", nullptr, value_rule::required, nullptr, attach, heading::simulated,
     " disk|cdrom[,no-read6]:HOST:TARGET=FILE",
     "puts an image file on a simulated SCSI bus as a\n"
     "disk or CD-ROM on host adapter HOST (0 to 9),\n"
     "target TARGET (0 to 7); no-read6 makes it refuse\n"
     "READ(6) as ATAPI and USB drives do; repeatable"},
    {"--list-devices", nullptr, value_rule::optional, is_device_kind, list_devices,
     heading::simulated, " [disk|cdrom]",
     "lists the host adapters and their devices (disks\n"
     "and optical drives, CD-ROMs, or all) and exits"},
    {"--info", nullptr, value_rule::optional, names_an_image, info, heading::looking, " IMAGE",
     "describes an ISO, a hybrid or an HFS image: the ISO\n"
     "9660 volume, the system area, the partition map,\n"
     "the HFS volumes, the bytes after them, what is\n"
     "wrong, and the layout drawn to scale; with\n"
     "--from-drive DEVICE in place of IMAGE, the same\n"
     "of a device"},
    {"--json", nullptr, value_rule::ignored, nullptr, json, heading::looking, "",
     "the same facts as one JSON object"},
    {"--partition", nullptr, value_rule::required, nullptr, partition, heading::answers,
     " N|NAME|all",
     "which HFS partition to take: row N (0 to 7), the\n"
     "one row whose partition, or else HFS volume, is\n"
     "named NAME, or all"},
    {"--yes", "-y", value_rule::none, nullptr, yes, heading::answers, "",
     "answer OK to every question; each option below\n"
     "answers one kind"},
    {accept_size, nullptr, value_rule::none, nullptr, approve<hybrid::warning_kind::capacity>,
     heading::answers, "", "OK to a hybrid larger than the medium"},
    {overwrite_system_area, nullptr, value_rule::none, nullptr,
     approve<hybrid::warning_kind::system_area>, heading::answers, "",
     "OK to overwrite data (a boot record, a GPT) in\n"
     "the ISO image's first 32,768 bytes"},
    {remove_after_volume, nullptr, value_rule::none, nullptr,
     approve<hybrid::warning_kind::bytes_after_volume>, heading::answers, "",
     "OK to remove bytes after the ISO 9660 volume"},
    {zero_system_area, nullptr, value_rule::none, nullptr,
     approve<hybrid::warning_kind::undo_system_area>, heading::answers, "",
     "--undo: OK to zero data besides the map in the\n"
     "first 32,768 bytes"},
    {remove_after_data, nullptr, value_rule::none, nullptr,
     approve<hybrid::warning_kind::undo_bytes_after>, heading::answers, "",
     "--undo: OK to remove bytes after the hybrid's last\n"
     "partition"},
    {"--media", nullptr, value_rule::required, nullptr, media, heading::answers,
     " cd74|cd80|dvd|none",
     "the medium the size question measures against:\n"
     "cd74 681,984,000 bytes, cd80 737,280,000, dvd\n"
     "4,700,372,992 (single-layer DVD+R), none asks\n"
     "nothing; without it 660,000,000 bytes (a device\n"
     "source: 640,000,000)"},
    {"--quiet", "-q", value_rule::none, nullptr, quiet, heading::output, "", "print errors only"},
    {"--verbose", nullptr, value_rule::none, nullptr, verbose, heading::output, "",
     "also print the status lines (\"Working, please\n"
     "wait...\")"},
    {"--help", "-h", value_rule::none, nullptr, help, heading::output, "",
     "print this help and exit"},
    {"--version", nullptr, value_rule::none, nullptr, version, heading::output, "",
     "print the version and exit"},
};

// Gives `word` the value its option takes: from after '=', or the next
// word, moving `at` on.
bool take_value(const option_entry& option, option_word& word, const std::vector<std::string>& args,
                std::size_t& at, std::string& error) {
  const bool next = at + 1 < args.size();
  switch (option.value) {
    case value_rule::none:
      if (!word.value) return true;
      error = text::takes_no_value(word.name);
      return false;
    case value_rule::ignored:
      return true;
    case value_rule::required:
      if (word.value) return true;
      if (!next) {
        error = text::needs_value(word.name);
        return false;
      }
      word.value = args[++at];
      return true;
    case value_rule::optional:
      if (!word.value && next && option.next_is_value(args[at + 1])) word.value = args[++at];
      return true;
  }
  return true;
}

bool broken_rule(std::string& error, std::string reason) {
  error = std::move(reason);
  return false;
}

// A usage error about sources and targets that no job combines.
bool broken_pair(parse_state& state, std::string& error, const char* reason) {
  state.list_jobs = true;
  return broken_rule(error, reason);
}

// --info's rules, once the whole line is read.
bool check_info(parse_state& state, std::string& error) {
  options& parsed = state.parsed;
  if (state.have_target) {
    return broken_rule(error, text::info_no_target);
  }
  if (state.have_source == !parsed.info_path.empty()) {
    return broken_rule(error, text::info_one_image);
  }
  if (parsed.request.source == hybrid::source_kind::file && state.have_source) {
    parsed.info_path = parsed.request.source_path;
  }
  return true;
}

bool check_undo(parse_state& state, std::string& error) {
  if (state.parsed.dry_run) {
    return broken_rule(error, text::undo_no_dry_run);
  }
  if (state.have_source) {
    return broken_pair(state, error, text::undo_no_source);
  }
  return true;
}

// The rules between options, in the order they are checked.
bool check_command(parse_state& state, std::string& error) {
  options& parsed = state.parsed;
  if (state.quiet && state.verbose) {
    return broken_rule(error, text::quiet_or_verbose);
  }
  if (state.quiet) parsed.talk = verbosity::quiet;
  if (state.verbose) parsed.talk = verbosity::verbose;
  if (parsed.what == options::action::list_devices) {
    if (state.have_source || state.have_target) {
      return broken_rule(error, text::list_devices_alone);
    }
    return true;
  }
  if (parsed.json && parsed.what != options::action::info) {
    return broken_rule(error, text::json_needs_info);
  }
  if (parsed.what == options::action::info) return check_info(state, error);
  if (parsed.what == options::action::undo) return check_undo(state, error);
  if (!state.have_source) {
    return broken_pair(state, error, text::no_source);
  }
  if (!state.have_target) {
    return broken_pair(state, error, text::no_target);
  }
  // The one pair the window calls incoherent that the command line takes.
  hybrid::job_request& request = parsed.request;
  request.image_file_to_hfs_image = request.source == hybrid::source_kind::file &&
                                    request.target == hybrid::target_kind::hfs_image;
  return true;
}

// Words of one dash and several letters ("-yq") as the short options they
// join; any other word as it is.
std::vector<std::string> split_short_options(const std::vector<std::string>& args) {
  std::vector<std::string> words;
  bool options_ended = false;
  for (const std::string& arg : args) {
    options_ended = options_ended || arg == "--";
    const bool joined = !options_ended && arg.size() > 2 && arg[0] == '-' && arg[1] != '-';
    if (joined && std::all_of(arg.begin() + 1, arg.end(), [](char letter) {
          const option_entry* option = find_option(every_option, std::string{'-', letter});
          return option != nullptr && option->value == value_rule::none;
        })) {
      for (std::size_t at = 1; at < arg.size(); ++at) words.push_back(std::string{'-', arg[at]});
    } else {
      words.push_back(arg);
    }
  }
  return words;
}

std::optional<options> parse_arguments(parse_state& state, const std::vector<std::string>& words,
                                       std::string& error) {
  const std::vector<std::string> args = split_short_options(words);
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
    option_word word = split_option(arg);
    const option_entry* option = find_option(every_option, word.name);
    if (option == nullptr) {
      error = text::unknown_option(word.name);
      return std::nullopt;
    }
    if (!take_value(*option, word, args, i, error)) return std::nullopt;
    const handled result = option->handle(state, word.value, error);
    if (result == handled::refused) return std::nullopt;
    if (result == handled::stop) return state.parsed;
  }
  if (!check_command(state, error)) return std::nullopt;
  return state.parsed;
}

}  // namespace

std::span<const option_entry> program_options() { return every_option; }

std::optional<options> parse_options(const std::vector<std::string>& args, std::string& error) {
  parse_state state;
  auto parsed = parse_arguments(state, args, error);
  // The reason quotes what was typed: a line break or an escape sequence in
  // an argument must not reach the terminal as one.
  error = hybrid::printable(error);
  if (!parsed && state.list_jobs) error += "\n" + text::jobs_that_work(jobs);
  return parsed;
}

const char* answer_option(hybrid::warning_kind kind) {
  switch (kind) {
    case hybrid::warning_kind::capacity:
      return accept_size;
    case hybrid::warning_kind::system_area:
      return overwrite_system_area;
    case hybrid::warning_kind::bytes_after_volume:
      return remove_after_volume;
    case hybrid::warning_kind::undo_system_area:
      return zero_system_area;
    case hybrid::warning_kind::undo_bytes_after:
      return remove_after_data;
  }
  return "--yes";
}

std::optional<std::uint64_t> media_bytes(const std::string& name) {
  // Sectors of 2,048 bytes: 74 and 80 minutes at 75 a second; a
  // single-layer DVD+R, the smaller of the two recordable DVDs.
  constexpr std::uint64_t sector = 2048;
  if (name == "cd74") return 74 * 60 * 75 * sector;
  if (name == "cd80") return 80 * 60 * 75 * sector;
  if (name == "dvd") return 2295104 * sector;
  if (name == "none") return std::numeric_limits<std::uint64_t>::max();
  return std::nullopt;
}

const char* usage_text() {
  static const std::string text =
      "Usage: zelvorant-cli SOURCE TARGET [DEVICES] [ANSWERS] [OUTPUT]\n"
      "  or:  zelvorant-cli --undo ISO [ANSWERS] [OUTPUT]\n"
      "  or:  zelvorant-cli --info IMAGE|--from-drive DEVICE [DEVICES] [--json]\n"
      "Makes an ISO 9660 image a Macintosh/PC hybrid in place, or copies an HFS\n"
      "volume from a device or an image file into an HFS image file; --undo turns\n"
      "a hybrid back into the plain ISO image.\n"
      "\n" +
      option_help(every_option) +
      "\n"
      "Options take their value as --opt VALUE or --opt=VALUE; -- ends the\n"
      "options; short options join (-yq). On a terminal an unanswered question\n"
      "is asked (o, ok, y or yes for OK; c, cancel, n or no for Cancel);\n"
      "otherwise it is answered with Cancel. An error names the file or device\n"
      "it is about: \"zelvorant-cli: FILE: reason\". A control character in a\n"
      "name read from an image or a device, or in a path, is printed as '?'\n"
      "(--json escapes it).\n"
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
  return text.c_str();
}

}  // namespace cli
