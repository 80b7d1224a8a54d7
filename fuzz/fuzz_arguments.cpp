// The headless front end's command line and the device specifiers, from the
// fuzz input: every input is either a request or a one-line reason.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "cli/options.h"
#include "fuzz_support.h"
#include "hybrid/device/device_source.h"
#include "scsi/device_state.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> args(1);
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] == 0) {
      args.emplace_back();
    } else {
      args.back() += static_cast<char>(data[i]);
    }
  }
  std::string error;
  const auto parsed = cli::parse_options(args, error);
  fuzz::check(parsed.has_value() || !error.empty(), "a refused command line without a reason");
  // One line of reason; a usage error about sources and targets then lists
  // the jobs, a line each.
  const std::string reason = error.substr(0, error.find("\nThe jobs are:"));
  fuzz::check(reason.find('\n') == std::string::npos, "a reason of more than one line");

  for (const std::string& arg : args) {
    const hybrid::device_specifier device = hybrid::parse_specifier(arg);
    const hybrid::specifier_form form = device.form;
    if (form == hybrid::specifier_form::disk || form == hybrid::specifier_form::cdrom) {
      fuzz::check(device.host.value_or(0) <= 9 && device.target.value_or(0) <= 9,
                  "a specifier digit out of range");
    }
    if (form == hybrid::specifier_form::unknown || form == hybrid::specifier_form::floppy) {
      fuzz::check(!hybrid::refuse_specifier(form, arg).empty(), "a refusal without a message");
    }
    (void)cli::device_kind_of(arg);
  }
  return 0;
}
