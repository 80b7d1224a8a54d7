#include "hybrid/messages.h"

#include "hybrid/printable.h"

namespace hybrid::text {
namespace {

// A partition's name as the map holds it, between quotes: a line break in it
// would pass for one of the message's own.
std::string quoted(std::string_view name) { return "\"" + printable(name) + "\""; }

}  // namespace

std::string capacity_warning(std::uint64_t hfs_bytes, std::uint64_t iso_bytes) {
  return "The HFS file is " + std::to_string(hfs_bytes) + " bytes long.\nThe ISO file is " +
         std::to_string(iso_bytes) +
         " bytes long.\nTotal exceeds the maximum capacity of a CD-ROM.";
}

std::string iso_too_small(std::uint64_t iso_bytes) {
  return "This ISO image is only " + std::to_string(iso_bytes) +
         " bytes long: it cannot hold an ISO 9660 volume.\nAborting...";
}

std::string iso_not_a_file(const std::string& name, const char* kind) {
  return "The ISO image " + name + " is " + kind +
         ", not a file: only an ISO image file can be made hybrid.\nNothing was written to it.";
}

std::string system_area_in_use(const char* what, bool looks_like_iso9660) {
  std::string text = "The first 32,768 bytes of the ISO image hold " + std::string(what) + ".\n";
  if (!looks_like_iso9660) text += "The file does not look like an ISO 9660 image.\n";
  return text + "Those bytes will be overwritten by the Macintosh partition map.\nGo on?";
}

std::string bytes_after_volume(std::uint64_t bytes) {
  return "The ISO image holds " + std::to_string(bytes) +
         " bytes after its ISO 9660 volume, perhaps left by an interrupted run.\nRemove them and "
         "go on?";
}

std::string bare_volume_past_end(const std::string& name, std::uint64_t volume_bytes,
                                 std::uint64_t hfs_bytes) {
  return "The HFS volume in " + name + " is " + std::to_string(volume_bytes) +
         " bytes long, but the file is only " + std::to_string(hfs_bytes) +
         " bytes long: it is incomplete, or still being written.\nThe ISO image was left as it "
         "was.";
}

std::string tail_not_kept(const removed_tail& tail, const byte_stream& iso) {
  const byte_stream* failed = tail.failed_stream();
  if (failed == nullptr) {
    std::string text = "No temporary file could be made beside " + iso.name() +
                       " to keep the bytes after its ISO 9660 volume.";
    if (!tail.scratch_refusal().empty()) text += "\n" + tail.scratch_refusal() + ".";
    return text;
  }
  switch (tail.failed_step()) {
    case removed_tail::step::measure:
      return io_failure(failed_operation::length, *failed);
    case removed_tail::step::seek:
      return io_failure(failed_operation::seek, *failed);
    case removed_tail::step::read:
      return io_failure(failed_operation::read, *failed);
    default:
      return io_failure(failed_operation::write, *failed);
  }
}

std::string partition_past_end(const char* name, std::uint64_t last_byte, std::uint64_t hfs_bytes) {
  return "The HFS partition " + quoted(name) + " ends at byte " + std::to_string(last_byte) +
         ", but the HFS file is only " + std::to_string(hfs_bytes) + " bytes long.\nAborting...";
}

std::string chosen_partition_empty(const char* name) {
  return "The partition " + quoted(name) + " holds no blocks.\nAborting...";
}

std::string too_many_entries(int entries) {
  return "The HFS file holds " + std::to_string(entries) +
         " HFS partitions; a hybrid image has room for 62 at most.\nAborting...";
}

std::string image_too_large() {
  return "The hybrid image would be larger than an Apple partition map can describe "
         "(2 TiB).\nAborting...";
}

std::string io_failure(failed_operation operation, const byte_stream& stream) {
  const char* verb = "reading";
  switch (operation) {
    case failed_operation::read:
      verb = "reading";
      break;
    case failed_operation::write:
      verb = "writing";
      break;
    case failed_operation::seek:
      verb = "seeking in";
      break;
    case failed_operation::flush:
      verb = "writing";
      break;
    case failed_operation::length:
      verb = "measuring";
      break;
  }
  std::string message = std::string("Error ") + verb + " file " + stream.name() + ".";
  const std::string reason = stream.error_text();
  if (!reason.empty()) message += "\n" + reason + ".";
  return message;
}

std::string ended_early(const byte_stream& stream) {
  return "Error reading file " + stream.name() +
         ".\nThe file ended before the data it should hold.";
}

std::string iso_restored_suffix(bool restored) {
  return restored ? "\nThe ISO image was left as it was."
                  : "\nThe ISO image could not be put back as it was: it may be damaged.";
}

std::string hfs_image_not_replaced(const std::string& path, const std::string& reason) {
  std::string message = "Error writing file " + path + ".";
  if (!reason.empty()) message += "\n" + reason + ".";
  return message + hfs_image_kept_suffix;
}

std::string floppy_no_scratch_folder(const std::string& reason) {
  return "No temporary folder could be made for the floppy disk image.\n" + reason;
}

std::string floppy_tool_not_started(const std::string& reason) {
  return "The floppy imaging tool dskgrab could not be started.\n" + reason;
}

std::string floppy_tool_failed(int exit_code) {
  return "The floppy imaging tool ended with an error (exit code " + std::to_string(exit_code) +
         ").";
}

std::string floppy_tool_killed(int signal_number) {
  return "The floppy imaging tool was ended by signal " + std::to_string(signal_number) +
         " before it finished.";
}

std::string undo_bad_count(std::uint32_t entries) {
  return "The Apple partition map says it has " + std::to_string(entries) +
         " entries, which its blocks do not hold.\nThe image was left as it was.";
}

std::string undo_entry_inside_volume(const std::string& name, std::uint32_t first,
                                     std::uint32_t count, std::uint64_t volume_blocks) {
  return "The partition " + quoted(name) + " (" + std::to_string(count) + " blocks from block " +
         std::to_string(first) + ") lies inside the ISO 9660 volume, which ends at block " +
         std::to_string(volume_blocks) +
         ": its data are not behind the ISO data, and cutting them off would damage the "
         "volume.\nThe image was left as it was.";
}

std::string undo_entry_past_end(const std::string& name, std::uint32_t first,
                                std::uint64_t file_blocks) {
  return "The partition " + quoted(name) + " begins at block " + std::to_string(first) +
         ", past the end of the file (" + std::to_string(file_blocks) +
         " blocks).\nThe image was left as it was.";
}

std::string undo_done(std::uint64_t cut_at, std::uint64_t removed) {
  return "The ISO image was cut at byte " + std::to_string(cut_at) + " (" +
         std::to_string(removed) +
         " bytes removed) and its first 32,768 bytes were zeroed.\nWhatever stood there before "
         "the hybrid was made, such as a boot record, is not restored.";
}

}  // namespace hybrid::text
