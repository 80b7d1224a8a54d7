#include "hybrid/floppy_image.h"

#include <cstdio>
#include <filesystem>
#include <system_error>
#include <utility>

#include "hybrid/apm/partition_map.h"
#include "hybrid/io/copy_stream.h"
#include "hybrid/io/file_stream.h"
#include "hybrid/messages.h"
#include "hybrid/refusal.h"

namespace hybrid {
namespace {

using platform::tool_run;

// The tool always writes the same file name into its current folder. A
// private folder of our own keeps it from overwriting or leaving behind a
// user's file of that name, and from racing a second copy of the program.
class scratch_folder {
 public:
  scratch_folder() = default;
  scratch_folder(const scratch_folder&) = delete;
  scratch_folder& operator=(const scratch_folder&) = delete;
  ~scratch_folder() {
    if (path_.empty()) return;
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  bool make(std::string& error) { return platform::make_private_folder(path_, error); }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// A half-written image would list a partition it does not hold; an empty one
// cannot be mistaken for a good one (and the dispatch does not let it take
// the target's place). The user hears about the HFS image when it had been
// written to.
job_outcome fail(byte_stream& hfs_image, std::string message, bool written = false) {
  if (hfs_image.truncate(0)) hfs_image.seek(0);
  if (written) return job_outcome::failed(std::move(message), files_state::hfs_image_not_written);
  return job_outcome::refused(std::move(message));
}

// Refused unless the tool ran to a good end.
refusal tool_failure(const tool_run& run, questions& ask) {
  switch (run.result) {
    case tool_run::outcome::could_not_start:
      return refusal::because(text::floppy_tool_not_started(run.error_text));
    case tool_run::outcome::killed:
      // An interrupt on the terminal reaches the tool too.
      return refusal::because(ask.stop_requested() ? std::string(text::stopped)
                                                   : text::floppy_tool_killed(run.exit_code));
    case tool_run::outcome::exited:
      break;
  }
  if (run.exit_code != 0) return refusal::because(text::floppy_tool_failed(run.exit_code));
  return accepted();
}

// Map, then the disk's bytes.
refusal write_image(byte_stream& disk, std::uint64_t bytes, byte_stream& hfs_image,
                    questions& ask) {
  using text::failed_operation;
  // A trailing part block is copied, but only whole blocks are in the map.
  const std::uint64_t blocks = bytes / block_bytes;
  if (blocks + map_area_blocks > UINT32_MAX) return refusal::because(text::image_too_large());
  if (!hfs_image.truncate(0))
    return refusal::because(text::io_failure(failed_operation::write, hfs_image));
  if (!hfs_image.seek(0))
    return refusal::because(text::io_failure(failed_operation::seek, hfs_image));
  if (!write_partition_map(hfs_image, static_cast<std::uint32_t>(blocks + map_area_blocks),
                           map_area_blocks, static_cast<std::uint32_t>(blocks))) {
    return refusal::because(text::io_failure(failed_operation::write, hfs_image));
  }
  copy_buffer buffer;
  ask.copy_started(bytes);
  const copy_result copied = copy_stream(disk, hfs_image, bytes, buffer, &ask);
  ask.copy_ended();
  switch (copied) {
    case copy_result::ok:
      break;
    case copy_result::source_ended:
      return refusal::because(text::ended_early(disk));
    case copy_result::source_failed:
      return refusal::because(text::io_failure(failed_operation::read, disk));
    case copy_result::destination_failed:
      return refusal::because(text::io_failure(failed_operation::write, hfs_image));
    case copy_result::stopped:
      return refusal::because(text::stopped);
  }
  if (!hfs_image.flush())
    return refusal::because(text::io_failure(failed_operation::flush, hfs_image));
  return accepted();
}

}  // namespace

std::string floppy_command_line(std::uint8_t drive_index) {
  char line[80];
  std::snprintf(line, sizeof line, "dskgrab.exe /%c: /F%s /O512 /P80 /S18 /T2  /R /1 00001 79118",
                'A' + drive_index, floppy_temp_file_name);
  return line;
}

job_outcome extract_floppy(std::uint8_t drive_index, byte_stream& hfs_image, questions& ask) {
  return extract_floppy(drive_index, hfs_image, ask, platform::default_tool_places());
}

job_outcome extract_floppy(std::uint8_t drive_index, byte_stream& hfs_image, questions& ask,
                           const platform::tool_places& tool_places) {
  if (drive_index > 1) {
    const char letter = drive_index < 26 ? static_cast<char>('A' + drive_index) : '?';
    return fail(hfs_image, text::no_floppy_drive(letter));
  }
  scratch_folder folder;
  std::string error;
  if (!folder.make(error)) return fail(hfs_image, text::floppy_no_scratch_folder(error));

  const tool_run run =
      platform::run_tool(floppy_command_line(drive_index), folder.path(), tool_places);
  if (refusal why = tool_failure(run, ask)) return fail(hfs_image, why.text());
  // Declared after the folder, so the file is closed before the folder goes.
  file_stream disk(folder.path() + "/" + floppy_temp_file_name, "rb");
  if (!disk.is_open()) return fail(hfs_image, text::floppy_no_image);
  std::uint64_t bytes = 0;
  if (!disk.length(bytes)) {
    return fail(hfs_image, text::io_failure(text::failed_operation::length, disk));
  }
  if (bytes == 0) return fail(hfs_image, text::floppy_image_empty);
  if (refusal why = write_image(disk, bytes, hfs_image, ask)) {
    return fail(hfs_image, why.text(), true);
  }
  return job_outcome::completed();
}

}  // namespace hybrid
