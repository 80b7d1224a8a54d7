// The catalogue, word for word. Users know the program by these texts and
// the other tests name them through the catalogue, so this is the one place
// where a changed letter shows. Texts with values are given sample values.
#include "hybrid/messages.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "hybrid/device/device_read.h"
#include "hybrid/io/memory_stream.h"
#include "hybrid/io/removed_tail.h"
#include "test_support.h"

namespace {

namespace text = hybrid::text;

struct message_row {
  std::string value;  // from the catalogue
  std::string exact;  // as the user reads it
};

void expect_word_for_word(const std::vector<message_row>& rows) {
  for (std::size_t n = 0; n < rows.size(); ++n) {
    SCOPED_TRACE("row " + std::to_string(n));
    EXPECT_EQ(rows[n].value, rows[n].exact);
  }
}

// A chooser's filter, with the zeros between its parts and at its end.
template <std::size_t bytes>
std::string whole(const char (&filter)[bytes]) {
  return std::string(filter, bytes);
}

// A file by its name, with the reason the system gave for its last failure;
// no scratch file can be made beside it.
class named_file final : public hybrid::memory_stream {
 public:
  named_file(std::string name, std::string reason)
      : memory_stream(std::move(name), std::vector<std::uint8_t>(64)), reason_(std::move(reason)) {}
  std::string error_text() const override { return reason_; }
  std::unique_ptr<hybrid::byte_stream> open_scratch(std::string& why_not) override {
    why_not = scratch_refusal;
    return nullptr;
  }
  std::string scratch_refusal;

 private:
  std::string reason_;
};

// What tail_not_kept says once the bytes after the volume could not be kept.
std::string tail_refusal(hybrid::byte_stream& iso) {
  hybrid::removed_tail tail(iso);
  EXPECT_FALSE(tail.remove(8));
  return text::tail_not_kept(tail, iso);
}

hybrid::device_failure failed_read(hybrid::device_failure::unit place, std::uint32_t address,
                                   std::uint32_t count, int status) {
  return {hybrid::device_failure::what::read, place, address, count, status};
}

TEST(Messages, TheWindowsProgram) {
  expect_word_for_word({
      {text::program_title, "Zelvorant - v. 0.9 - beta, free to use, no warranty"},
      {text::help_text,
       "Zelvorant makes Mac/PC hybrid CD-ROM images.\nQuestions, bug reports and ideas are "
       "welcome:\nwrite to the Zelvorant team at zelvorant@example.org\nor open an issue in the "
       "project's tracker.\nPlease name the version shown in the title bar.\n\nHelp functions are "
       "not yet implemented\n(for this beta version)."},
      {whole(text::hfs_filter), whole("HFS Image files [*.hfs]\0*.hfs\0All files (*.*)\0*.*\0")},
      {whole(text::iso_filter), whole("ISO Image files [*.iso]\0*.iso\0All files (*.*)\0*.*\0")},
      {text::open_file_title, "Open A File"},
      {text::save_file_title, "Save A File"},
      {text::stop_question_iso, "Stop the job?\n\nThe ISO image is left as it was."},
      {text::stop_question_hfs,
       "Stop the job?\n\nNo HFS image file is written; a file already at its path is left as it "
       "was."},
      {text::shutdown_reason_iso,
       "A hybrid image is being written. If Windows ends the program now, the ISO image is put "
       "back as it was."},
      {text::shutdown_reason_hfs,
       "An HFS image file is being written. If Windows ends the program now, no HFS image file "
       "is written."},
      {text::no_partition_chosen, "You didn't specify the partition to work with."},
      {text::no_host_adapter,
       "No SCSI host adapter was found, so there is no device to choose.\nThe device box was "
       "left as it was."},
      {text::unnamed_host(12),
       "This device is on host adapter 12, but a device specifier can name host adapters 0 to 9 "
       "only.\nNothing was chosen: choose a device on host adapter 0 to 9, or Cancel."},
  });
}

TEST(Messages, TheStatusLineAndTheStartAction) {
  expect_word_for_word({
      {text::idle, "Select origin and destination of the HFS data..."},
      {text::working, "Working, please wait..."},
      {text::working_share(42, 312, 600), "Working, please wait... 42% (312 of 600 MB)"},
      {text::completed, "Requested operation completed...\nPlease continue."},
      {text::incoherent, "Your selection is not coherent (copying an HFS image to another one)."},
      {text::no_file, "You didn't specify a file to open."},
      {text::no_drive, "You didn't specify the drive holding the HFS volume."},
      {text::job_under_way, "A job is already under way.\nPlease wait until it has ended."},
      {text::same_file,
       "The HFS image and the ISO image are the same file.\nPlease choose two different files."},
      {text::error_opening("cd.iso"), "Error opening file cd.iso."},
      {text::not_a_regular_file, "Not a regular file"},
  });
}

TEST(Messages, TheJobs) {
  expect_word_for_word({
      {text::already_hybrid, "This ISO image is already a Macintosh hybrid image.\nAborting..."},
      {text::no_hfs_partition, "This file holds no HFS partition."},
      {text::stopped, "The job was stopped before it ended."},
      {text::iso_in_use, "The ISO image is in use by another program.\nAborting..."},
      {text::hfs_image_in_use, "The HFS image is in use by another program.\nAborting..."},
      {text::hfs_image_kept_suffix,
       "\nThe HFS image was not written; a file already at its path was left as it was."},
      {text::iso_changed_length,
       "The ISO image changed its length while the job was being prepared: another program "
       "writes to it.\nNothing was written to it."},
      {text::floppy_no_image, "The floppy imaging tool left no image of the floppy disk."},
      {text::floppy_image_empty, "The floppy disk image is empty."},
      {text::source_changed, "The HFS file changed while it was being copied."},
      {text::capacity_warning(734003200, 2048),
       "The HFS file is 734003200 bytes long.\nThe ISO file is 2048 bytes long.\nTotal exceeds "
       "the maximum capacity of a CD-ROM."},
      {text::iso_too_small(2048),
       "This ISO image is only 2048 bytes long: it cannot hold an ISO 9660 volume.\nAborting..."},
      {text::iso_not_a_file("/dev/null", platform::file_kind::character_device),
       "The ISO image /dev/null is a character device, not a file: only an ISO image file can be "
       "made hybrid.\nNothing was written to it."},
      {text::iso_not_a_file("cd", platform::file_kind::directory),
       "The ISO image cd is a folder, not a file: only an ISO image file can be made "
       "hybrid.\nNothing was written to it."},
      {text::iso_not_a_file("sr0", platform::file_kind::block_device),
       "The ISO image sr0 is a block device, not a file: only an ISO image file can be made "
       "hybrid.\nNothing was written to it."},
      {text::iso_not_a_file("fifo", platform::file_kind::pipe),
       "The ISO image fifo is a pipe, not a file: only an ISO image file can be made "
       "hybrid.\nNothing was written to it."},
      {text::iso_not_a_file("odd", platform::file_kind::other),
       "The ISO image odd is not a regular file, not a file: only an ISO image file can be made "
       "hybrid.\nNothing was written to it."},
      {text::system_area_holding(true, true), "a PC boot record and a GPT partition table"},
      {text::system_area_holding(true, false), "a PC boot record"},
      {text::system_area_holding(false, true), "a GPT partition table"},
      {text::system_area_holding(false, false), "data of an unknown kind"},
      {text::system_area_in_use("a PC boot record", true),
       "The first 32,768 bytes of the ISO image hold a PC boot record.\nThose bytes will be "
       "overwritten by the Macintosh partition map.\nGo on?"},
      {text::system_area_in_use("data of an unknown kind", false),
       "The first 32,768 bytes of the ISO image hold data of an unknown kind.\nThe file does not "
       "look like an ISO 9660 image.\nThose bytes will be overwritten by the Macintosh partition "
       "map.\nGo on?"},
      {text::bytes_after_volume(5000),
       "The ISO image holds 5000 bytes after its ISO 9660 volume, perhaps left by an interrupted "
       "run.\nRemove them and go on?"},
      {text::bare_volume_past_end("hfs.img", 20992, 20480),
       "The HFS volume in hfs.img is 20992 bytes long, but the file is only 20480 bytes long: it "
       "is incomplete, or still being written.\nThe ISO image was left as it was."},
      {text::partition_past_end("Two\n", 83968, 76800),
       "The HFS partition \"Two?\" ends at byte 83968, but the HFS file is only 76800 bytes "
       "long.\nAborting..."},
      {text::chosen_partition_empty("Empty"),
       "The partition \"Empty\" holds no blocks.\nAborting..."},
      {text::too_many_entries(63),
       "The HFS file holds 63 HFS partitions; a hybrid image has room for 62 at "
       "most.\nAborting..."},
      {text::image_too_large(),
       "The hybrid image would be larger than an Apple partition map can describe (2 "
       "TiB).\nAborting..."},
      {text::iso_restored_suffix(true), "\nThe ISO image was left as it was."},
      {text::iso_restored_suffix(false),
       "\nThe ISO image could not be put back as it was: it may be damaged."},
      // A failure as it is shown: with what became of the files.
      {text::hfs_image_not_replaced("out.img", "Access denied") + text::hfs_image_kept_suffix,
       "Error writing file out.img.\nAccess denied.\nThe HFS image was not written; a file "
       "already at its path was left as it was."},
      {text::hfs_image_not_replaced("out.img", "") + text::hfs_image_kept_suffix,
       "Error writing file out.img.\nThe HFS image was not written; a file already at its path "
       "was left as it was."},
      {text::floppy_no_scratch_folder("No room."),
       "No temporary folder could be made for the floppy disk image.\nNo room."},
      {text::floppy_tool_not_started("Not found."),
       "The floppy imaging tool dskgrab could not be started.\nNot found."},
      {text::floppy_tool_failed(3), "The floppy imaging tool ended with an error (exit code 3)."},
      {text::floppy_tool_killed(9),
       "The floppy imaging tool was ended by signal 9 before it finished."},
      {text::planned_hybrid_unsound({"entry 3 (\"B\x07\", Apple_HFS) holds no volume"}),
       "The hybrid image would be faulty, as --info would report: entry 3 (\"B?\", Apple_HFS) "
       "holds no volume.\nThe ISO image was left as it was."},
      {text::planned_hybrid_unsound({"one", "two"}),
       "The hybrid image would be faulty, as --info would report: one; two.\nThe ISO image was "
       "left as it was."},
      {text::tail_not_kept_in("cd.iso", "cd.iso.removed-40960-1a2b3c4d", "Disk full"),
       "The bytes after the ISO 9660 volume of cd.iso could not be kept in "
       "cd.iso.removed-40960-1a2b3c4d.\nDisk full."},
      {text::tail_not_kept_in("cd.iso", "cd.iso.removed-40960-1a2b3c4d", ""),
       "The bytes after the ISO 9660 volume of cd.iso could not be kept in "
       "cd.iso.removed-40960-1a2b3c4d."},
      {text::io_failure(text::failed_operation::write, hybrid::memory_stream("cd.iso")) +
           text::tail_kept_in("cd.iso.removed-40960-1a2b3c4d", 40960) +
           text::iso_restored_suffix(false),
       "Error writing file cd.iso.\nThe bytes that stood after its ISO 9660 volume, from byte "
       "40960 on, are kept in cd.iso.removed-40960-1a2b3c4d.\nThe ISO image could not be put back "
       "as it was: it may be damaged."},
      {text::tail_file_left("cd.iso.removed-40960-1a2b3c4d", "Permission denied"),
       "The bytes removed after the ISO 9660 volume are no longer needed, but "
       "cd.iso.removed-40960-1a2b3c4d, which kept them, could not be deleted.\nPermission "
       "denied.\nYou may delete it."},
      {text::tail_put_back("cd.iso.removed-40960-1a2b3c4d", "cd.iso", 5000, 40960),
       "A run on cd.iso that did not finish had removed the bytes after its ISO 9660 volume and "
       "kept them in cd.iso.removed-40960-1a2b3c4d.\nThe 5000 bytes were put back from byte "
       "40960 on, and that file was deleted."},
      {text::tail_not_put_back("cd.iso.removed-40960-1a2b3c4d", "cd.iso", 40960, "Disk full"),
       "A run on cd.iso that did not finish had removed the bytes after its ISO 9660 volume and "
       "kept them in cd.iso.removed-40960-1a2b3c4d.\nThey could not be put back from byte 40960 "
       "on.\nDisk full.\nThey are still in that file, and the image ends where that run cut it; "
       "the next run on the image puts them back."},
      {text::tail_left_beside("cd.iso.removed-40960-1a2b3c4d", "cd.iso", 40960,
                              text::tail_image_changed),
       "A run on cd.iso that did not finish had removed the bytes after its ISO 9660 volume and "
       "kept them in cd.iso.removed-40960-1a2b3c4d.\nThey were not put back (the image is not "
       "as that run left it): they belong after the volume, from byte 40960 on.\nNothing was "
       "written. Put them back at that byte or delete that file, then run the job again."},
      {text::tail_put_back_first("cd.iso.removed-40960-1a2b3c4d", "cd.iso", 5000),
       "A run on cd.iso that did not finish had removed the bytes after its ISO 9660 volume and "
       "kept them in cd.iso.removed-40960-1a2b3c4d.\nA run that writes puts the 5000 bytes "
       "back first; a dry run writes nothing.\nNothing was written."},
      {text::source_is_hfs_target,
       "The source image and the HFS image to write are the same file.\nPlease choose two "
       "different files."},
      {text::bare_volume_incomplete("disk.img", 819200, 409600),
       "The HFS volume in disk.img is 819200 bytes long, but the file is only 409600 bytes "
       "long: it is incomplete, or still being written."},
      {text::map_past_file_end("disk.img", 364, 240),
       "The partition map of disk.img reaches block 364, but the file holds only 240 blocks of "
       "512 bytes: the volume cannot be copied whole."},
  });
}

TEST(Messages, Undo) {
  expect_word_for_word({
      {text::undo_not_hybrid,
       "This ISO image is no Macintosh hybrid image: it has no Apple partition map.\nIt was left "
       "as it was."},
      {text::undo_no_volume,
       "This image holds no ISO 9660 volume descriptor that can be believed, so where the "
       "hybrid's data begin is not known.\nIt was left as it was."},
      {text::undo_no_data,
       "The Apple partition map points at no data behind the ISO 9660 volume.\nIt was left as it "
       "was."},
      {text::undo_system_area_data,
       "The first 32,768 bytes hold data besides the Apple partition map (a boot record or "
       "another program's data). Undoing the hybrid zeroes them, and they cannot be brought "
       "back."},
      {text::undo_bad_count(70),
       "The Apple partition map says it has 70 entries, which its blocks do not hold.\nThe image "
       "was left as it was."},
      {text::undo_entry_inside_volume("Dos", 100, 20, 150),
       "The partition \"Dos\" (20 blocks from block 100) lies inside the ISO 9660 volume, which "
       "ends at block 150: its data are not behind the ISO data, and cutting them off would "
       "damage the volume.\nThe image was left as it was."},
      {text::undo_entry_past_end("Dos", 900, 800),
       "The partition \"Dos\" begins at block 900, past the end of the file (800 blocks).\nThe "
       "image was left as it was."},
      {text::undo_done(1048576, 4096),
       "The ISO image was cut at byte 1048576 (4096 bytes removed) and its first 32,768 bytes "
       "were zeroed.\nWhatever stood there before the hybrid was made, such as a boot record, is "
       "not restored."},
      {text::undo_finished(1048576, 4096),
       "An earlier --undo of this image was interrupted after it had cleared the Apple partition "
       "map; this one finished it.\nThe ISO image was cut at byte 1048576 (4096 bytes removed) "
       "and its first 32,768 bytes were zeroed.\nWhatever stood there before the hybrid was "
       "made, such as a boot record, is not restored."},
      {text::undo_finished(1048576, 0),
       "An earlier --undo of this image was interrupted after it had cleared the Apple partition "
       "map; this one finished it.\nThe ISO image already ended at byte 1048576, where the "
       "earlier --undo had cut it, and its first 32,768 bytes were zeroed.\nWhatever stood there "
       "before the hybrid was made, such as a boot record, is not restored."},
      {text::undo_bytes_after_data(1048576),
       "The ISO image holds 1048576 bytes after the end of the hybrid's last partition, which its "
       "Apple partition map does not account for: another program may have added them.\nUndoing "
       "the hybrid removes them too. Remove them and go on?"},
  });
}

TEST(Messages, FileFailuresNameTheFileTheStepAndTheReason) {
  using op = text::failed_operation;
  named_file iso("cd.iso", "Disk full");
  named_file quiet("cd.iso", "");
  named_file refusing("cd.iso", "");
  refusing.scratch_refusal = "Read-only file system";
  test::failing_stream unmeasured("cd.iso");
  unmeasured.fail_at = 1;
  expect_word_for_word({
      {text::io_failure(op::read, iso), "Error reading file cd.iso.\nDisk full."},
      {text::io_failure(op::write, iso), "Error writing file cd.iso.\nDisk full."},
      {text::io_failure(op::seek, iso), "Error seeking in file cd.iso.\nDisk full."},
      {text::io_failure(op::flush, iso), "Error writing file cd.iso.\nDisk full."},
      {text::io_failure(op::length, iso), "Error measuring file cd.iso.\nDisk full."},
      {text::io_failure(op::read, quiet), "Error reading file cd.iso."},
      {text::ended_early(quiet),
       "Error reading file cd.iso.\nThe file ended before the data it should hold."},
      {tail_refusal(quiet),
       "No temporary file could be made beside cd.iso to keep the bytes after its ISO 9660 "
       "volume."},
      {tail_refusal(refusing),
       "No temporary file could be made beside cd.iso to keep the bytes after its ISO 9660 "
       "volume.\nRead-only file system."},
      {tail_refusal(unmeasured), "Error measuring file cd.iso.\nInjected failure."},
  });
}

TEST(Messages, TheDeviceJobs) {
  using unit = hybrid::device_failure::unit;
  expect_word_for_word({
      {text::not_mac_volume, "This disk is not a Macintosh HFS volume."},
      {text::floppy_not_direct,
       "32-bit Version\nYou have to first make an HFS image of the floppy disk.\nWe can't read "
       "directly from the floppy."},
      {text::disk_holds_no_hfs, "This disk holds no HFS partition."},
      {text::no_volume_block_count,
       "The disk's Driver Descriptor gives no block count, so the whole volume cannot be "
       "copied.\nAborting..."},
      {text::cd_capacity_warning(1250001),
       "The total length of the ISO image,\nafter adding the selected partition,\nwould be of "
       "1250001 sectors.\nThis exceeds the maximum capacity of a CD-ROM."},
      {text::unknown_specifier("X99"),
       "\"X99\" names no device.\nName a SCSI disk as A<host adapter><target>0, a CD-ROM as "
       "C<host adapter><target>0, or a floppy drive as A: or B:."},
      {text::no_floppy_drive('E'), "There is no floppy drive E:.\nChoose floppy drive A: or B:."},
      {text::device_silent(false, 0, 5),
       "The SCSI disk at host adapter 0, target 5 does not answer.\nAborting..."},
      {text::device_silent(true, 1, 3),
       "The CD-ROM at host adapter 1, target 3 does not answer.\nAborting..."},
      {text::unsupported_block_size(2048),
       "This disk has blocks of 2048 bytes; only disks with 512-byte blocks can be "
       "read.\nAborting..."},
      {text::device_too_many_entries(63),
       "This disk holds 63 HFS partitions; a hybrid image has room for 62 at most.\nAborting..."},
      {text::map_past_device_end(false, 4000, 3000),
       "The partition map of this disk reaches block 4000, but the disk holds only 3000 blocks "
       "of 512 bytes: the volume cannot be copied whole.\nNothing was copied. Aborting..."},
      {text::map_past_device_end(true, 4000, 3000),
       "The partition map of this CD-ROM reaches block 4000, but the CD-ROM holds only 3000 "
       "blocks of 512 bytes: the volume cannot be copied whole.\nNothing was copied. "
       "Aborting..."},
      {text::device_read_failed(failed_read(unit::disk_block, 7, 1, 4), 1, 5),
       "Block 7 of the SCSI disk at host adapter 1, target 5 could not be read (ASPI status "
       "04h)."},
      {text::device_read_failed(failed_read(unit::cd_sector, 16, 25, 2), 0, 3),
       "Sectors 16 to 40 of the CD-ROM at host adapter 0, target 3 could not be read: the drive "
       "did not answer in time (ASPI status 02h)."},
      {text::device_read_failed(failed_read(unit::cd_block, 174, 2, 0x104), 0, 3),
       "Blocks 174 to 175 of the CD-ROM at host adapter 0, target 3 could not be read (ASPI "
       "status 04h)."},
      // The range's end is worked out in 64 bits: in 32 it came out as
      // "Blocks 4294967280 to 15".
      {text::device_read_failed(failed_read(unit::disk_block, 4294967280u, 32, 4), 1, 2),
       "Blocks 4294967280 to 4294967311 of the SCSI disk at host adapter 1, target 2 could not be "
       "read (ASPI status 04h)."},
      {text::device_read_failed(failed_read(unit::cd_block, 4294967295u, 4294967295u, 4), 1, 2),
       "Blocks 4294967295 to 8589934589 of the CD-ROM at host adapter 1, target 2 could not be "
       "read (ASPI status 04h)."},
  });
}

TEST(Messages, TheCommandLine) {
  expect_word_for_word({
      {text::program_error("--attach: no file"), "zelvorant-cli: --attach: no file"},
      {text::usage_error("--yes takes no value"),
       "zelvorant-cli: --yes takes no value\nTry 'zelvorant-cli --help'."},
      {text::unexpected_argument("cd.iso"),
       "unexpected argument 'cd.iso': give paths with their options"},
      {text::unknown_option("--frobnicate"), "unknown option '--frobnicate'"},
      {text::takes_no_value("--yes"), "--yes takes no value"},
      {text::needs_value("--from-file"), "--from-file needs a value"},
      {text::attach_refused("no file"), "--attach: no file"},
      {text::list_devices_kind, "--list-devices takes disk or cdrom"},
      {text::one_source, "give one source: --from-file or --from-drive"},
      {text::one_target, "give one target: --to-iso, --to-hfs-image or --undo"},
      {text::partition_value, "--partition takes a row 0 to 7, a partition's name or 'all'"},
      {text::quiet_or_verbose, "give --quiet or --verbose, not both"},
      {text::list_devices_alone, "--list-devices runs no job: give it without a source or target"},
      {text::json_needs_info, "--json goes with --info"},
      {text::info_no_target, "--info writes nothing: give it without a target"},
      {text::info_one_image, "--info takes one IMAGE, or a device with --from-drive DEVICE"},
      {text::undo_no_dry_run,
       "--dry-run plans the jobs that write a hybrid or an HFS image, not --undo"},
      {text::undo_no_source, "--undo takes no source: give it the hybrid ISO image alone"},
      {text::no_source, "no source: give --from-file PATH or --from-drive DEVICE"},
      {text::no_target, "no target: give --to-iso PATH or --to-hfs-image PATH"},
      {text::unlisted_device("/dev/sg9"), "/dev/sg9 is no SCSI device this system lists"},
      {text::device_past_host_nine("/dev/sr0", 12),
       "/dev/sr0 is on host adapter 12; a specifier names host adapters 0 to 9 only"},
      {text::device_off_host_adapter("/dev/sda", "0:0:6:1"),
       "/dev/sda (0:0:6:1) is not reached through a host adapter: channel 0, target 0 to 7, LUN "
       "0 only"},
      {text::device_path_refused("/dev/sg9 is no SCSI device this system lists"),
       "/dev/sg9 is no SCSI device this system lists\nNothing was written."},
      {text::device_path_names("/dev/sr0", "C030"), "/dev/sr0 is C030."},
      {text::target_is_attached_image,
       "The target file is the image file of an attached device.\nPlease choose two different "
       "files."},
      {text::dry_run_done, "Dry run: nothing was written; the files are as they were."},
      {text::answered_ok, "Answered OK (--yes)."},
      {text::answered_cancel, "Answered Cancel; --yes would answer OK."},
      {text::ok_or_cancel, "OK or Cancel? [o/c] "},
      {text::partition_name_refused(0, "games"),
       "No partition is named 'games'; answered Cancel. Give its row number."},
      {text::partition_name_refused(2, "Games"),
       "More than one partition is named 'Games'; answered Cancel. Give its row number."},
      {text::no_such_partition(5), "There is no partition 5; answered Cancel."},
      {text::partition_unanswered(1),
       "Answered Cancel; --partition N (0 to 1) or --partition all would choose."},
      {text::partition_prompt(1), "Partition (0 to 1), all, or cancel? "},
      {text::no_host_adapter_answers, "No SCSI host adapter answers."},
      {text::no_pass_through,
       "This build of zelvorant-cli has no SCSI pass-through for this system: only the "
       "simulated devices of --attach are listed."},
      {text::info_pipe, "is a pipe, which --info does not read"},
      {text::info_folder, "is a folder"},
      {text::info_cannot_open("No such file or directory"),
       "cannot be opened: No such file or directory"},
      {text::info_unreadable("Input/output error"), "could not be read: Input/output error"},
      {text::info_unreadable(""), "could not be read (it is shorter than it was)"},
      {text::info_file_refused("missing.iso", "cannot be opened: No such file or directory"),
       "zelvorant-cli: missing.iso cannot be opened: No such file or directory. The file was not "
       "changed."},
      {text::info_device_refused("\"X99\" names no device."),
       "zelvorant-cli: \"X99\" names no device.\nNothing was written to the device."},
      {text::output_lost("Broken pipe"),
       "zelvorant-cli: the standard output could not be written (Broken pipe): what it was to "
       "show is lost."},
      {text::grouped(0), "0"},
      {text::grouped(999), "999"},
      {text::grouped(7990272), "7,990,272"},
      {text::grouped(4700372992), "4,700,372,992"},
      {text::completed_hybrid("disc.iso", 7990272, {{"Demo Mac", 892}}),
       "disc.iso is now a Mac/PC hybrid: 7,990,272 bytes; HFS volume \"Demo Mac\" at block 892."},
      {text::completed_hybrid("disc.iso", 4857856, {{"Shared", 1296}}, true),
       "disc.iso is now a Mac/PC hybrid: 4,857,856 bytes; HFS volume \"Shared\" at block 1,296 "
       "(blocks shared with the source, no copy)."},
      {text::completed_hybrid("disc.iso", 9000000, {{"A", 892}, {"B", 1000}, {"C", 1200}}),
       "disc.iso is now a Mac/PC hybrid: 9,000,000 bytes; HFS volumes \"A\" at block 892, \"B\" "
       "at block 1,000 and \"C\" at block 1,200."},
      {text::completed_hfs_image("out.hfs", 1507328, {{"Demo Mac", 64}}),
       "out.hfs is now an HFS image: 1,507,328 bytes; HFS volume \"Demo Mac\" at block 64."},
      {text::completed_hfs_image("out.hfs", 1024, {}), "out.hfs is now an HFS image: 1,024 bytes."},
      {text::completed_undo("disc.iso", 7000064),
       "disc.iso is a plain ISO image again: 7,000,064 bytes."},
      {text::file_error("disc.iso", "This ISO image is already a Macintosh hybrid image."),
       "zelvorant-cli: disc.iso: This ISO image is already a Macintosh hybrid image."},
      {text::not_opened("No such file or directory"),
       "cannot be opened (No such file or directory).\nNothing was written."},
      {text::not_opened(""), "cannot be opened.\nNothing was written."},
      {text::jobs_that_work({"--undo PATH", "--from-file PATH --to-iso PATH"}),
       "The jobs are:\n  zelvorant-cli --undo PATH\n  zelvorant-cli --from-file PATH --to-iso "
       "PATH"},
      {text::answered_no_input, "Answered Cancel (no input)."},
      {text::answered_ok_by("--accept-size"), "Answered OK (--accept-size)."},
      {text::answered_cancel_for("--accept-size"),
       "Answered Cancel; --accept-size or --yes would answer OK."},
      {text::media_value, "--media takes cd74, cd80, dvd or none"},
  });
}

}  // namespace
