#include "hybrid/messages.h"

#include <cstdio>

#include "hybrid/device/device_read.h"
#include "hybrid/printable.h"
#include "scsi/aspi_defs.h"

namespace hybrid::text {
namespace {

// A partition's name as the map holds it, between quotes: a line break in it
// would pass for one of the message's own.
std::string quoted(std::string_view name) { return "\"" + printable(name) + "\""; }

std::string device_name(bool cdrom, unsigned host, unsigned target) {
  return std::string(cdrom ? "the CD-ROM" : "the SCSI disk") + " at host adapter " +
         std::to_string(host) + ", target " + std::to_string(target);
}

}  // namespace

// ---- The Windows program

std::string unnamed_host(int host) {
  return "This device is on host adapter " + std::to_string(host) +
         ", but a device specifier can name host adapters 0 to 9 only.\n"
         "Nothing was chosen: choose a device on host adapter 0 to 9, or Cancel.";
}

// ---- The status line and the Start action

std::string working_share(std::uint64_t percent, std::uint64_t done_mb, std::uint64_t total_mb) {
  return std::string(working) + " " + std::to_string(percent) + "% (" + std::to_string(done_mb) +
         " of " + std::to_string(total_mb) + " MB)";
}

std::string error_opening(const std::string& path) { return "Error opening file " + path + "."; }

// ---- The jobs

std::string capacity_warning(std::uint64_t hfs_bytes, std::uint64_t iso_bytes) {
  return "The HFS file is " + std::to_string(hfs_bytes) + " bytes long.\nThe ISO file is " +
         std::to_string(iso_bytes) +
         " bytes long.\nTotal exceeds the maximum capacity of a CD-ROM.";
}

std::string iso_too_small(std::uint64_t iso_bytes) {
  return "This ISO image is only " + std::to_string(iso_bytes) +
         " bytes long: it cannot hold an ISO 9660 volume.\nAborting...";
}

std::string iso_not_a_file(const std::string& name, platform::file_kind kind) {
  const char* what = "not a regular file";
  switch (kind) {
    case platform::file_kind::directory:
      what = "a folder";
      break;
    case platform::file_kind::block_device:
      what = "a block device";
      break;
    case platform::file_kind::character_device:
      what = "a character device";
      break;
    case platform::file_kind::pipe:
      what = "a pipe";
      break;
    default:
      break;
  }
  return "The ISO image " + name + " is " + what +
         ", not a file: only an ISO image file can be made hybrid.\nNothing was written to it.";
}

const char* system_area_holding(bool pc_boot_record, bool gpt_header) {
  if (pc_boot_record && gpt_header) return "a PC boot record and a GPT partition table";
  if (pc_boot_record) return "a PC boot record";
  if (gpt_header) return "a GPT partition table";
  return "data of an unknown kind";
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
  if (tail.failed_step() == removed_tail::step::keep_file) {
    return tail_not_kept_in(iso.name(), tail.kept_name(), tail.scratch_refusal());
  }
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
  return message;
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

std::string undo_finished(std::uint64_t cut_at, std::uint64_t removed) {
  std::string text =
      "An earlier --undo of this image was interrupted after it had cleared the Apple partition "
      "map; this one finished it.\n";
  text += removed == 0 ? "The ISO image already ended at byte " + std::to_string(cut_at) +
                             ", where the earlier --undo had cut it,"
                       : "The ISO image was cut at byte " + std::to_string(cut_at) + " (" +
                             std::to_string(removed) + " bytes removed)";
  return text +
         " and its first 32,768 bytes were zeroed.\nWhatever stood there before the hybrid was "
         "made, such as a boot record, is not restored.";
}

std::string undo_bytes_after_data(std::uint64_t bytes) {
  return "The ISO image holds " + std::to_string(bytes) +
         " bytes after the end of the hybrid's last partition, which its Apple partition map does "
         "not account for: another program may have added them.\nUndoing the hybrid removes "
         "them too. Remove them and go on?";
}

std::string planned_hybrid_unsound(const std::vector<std::string>& problems) {
  std::string text = "The hybrid image would be faulty, as --info would report: ";
  for (std::size_t n = 0; n < problems.size(); ++n)
    text += (n ? "; " : "") + printable(problems[n]);
  return text + ".\nThe ISO image was left as it was.";
}

namespace {

std::string with_reason(const std::string& text, const std::string& reason) {
  return reason.empty() ? text : text + "\n" + reason + ".";
}

std::string left_by(const std::string& kept, const std::string& iso) {
  return "A run on " + iso +
         " that did not finish had removed the bytes after its ISO 9660 volume and kept them in " +
         kept + ".";
}

}  // namespace

std::string tail_not_kept_in(const std::string& iso, const std::string& kept,
                             const std::string& reason) {
  return with_reason(
      "The bytes after the ISO 9660 volume of " + iso + " could not be kept in " + kept + ".",
      reason);
}

std::string tail_kept_in(const std::string& kept, std::uint64_t from) {
  return "\nThe bytes that stood after its ISO 9660 volume, from byte " + std::to_string(from) +
         " on, are kept in " + kept + ".";
}

std::string tail_file_left(const std::string& kept, const std::string& reason) {
  return with_reason("The bytes removed after the ISO 9660 volume are no longer needed, but " +
                         kept + ", which kept them, could not be deleted.",
                     reason) +
         "\nYou may delete it.";
}

std::string tail_put_back(const std::string& kept, const std::string& iso, std::uint64_t count,
                          std::uint64_t from) {
  return left_by(kept, iso) + "\nThe " + std::to_string(count) + " bytes were put back from byte " +
         std::to_string(from) + " on, and that file was deleted.";
}

std::string tail_not_put_back(const std::string& kept, const std::string& iso, std::uint64_t from,
                              const std::string& reason) {
  return with_reason(left_by(kept, iso) + "\nThey could not be put back from byte " +
                         std::to_string(from) + " on.",
                     reason) +
         "\nThey are still in that file, and the image ends where that run cut it; the next "
         "run on the image puts them back.";
}

std::string tail_left_beside(const std::string& kept, const std::string& iso, std::uint64_t from,
                             const std::string& reason) {
  return left_by(kept, iso) + "\nThey were not put back (" + reason +
         "): they belong after the volume, from byte " + std::to_string(from) +
         " on.\nNothing was written. Put them back at that byte or delete that file, then run "
         "the job again.";
}

std::string tail_put_back_first(const std::string& kept, const std::string& iso,
                                std::uint64_t count) {
  return left_by(kept, iso) + "\nA run that writes puts the " + std::to_string(count) +
         " bytes back first; a dry run writes nothing.\nNothing was written.";
}

std::string bare_volume_incomplete(const std::string& name, std::uint64_t volume_bytes,
                                   std::uint64_t file_bytes) {
  return "The HFS volume in " + name + " is " + std::to_string(volume_bytes) +
         " bytes long, but the file is only " + std::to_string(file_bytes) +
         " bytes long: it is incomplete, or still being written.";
}

std::string map_past_file_end(const std::string& name, std::uint64_t map_end,
                              std::uint64_t file_blocks) {
  return "The partition map of " + name + " reaches block " + std::to_string(map_end) +
         ", but the file holds only " + std::to_string(file_blocks) +
         " blocks of 512 bytes: the volume cannot be copied whole.";
}

// ---- The device jobs

std::string cd_capacity_warning(std::uint64_t sectors) {
  return "The total length of the ISO image,\nafter adding the selected partition,\nwould be of " +
         std::to_string(sectors) + " sectors.\nThis exceeds the maximum capacity of a CD-ROM.";
}

std::string unknown_specifier(const std::string& specifier) {
  return "\"" + specifier +
         "\" names no device.\nName a SCSI disk as A<host adapter><target>0, a CD-ROM as "
         "C<host adapter><target>0, or a floppy drive as A: or B:.";
}

std::string no_floppy_drive(char letter) {
  return std::string("There is no floppy drive ") + letter + ":.\nChoose floppy drive A: or B:.";
}

std::string device_silent(bool cdrom, unsigned host, unsigned target) {
  std::string name = device_name(cdrom, host, target);
  name[0] = 'T';
  return name + " does not answer.\nAborting...";
}

std::string unsupported_block_size(std::uint32_t bytes) {
  return "This disk has blocks of " + std::to_string(bytes) +
         " bytes; only disks with 512-byte blocks can be read.\nAborting...";
}

std::string device_too_many_entries(int entries) {
  return "This disk holds " + std::to_string(entries) +
         " HFS partitions; a hybrid image has room for 62 at most.\nAborting...";
}

std::string map_past_device_end(bool cdrom, std::uint64_t map_end, std::uint64_t capacity) {
  const char* const medium = cdrom ? "CD-ROM" : "disk";
  return std::string("The partition map of this ") + medium + " reaches block " +
         std::to_string(map_end) + ", but the " + medium + " holds only " +
         std::to_string(capacity) + " blocks of 512 bytes: the volume cannot be copied whole.\n" +
         "Nothing was copied. Aborting...";
}

std::string device_read_failed(const device_failure& failure, unsigned host, unsigned target) {
  const bool cdrom = failure.place != device_failure::unit::disk_block;
  const bool sectors = failure.place == device_failure::unit::cd_sector;
  std::string what;
  if (failure.count > 1) {
    what = (sectors ? "Sectors " : "Blocks ") + std::to_string(failure.address) + " to " +
           std::to_string(std::uint64_t{failure.address} + failure.count - 1);
  } else {
    what = (sectors ? "Sector " : "Block ") + std::to_string(failure.address);
  }
  char status[8];
  std::snprintf(status, sizeof status, "%02X", static_cast<unsigned>(failure.status & 0xFF));
  // An aborted request is one the drive did not finish in time: it was
  // given up at once, not tried again.
  const char* const outcome = (failure.status & 0xFF) == scsi::SS_ABORTED
                                  ? " could not be read: the drive did not answer in time"
                                  : " could not be read";
  return what + " of " + device_name(cdrom, host, target) + outcome + " (ASPI status " + status +
         "h).";
}

// ---- The headless front end

std::string program_error(const std::string& reason) { return "zelvorant-cli: " + reason; }

std::string usage_error(const std::string& reason) {
  return program_error(reason) + "\nTry 'zelvorant-cli --help'.";
}

std::string unexpected_argument(const std::string& argument) {
  return "unexpected argument '" + argument + "': give paths with their options";
}

std::string unknown_option(const std::string& name) { return "unknown option '" + name + "'"; }

std::string takes_no_value(const std::string& name) { return name + " takes no value"; }

std::string needs_value(const std::string& name) { return name + " needs a value"; }

std::string attach_refused(const std::string& reason) { return "--attach: " + reason; }

std::string unlisted_device(const std::string& path) {
  return path + " is no SCSI device this system lists";
}

std::string device_past_host_nine(const std::string& path, unsigned host) {
  return path + " is on host adapter " + std::to_string(host) +
         "; a specifier names host adapters 0 to 9 only";
}

std::string device_off_host_adapter(const std::string& path, const std::string& kernel_address) {
  return path + " (" + kernel_address +
         ") is not reached through a host adapter: channel 0, target 0 to 7, LUN 0 only";
}

std::string device_path_refused(const std::string& reason) {
  return reason + "\nNothing was written.";
}

std::string device_path_names(const std::string& path, const std::string& specifier) {
  return path + " is " + specifier + ".";
}

std::string partition_name_refused(int matches, const std::string& name) {
  return std::string(matches == 0 ? "No" : "More than one") + " partition is named '" + name +
         "'; answered Cancel. Give its row number.";
}

std::string no_such_partition(int row) {
  return "There is no partition " + std::to_string(row) + "; answered Cancel.";
}

std::string partition_unanswered(int last_row) {
  return "Answered Cancel; --partition N (0 to " + std::to_string(last_row) +
         ") or --partition all would choose.";
}

std::string partition_prompt(int last_row) {
  return "Partition (0 to " + std::to_string(last_row) + "), all, or cancel? ";
}

std::string info_cannot_open(const std::string& reason) { return "cannot be opened: " + reason; }

std::string info_unreadable(const std::string& reason) {
  return "could not be read" +
         (reason.empty() ? std::string(" (it is shorter than it was)") : ": " + reason);
}

std::string info_file_refused(const std::string& name, const std::string& why_not) {
  return program_error(name + " " + why_not + ". The file was not changed.");
}

std::string info_device_refused(const std::string& reason) {
  return program_error(reason) + "\nNothing was written to the device.";
}

std::string output_lost(const std::string& reason) {
  return program_error("the standard output could not be written (" + reason +
                       "): what it was to show is lost.");
}

std::string grouped(std::uint64_t number) {
  std::string digits = std::to_string(number);
  for (std::size_t at = digits.size(); at > 3; at -= 3) digits.insert(at - 3, ",");
  return digits;
}

namespace {

// "; HFS volume "Demo Mac" at block 892", or the volumes in a row.
std::string volumes_text(const std::vector<volume_at>& volumes) {
  if (volumes.empty()) return "";
  std::string text = volumes.size() == 1 ? "; HFS volume " : "; HFS volumes ";
  for (std::size_t n = 0; n < volumes.size(); ++n) {
    if (n != 0) text += n + 1 == volumes.size() ? " and " : ", ";
    text += "\"" + volumes[n].name + "\" at block " + grouped(volumes[n].block);
  }
  return text;
}

}  // namespace

std::string completed_hybrid(const std::string& path, std::uint64_t bytes,
                             const std::vector<volume_at>& volumes, bool blocks_shared_too) {
  return path + " is now a Mac/PC hybrid: " + grouped(bytes) + " bytes" + volumes_text(volumes) +
         (blocks_shared_too ? std::string(" ") + blocks_shared : std::string()) + ".";
}

std::string completed_hfs_image(const std::string& path, std::uint64_t bytes,
                                const std::vector<volume_at>& volumes) {
  return path + " is now an HFS image: " + grouped(bytes) + " bytes" + volumes_text(volumes) + ".";
}

std::string completed_undo(const std::string& path, std::uint64_t bytes) {
  return path + " is a plain ISO image again: " + grouped(bytes) + " bytes.";
}

std::string file_error(const std::string& file, const std::string& reason) {
  return program_error(file + ": " + reason);
}

std::string not_opened(const std::string& reason) {
  std::string text = cannot_be_opened;
  if (!reason.empty()) text += " (" + reason + ")";
  return text + ".\nNothing was written.";
}

std::string jobs_that_work(const std::vector<std::string>& jobs) {
  std::string text = "The jobs are:";
  for (const std::string& job : jobs) text += "\n  zelvorant-cli " + job;
  return text;
}

std::string answered_ok_by(const std::string& option) { return "Answered OK (" + option + ")."; }

std::string answered_cancel_for(const std::string& option) {
  return "Answered Cancel; " + option + " or --yes would answer OK.";
}

std::string bytes_shared(std::uint64_t bytes) {
  return std::to_string(bytes) + " bytes of HFS data appended " + blocks_shared +
         ": they take no room of their own on the disk until the HFS file or the ISO image is "
         "rewritten there.";
}

std::string plan_may_share(std::uint64_t bytes) {
  return "Of these, " + std::to_string(bytes) + " bytes may be appended " + blocks_shared +
         ", if the file system allows it";
}

}  // namespace hybrid::text
