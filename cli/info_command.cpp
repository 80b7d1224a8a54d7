#include "cli/info_command.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "cli/image_report.h"
#include "hybrid/device/device_info.h"
#include "hybrid/image_info.h"
#include "hybrid/io/file_stream.h"
#include "hybrid/printable.h"

namespace cli {
namespace {

bool describe_file(const std::string& path, hybrid::image_info& info, std::string& why_not) {
  // A pipe would wait for a writer, and a folder has no bytes to describe.
  std::error_code not_known;
  const auto kind = std::filesystem::status(path, not_known).type();
  if (kind == std::filesystem::file_type::fifo) {
    why_not = "is a pipe, which --info does not read";
    return false;
  }
  if (kind == std::filesystem::file_type::directory) {
    why_not = "is a folder";
    return false;
  }
  hybrid::file_stream file(path, "rb");
  std::uint64_t length = 0;
  if (!file.is_open() || !file.length(length)) {
    why_not = std::string("cannot be opened: ") + std::strerror(errno);
    return false;
  }
  const hybrid::image_reader read = [&file](std::uint64_t offset, std::uint8_t* into,
                                            std::size_t count) {
    return file.seek(offset) && hybrid::read_exact(file, into, count);
  };
  if (!hybrid::describe_image(read, length, info)) {
    const std::string reason = file.error_text();
    why_not = "could not be read" +
              (reason.empty() ? std::string(" (it is shorter than it was)") : ": " + reason);
    return false;
  }
  return true;
}

}  // namespace

int run_info(const options& parsed) {
  hybrid::image_info info;
  std::string name;
  if (parsed.request.source == hybrid::source_kind::drive) {
    name = parsed.request.device_text;
    if (hybrid::refusal refused = hybrid::describe_device(name, info)) {
      std::fprintf(stderr, "zelvorant-cli: %s\nNothing was written to the device.\n",
                   hybrid::printable(refused.text(), hybrid::line_breaks::keep).c_str());
      return 1;
    }
  } else {
    name = parsed.info_path;
    std::string why_not;
    if (!describe_file(name, info, why_not)) {
      std::fprintf(stderr, "zelvorant-cli: %s %s. The file was not changed.\n",
                   hybrid::printable(name).c_str(), hybrid::printable(why_not).c_str());
      return 1;
    }
  }
  const std::string report = parsed.json ? info_json(info, name) : info_text(info, name);
  std::fputs(report.c_str(), stdout);
  return info.sound() ? 0 : 1;
}

}  // namespace cli
