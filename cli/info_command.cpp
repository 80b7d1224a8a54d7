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
#include "hybrid/messages.h"
#include "hybrid/printable.h"

namespace cli {
namespace {

bool describe_file(const std::string& path, hybrid::image_info& info, std::string& why_not) {
  // A pipe would wait for a writer, and a folder has no bytes to describe.
  std::error_code not_known;
  const auto kind = std::filesystem::status(path, not_known).type();
  if (kind == std::filesystem::file_type::fifo) {
    why_not = hybrid::text::info_pipe;
    return false;
  }
  if (kind == std::filesystem::file_type::directory) {
    why_not = hybrid::text::info_folder;
    return false;
  }
  hybrid::file_stream file(path, "rb");
  std::uint64_t length = 0;
  if (!file.is_open() || !file.length(length)) {
    why_not = hybrid::text::info_cannot_open(std::strerror(errno));
    return false;
  }
  const hybrid::image_reader read = [&file](std::uint64_t offset, std::uint8_t* into,
                                            std::size_t count) {
    return file.seek(offset) && hybrid::read_exact(file, into, count);
  };
  if (!hybrid::describe_image(read, length, info)) {
    why_not = hybrid::text::info_unreadable(file.error_text());
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
      std::fprintf(stderr, "%s\n",
                   hybrid::text::info_device_refused(
                       hybrid::printable(refused.text(), hybrid::line_breaks::keep))
                       .c_str());
      return 1;
    }
  } else {
    name = parsed.info_path;
    std::string why_not;
    if (!describe_file(name, info, why_not)) {
      std::fprintf(
          stderr, "%s\n",
          hybrid::text::info_file_refused(hybrid::printable(name), hybrid::printable(why_not))
              .c_str());
      return 1;
    }
  }
  const std::string report = parsed.json ? info_json(info, name) : info_text(info, name);
  std::fputs(report.c_str(), stdout);
  return info.sound() ? 0 : 1;
}

}  // namespace cli
