// zelvorant-cli: the jobs of the main window, driven from a command line.
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "cli/device_list.h"
#include "cli/device_path.h"
#include "cli/info_command.h"
#include "cli/interrupt.h"
#include "cli/options.h"
#include "cli/plan_text.h"
#include "cli/real_devices.h"
#include "cli/terminal_questions.h"
#include "hybrid/job_dispatch.h"
#include "hybrid/messages.h"
#include "hybrid/printable.h"
#include "platform/file_ops.h"
#include "platform/idle.h"
#include "scsi/aspi_manager.h"
#include "scsi/sim/simulated_bus.h"
#include "scsi/transports/combined_manager.h"

namespace {

// Every text this program prints may quote a name it read, or a path or a
// device that was typed: it reaches the terminal with no control character
// but its own line breaks.
std::string shown(const std::string& text) {
  return hybrid::printable(text, hybrid::line_breaks::keep);
}

// True when an existing `target` is the image file behind one of the
// attached devices: the job would read the device while it rewrites, or
// first empties, the very same file.
bool target_is_attached(const std::string& target, const std::vector<scsi::sim_device>& attached) {
  // Opening a pipe waits for a writer: the job refuses a pipe as its target
  // without opening it for reading alone.
  std::error_code not_known;
  if (attached.empty() || std::filesystem::is_fifo(target, not_known)) return false;
  std::FILE* target_file = target.empty() ? nullptr : std::fopen(target.c_str(), "rb");
  if (target_file == nullptr) return false;
  bool same = false;
  for (const auto& device : attached) {
    if (std::FILE* image = std::fopen(device.path.c_str(), "rb")) {
      same = same || platform::same_file(target_file, image);
      std::fclose(image);
    }
  }
  std::fclose(target_file);
  return same;
}

// The ASPI manager for the whole run: the platform's devices and the
// simulated bus behind them, also with nothing there (the device jobs then
// find no host adapters).
struct run_devices {
  cli::real_devices real = cli::open_real_devices();
  scsi::simulated_bus bus;
  std::optional<scsi::combined_manager> both;

  run_devices() = default;
  run_devices(const run_devices&) = delete;
  run_devices& operator=(const run_devices&) = delete;
  ~run_devices() { scsi::install_aspi_manager(nullptr); }

  bool attach(const std::vector<scsi::sim_device>& devices, std::string& error) {
    for (const auto& device : devices) {
      if (!bus.attach(device, error)) return false;
    }
    scsi::aspi_manager* manager = &bus;
    if (real.manager) manager = &both.emplace(*real.manager, bus);
    scsi::install_aspi_manager(manager);
    return true;
  }
};

// However main ends once the job may have started, the job is over by
// then: a console event that waits for it may let the program end.
struct settle_at_exit {
  ~settle_at_exit() { cli::job_settled(); }
};

// A device path (/dev/sr0) becomes the specifier of the device behind it.
// False, with the reason, when the path names no device the jobs reach.
bool name_the_device(hybrid::job_request& request, cli::verbosity talk, std::string& error) {
  const auto specifier = cli::specifier_for_device_path(request.device_text, error);
  if (!error.empty()) return false;
  if (specifier) {
    if (talk == cli::verbosity::verbose) {
      std::fprintf(
          stderr, "%s\n",
          hybrid::text::device_path_names(hybrid::printable(request.device_text), *specifier)
              .c_str());
    }
    request.device_text = *specifier;
    request.device = cli::device_kind_of(*specifier);
  }
  return true;
}

// What could not be written to the standard output (a closed one, a pipe
// whose reader has gone, a full disk): the first reason, and the completion
// line lost with it. A job's outcome is what it was whatever became of the
// line that tells it; the loss is told on stderr as the program ends.
struct lost_output {
  int error_number = 0;
  std::string result;
};
lost_output lost;

void note_output_failure(int error_number) {
  if (lost.error_number == 0) lost.error_number = error_number != 0 ? error_number : EIO;
}

// Ends the program's output: a loss is told on stderr, with the job's result
// that went missing. `status` stays a job's; a command whose result is its
// output (--info, --list-devices, --help, --version) failed with it.
int end_output(int status, bool job) {
  errno = 0;
  if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) note_output_failure(errno);
  if (lost.error_number == 0) return status;
  std::fprintf(stderr, "%s\n",
               hybrid::text::output_lost(platform::error_text(lost.error_number)).c_str());
  if (!lost.result.empty()) std::fprintf(stderr, "%s\n", lost.result.c_str());
  return job || status != 0 ? status : 1;
}

// An error about one file or device: "zelvorant-cli: FILE: reason".
void print_error(const std::string& file, const std::string& text) {
  const std::string line = file.empty()
                               ? hybrid::text::program_error(shown(text))
                               : hybrid::text::file_error(hybrid::printable(file), shown(text));
  std::fprintf(stderr, "%s\n", line.c_str());
}

// The result of a job, on stdout; its loss is told as the program ends.
void print_result(const std::string& line) {
  errno = 0;
  if (std::fprintf(stdout, "%s\n", line.c_str()) < 0 || std::fflush(stdout) != 0) {
    note_output_failure(errno);
    lost.result = line;
  }
}

// The completion line, naming what was written.
std::string completion_line(const hybrid::written_target& written) {
  namespace text = hybrid::text;
  const std::string path = hybrid::printable(written.path);
  std::vector<text::volume_at> volumes = written.volumes;
  for (text::volume_at& volume : volumes) volume.name = hybrid::printable(volume.name);
  switch (written.what) {
    case hybrid::written_target::kind::hybrid:
      return text::completed_hybrid(path, written.bytes, volumes, written.blocks_shared);
    case hybrid::written_target::kind::hfs_image:
      return text::completed_hfs_image(path, written.bytes, volumes);
    case hybrid::written_target::kind::plain_iso:
      break;
  }
  return text::completed_undo(path, written.bytes);
}

// The main window's outlets, on a terminal.
hybrid::job_outlets terminal_outlets(const cli::options& parsed, cli::terminal_questions& ask) {
  const bool quiet = parsed.talk == cli::verbosity::quiet;
  const bool dry_run = parsed.dry_run;
  hybrid::job_outlets outlets;
  outlets.show_message = [quiet, dry_run](const std::string& text) {
    // The completion message is the result; everything else is a message.
    if (text != hybrid::text::completed) {
      std::fprintf(stderr, "%s\n", shown(text).c_str());
    } else if (!quiet) {
      print_result(dry_run ? hybrid::text::dry_run_done : shown(text));
    }
  };
  outlets.show_completion = [quiet](const hybrid::written_target& written) {
    if (!quiet) print_result(completion_line(written));
  };
  outlets.show_error = print_error;
  // The window's status line: the job's start and its share, worth a line
  // only to those who asked for everything; the idle text that follows
  // speaks to the window's user.
  outlets.set_status = [talk = parsed.talk](const std::string& text) {
    if (talk == cli::verbosity::verbose && text != hybrid::text::idle) {
      std::fprintf(stderr, "%s\n", shown(text).c_str());
    }
  };
  // The completion line says that blocks were shared; how many bytes, and
  // what that means for the disk, is for those who asked for everything.
  outlets.show_blocks_shared = [talk = parsed.talk](std::uint64_t bytes) {
    if (talk == cli::verbosity::verbose) {
      std::fprintf(stderr, "%s\n", hybrid::text::bytes_shared(bytes).c_str());
    }
  };
  outlets.ask = &ask;
  return outlets;
}

// A job, or --undo: the questions asked on the terminal when there is one.
int run_job(const cli::options& parsed, const hybrid::job_request& request) {
  const bool terminal = isatty(STDERR_FILENO) != 0;
  const bool interactive = terminal && isatty(STDIN_FILENO) != 0;
  const bool quiet = parsed.talk == cli::verbosity::quiet;
  cli::terminal_questions ask(parsed.answers, stdin, stderr, interactive, terminal && !quiet,
                              quiet);
  if (parsed.dry_run) ask.plan_to(stdout);
  const hybrid::job_outlets outlets = terminal_outlets(parsed, ask);
  const int done = parsed.what == cli::options::action::undo
                       ? hybrid::dispatch_undo(parsed.request.target_path, outlets)
                       : hybrid::dispatch_job(request, outlets);
  if (done == 1) return 0;
  // Stopped by a signal: the status says which, as a shell's would.
  const int stopped = cli::interrupt_exit_status();
  return stopped != 0 ? stopped : 1;
}

// Everything but --help and --version, with the devices in place.
int run_command(const cli::options& parsed, const cli::real_devices& real) {
  if (parsed.what == cli::options::action::list_devices) {
    std::fputs(cli::device_list_text(parsed.list_filter, real.reasons).c_str(), stdout);
    return 0;
  }
  hybrid::job_request request = parsed.request;
  std::string error;
  if (request.source == hybrid::source_kind::drive &&
      !name_the_device(request, parsed.talk, error)) {
    print_error(request.device_text, hybrid::text::device_path_refused(error));
    return 1;
  }
  if (parsed.what == cli::options::action::info) {
    cli::options described = parsed;
    described.request = request;
    return cli::run_info(described);
  }
  if (target_is_attached(parsed.request.target_path, parsed.attached)) {
    print_error(parsed.request.target_path, hybrid::text::target_is_attached_image);
    return 1;
  }
  return run_job(parsed, request);
}

int run_program(int argc, char** argv, bool& job) {
  // Past a file-size limit a write must fail and be undone, not kill us
  // halfway through an ISO image; a reader of our output that has gone
  // makes a write fail, which end_output tells, and does not end a job
  // that completed.
#ifdef SIGXFSZ
  std::signal(SIGXFSZ, SIG_IGN);
#endif
#ifdef SIGPIPE
  std::signal(SIGPIPE, SIG_IGN);
#endif
  std::string error;
  const auto parsed = cli::parse_options(std::vector<std::string>(argv + 1, argv + argc), error);
  if (!parsed) {
    std::fprintf(stderr, "%s\n", hybrid::text::usage_error(error).c_str());
    return 2;
  }
  if (parsed->what == cli::options::action::help) {
    std::fputs(cli::usage_text(), stdout);
    return 0;
  }
  if (parsed->what == cli::options::action::version) {
    std::printf("zelvorant-cli %s\n", ZELVORANT_VERSION);
    return 0;
  }
  // From here on an interrupt is a request to stop, not the end of the
  // program: before any file is opened, so that none comes too early to be
  // seen.
  cli::catch_interrupts();
  const settle_at_exit settle;
  // A device request left pending gives up at the interrupt, so the job
  // rolls back at once rather than after the request's time limit.
  platform::set_idle_hook([] { return !cli::interrupted(); });
  run_devices devices;
  if (!devices.attach(parsed->attached, error)) {
    std::fprintf(stderr, "%s\n",
                 hybrid::text::program_error(hybrid::text::attach_refused(shown(error))).c_str());
    return 2;
  }
  job = parsed->what == cli::options::action::run_job || parsed->what == cli::options::action::undo;
  return run_command(*parsed, devices.real);
}

}  // namespace

int main(int argc, char** argv) {
  // Started with stdout closed, the program would give its number to the
  // first file it opens, and print its result into the ISO image.
  platform::hold_standard_descriptors();
  bool job = false;
  const int status = run_program(argc, argv, job);
  return end_output(status, job);
}
