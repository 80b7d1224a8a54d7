// Every text the program shows or prints, word for word, in one place: users
// know the program by its texts, so a change of wording is made here once.
// Code and tests name them; tests/unit/hybrid/messages_test.cpp alone holds
// the words themselves. The dialog templates (*.rc) keep their own captions
// and labels: the resource compiler reads no C++.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "hybrid/io/byte_stream.h"
#include "hybrid/io/removed_tail.h"
#include "platform/file_ops.h"

namespace hybrid {

struct device_failure;

namespace text {

// ---- The Windows program -------------------------------------------------

// The caption of every message box the program shows, so that a box can
// always be told apart from another program's.
inline constexpr const char* program_title = "Zelvorant - v. 0.9 - beta, free to use, no warranty";
// The help box: how to reach us, and what the beta lacks.
inline constexpr const char* help_text =
    "Zelvorant makes Mac/PC hybrid CD-ROM images.\n"
    "Questions, bug reports and ideas are welcome:\n"
    "write to the Zelvorant team at zelvorant@example.org\n"
    "or open an issue in the project's tracker.\n"
    "Please name the version shown in the title bar."
    "\n\nHelp functions are not yet implemented\n(for this beta version).";
// The file choosers: pairs of a description and a pattern; the literal's own
// zero ends the list. Every file is offered too: emulators name their images
// .img, .dsk, .hda, .toast or .cdr.
inline constexpr char hfs_filter[] = "HFS Image files [*.hfs]\0*.hfs\0All files (*.*)\0*.*\0";
inline constexpr char iso_filter[] = "ISO Image files [*.iso]\0*.iso\0All files (*.*)\0*.*\0";
inline constexpr const char* open_file_title = "Open A File";
inline constexpr const char* save_file_title = "Save A File";

// Exit/Cancel, Escape or the close box during a job, by target.
inline constexpr const char* stop_question_iso =
    "Stop the job?\n\nThe ISO image is left as it was.";
inline constexpr const char* stop_question_hfs =
    "Stop the job?\n\nNo HFS image file is written; a file already at its path is left as it was.";
// What Windows shows when the session is to end during a job, by target.
inline constexpr const char* shutdown_reason_iso =
    "A hybrid image is being written. If Windows ends the program now, the ISO image is put back "
    "as it was.";
inline constexpr const char* shutdown_reason_hfs =
    "An HFS image file is being written. If Windows ends the program now, no HFS image file is "
    "written.";

// The partition dialog's OK with no row and no "All partitions"; the
// terminal's prompt answered with nothing it knows.
inline constexpr const char* no_partition_chosen = "You didn't specify the partition to work with.";

// The device dialog: no host adapter at all, so the dialog is not shown.
inline constexpr const char* no_host_adapter =
    "No SCSI host adapter was found, so there is no device to choose.\nThe device box was left "
    "as it was.";
// A device on a host adapter past 9, which a specifier cannot name.
std::string unnamed_host(int host);

// ---- The status line and the Start action, for both front ends -----------

inline constexpr const char* idle = "Select origin and destination of the HFS data...";
inline constexpr const char* working = "Working, please wait...";
// `working` with the share copied: "... 42% (312 of 600 MB)".
std::string working_share(std::uint64_t percent, std::uint64_t done_mb, std::uint64_t total_mb);
inline constexpr const char* completed = "Requested operation completed...\nPlease continue.";
inline constexpr const char* incoherent =
    "Your selection is not coherent (copying an HFS image to another one).";
inline constexpr const char* no_file = "You didn't specify a file to open.";
inline constexpr const char* no_drive = "You didn't specify the drive holding the HFS volume.";
inline constexpr const char* job_under_way =
    "A job is already under way.\nPlease wait until it has ended.";
inline constexpr const char* same_file =
    "The HFS image and the ISO image are the same file.\nPlease choose two different files.";
std::string error_opening(const std::string& path);  // "Error opening file %s."
// The reason given with error_opening for a target that is neither a file
// nor a folder, and for a source that is neither a file nor a device.
inline constexpr const char* not_a_regular_file = "Not a regular file";

// ---- The jobs --------------------------------------------------------------

inline constexpr const char* already_hybrid =
    "This ISO image is already a Macintosh hybrid image.\nAborting...";
inline constexpr const char* no_hfs_partition = "This file holds no HFS partition.";
inline constexpr const char* stopped = "The job was stopped before it ended.";
inline constexpr const char* iso_in_use =
    "The ISO image is in use by another program.\nAborting...";
inline constexpr const char* hfs_image_in_use =
    "The HFS image is in use by another program.\nAborting...";
// An HFS image is written into a new file that takes the target's place only
// when it is complete.
inline constexpr const char* hfs_image_kept_suffix =
    "\nThe HFS image was not written; a file already at its path was left as it was.";
inline constexpr const char* iso_changed_length =
    "The ISO image changed its length while the job was being prepared: another program "
    "writes to it.\nNothing was written to it.";
inline constexpr const char* floppy_no_image =
    "The floppy imaging tool left no image of the floppy disk.";
inline constexpr const char* floppy_image_empty = "The floppy disk image is empty.";
inline constexpr const char* source_changed = "The HFS file changed while it was being copied.";

// --undo: what it refuses and what it did.
inline constexpr const char* undo_not_hybrid =
    "This ISO image is no Macintosh hybrid image: it has no Apple partition map.\n"
    "It was left as it was.";
inline constexpr const char* undo_no_volume =
    "This image holds no ISO 9660 volume descriptor that can be believed, so where the "
    "hybrid's data begin is not known.\nIt was left as it was.";
inline constexpr const char* undo_no_data =
    "The Apple partition map points at no data behind the ISO 9660 volume.\n"
    "It was left as it was.";
inline constexpr const char* undo_system_area_data =
    "The first 32,768 bytes hold data besides the Apple partition map (a boot record or "
    "another program's data). Undoing the hybrid zeroes them, and they cannot be brought back.";
std::string undo_bad_count(std::uint32_t entries);
// An entry that begins inside the ISO 9660 volume (which ends at block
// `volume_blocks`), or past the end of the file.
std::string undo_entry_inside_volume(const std::string& name, std::uint32_t first,
                                     std::uint32_t count, std::uint64_t volume_blocks);
std::string undo_entry_past_end(const std::string& name, std::uint32_t first,
                                std::uint64_t file_blocks);
std::string undo_done(std::uint64_t cut_at, std::uint64_t removed);
// What an --undo did that found the map cleared by an earlier one, which was
// interrupted before it ended (`removed` is 0 when that one had cut the data).
std::string undo_finished(std::uint64_t cut_at, std::uint64_t removed);
// Asked before --undo cuts bytes after the end of the hybrid's last
// partition, which its map does not account for.
std::string undo_bytes_after_data(std::uint64_t bytes);

// "The HFS file is %lu bytes long.\nThe ISO file is %lu bytes long.\n
// Total exceeds the maximum capacity of a CD-ROM."
std::string capacity_warning(std::uint64_t hfs_bytes, std::uint64_t iso_bytes);

std::string iso_too_small(std::uint64_t iso_bytes);
// The ISO image is a folder, a device or a pipe.
std::string iso_not_a_file(const std::string& name, platform::file_kind kind);
// What stands in the ISO image's system area, in words: "a PC boot record",
// "a GPT partition table", both, or "data of an unknown kind".
const char* system_area_holding(bool pc_boot_record, bool gpt_header);
std::string system_area_in_use(const char* what, bool looks_like_iso9660);
std::string bytes_after_volume(std::uint64_t bytes);
std::string bare_volume_past_end(const std::string& name, std::uint64_t volume_bytes,
                                 std::uint64_t hfs_bytes);
// Why the bytes after the ISO 9660 volume could not be kept aside.
std::string tail_not_kept(const removed_tail& tail, const byte_stream& iso);
std::string partition_past_end(const char* name, std::uint64_t last_byte, std::uint64_t hfs_bytes);
std::string chosen_partition_empty(const char* name);
std::string too_many_entries(int entries);
std::string image_too_large();

enum class failed_operation { read, write, seek, flush, length };
// Names the file and the operation, with the system's reason when there is one.
std::string io_failure(failed_operation operation, const byte_stream& stream);
std::string ended_early(const byte_stream& stream);
std::string iso_restored_suffix(bool restored);
// The new HFS image could not take the target's place (a failure: the
// dispatch adds hfs_image_kept_suffix).
std::string hfs_image_not_replaced(const std::string& path, const std::string& reason);

std::string floppy_no_scratch_folder(const std::string& reason);
std::string floppy_tool_not_started(const std::string& reason);
std::string floppy_tool_failed(int exit_code);
std::string floppy_tool_killed(int signal_number);
// The hybrid a job planned would have the problems --info reports (its
// words, one per problem), so nothing was written.
std::string planned_hybrid_unsound(const std::vector<std::string>& problems);

// The bytes removed after the ISO 9660 volume, kept in the named file
// `kept` beside the image until the job is final (hybrid/tail_recovery.h):
// the file could not be made or completed, so nothing was cut;
std::string tail_not_kept_in(const std::string& iso, const std::string& kept,
                             const std::string& reason);
// a roll-back that did not bring them back says where they are;
std::string tail_kept_in(const std::string& kept, std::uint64_t from);
// the job completed, but the file could not be deleted.
std::string tail_file_left(const std::string& kept, const std::string& reason);
// The next run found the file of a run that did not finish: the bytes were
// put back, could not be, or were left where they are for `reason`; a dry
// run stops there.
std::string tail_put_back(const std::string& kept, const std::string& iso, std::uint64_t count,
                          std::uint64_t from);
std::string tail_not_put_back(const std::string& kept, const std::string& iso, std::uint64_t from,
                              const std::string& reason);
std::string tail_left_beside(const std::string& kept, const std::string& iso, std::uint64_t from,
                             const std::string& reason);
inline constexpr const char* tail_image_changed = "the image is not as that run left it";
std::string tail_put_back_first(const std::string& kept, const std::string& iso,
                                std::uint64_t count);

// A partition of an image file copied into a new HFS image (the headless
// front end's --from-file with --to-hfs-image). The job's refusals add
// hfs_image_kept_suffix: the source is only read.
inline constexpr const char* source_is_hfs_target =
    "The source image and the HFS image to write are the same file.\nPlease choose two "
    "different files.";
// A bare volume whose header says it is longer than the file.
std::string bare_volume_incomplete(const std::string& name, std::uint64_t volume_bytes,
                                   std::uint64_t file_bytes);
// The map reaches block `map_end`, past the `file_blocks` the file holds
// (both in 512-byte blocks).
std::string map_past_file_end(const std::string& name, std::uint64_t map_end,
                              std::uint64_t file_blocks);

// ---- The device jobs -------------------------------------------------------

inline constexpr const char* not_mac_volume = "This disk is not a Macintosh HFS volume.";
inline constexpr const char* floppy_not_direct =
    "32-bit Version\nYou have to first make an HFS image of the floppy disk.\n"
    "We can't read directly from the floppy.";
inline constexpr const char* disk_holds_no_hfs = "This disk holds no HFS partition.";
inline constexpr const char* no_volume_block_count =
    "The disk's Driver Descriptor gives no block count, so the whole volume cannot be "
    "copied.\nAborting...";

// "The total length of the ISO image,\nafter adding the selected partition,\n
// would be of %lu sectors.\nThis exceeds the maximum capacity of a CD-ROM."
std::string cd_capacity_warning(std::uint64_t sectors);

std::string unknown_specifier(const std::string& specifier);
std::string no_floppy_drive(char letter);
std::string device_silent(bool cdrom, unsigned host, unsigned target);
std::string unsupported_block_size(std::uint32_t bytes);
std::string device_too_many_entries(int entries);
// The partition map reaches block `map_end`, past the `capacity` blocks of
// the device (both in 512-byte blocks).
std::string map_past_device_end(bool cdrom, std::uint64_t map_end, std::uint64_t capacity);
std::string device_read_failed(const device_failure& failure, unsigned host, unsigned target);

// ---- The headless front end ------------------------------------------------
// Names and paths in these come printable (hybrid/printable.h) from the
// caller: the texts add no control character but their own line breaks.

// What the program itself reports: "zelvorant-cli: " and the reason.
std::string program_error(const std::string& reason);
// A command line it cannot take.
std::string usage_error(const std::string& reason);
std::string unexpected_argument(const std::string& argument);
std::string unknown_option(const std::string& name);
std::string takes_no_value(const std::string& name);
std::string needs_value(const std::string& name);
std::string attach_refused(const std::string& reason);
inline constexpr const char* list_devices_kind = "--list-devices takes disk or cdrom";
inline constexpr const char* one_source = "give one source: --from-file or --from-drive";
inline constexpr const char* one_target = "give one target: --to-iso, --to-hfs-image or --undo";
inline constexpr const char* partition_value =
    "--partition takes a row 0 to 7, a partition's name or 'all'";
inline constexpr const char* quiet_or_verbose = "give --quiet or --verbose, not both";
inline constexpr const char* list_devices_alone =
    "--list-devices runs no job: give it without a source or target";
inline constexpr const char* json_needs_info = "--json goes with --info";
inline constexpr const char* info_no_target = "--info writes nothing: give it without a target";
inline constexpr const char* info_one_image =
    "--info takes one IMAGE, or a device with --from-drive DEVICE";
inline constexpr const char* undo_no_dry_run =
    "--dry-run plans the jobs that write a hybrid or an HFS image, not --undo";
inline constexpr const char* undo_no_source =
    "--undo takes no source: give it the hybrid ISO image alone";
inline constexpr const char* no_source = "no source: give --from-file PATH or --from-drive DEVICE";
inline constexpr const char* no_target = "no target: give --to-iso PATH or --to-hfs-image PATH";

// --from-drive with a Linux device name.
std::string unlisted_device(const std::string& path);
std::string device_past_host_nine(const std::string& path, unsigned host);
std::string device_off_host_adapter(const std::string& path, const std::string& kernel_address);
// The name could not be mapped: the job does not start.
std::string device_path_refused(const std::string& reason);
// --verbose: the specifier a device name stands for.
std::string device_path_names(const std::string& path, const std::string& specifier);
inline constexpr const char* target_is_attached_image =
    "The target file is the image file of an attached device.\n"
    "Please choose two different files.";
inline constexpr const char* dry_run_done =
    "Dry run: nothing was written; the files are as they were.";

// The questions on a terminal, and the answers given ahead of time.
inline constexpr const char* answered_ok = "Answered OK (--yes).";
inline constexpr const char* answered_cancel = "Answered Cancel; --yes would answer OK.";
inline constexpr const char* ok_or_cancel = "OK or Cancel? [o/c] ";
// --partition NAME that `matches` rows (0, or more than one) carry.
std::string partition_name_refused(int matches, const std::string& name);
std::string no_such_partition(int row);
// No --partition and no terminal to ask on; rows 0 to `last_row`.
std::string partition_unanswered(int last_row);
std::string partition_prompt(int last_row);

// --list-devices and --info.
inline constexpr const char* no_host_adapter_answers = "No SCSI host adapter answers.";
inline constexpr const char* no_pass_through =
    "This build of zelvorant-cli has no SCSI pass-through for this system: only the "
    "simulated devices of --attach are listed.";
// Why --info did not describe a file: completes "NAME ...".
inline constexpr const char* info_pipe = "is a pipe, which --info does not read";
inline constexpr const char* info_folder = "is a folder";
std::string info_cannot_open(const std::string& reason);
// An empty reason: the file ended before the length it had at the start.
std::string info_unreadable(const std::string& reason);
std::string info_file_refused(const std::string& name, const std::string& why_not);
std::string info_device_refused(const std::string& reason);

// What was to be printed on the standard output could not be written there
// (closed, a pipe whose reader has gone, a full disk); a job's result
// follows on stderr.
std::string output_lost(const std::string& reason);

// A number of bytes as people read one: 7,990,272.
std::string grouped(std::uint64_t number);
// An HFS volume a job wrote, where it begins in 512-byte blocks.
struct volume_at {
  std::string name;
  std::uint64_t block = 0;
};
// The completion line that names what was written; `path` and the names
// come printable from the caller. A hybrid whose appended data share the
// source's blocks says so at the end of the line.
std::string completed_hybrid(const std::string& path, std::uint64_t bytes,
                             const std::vector<volume_at>& volumes, bool blocks_shared_too = false);
std::string completed_hfs_image(const std::string& path, std::uint64_t bytes,
                                const std::vector<volume_at>& volumes);
std::string completed_undo(const std::string& path, std::uint64_t bytes);
// An error about one file (or device): "zelvorant-cli: FILE: reason".
std::string file_error(const std::string& file, const std::string& reason);
// The reason for a file a job could not open, with the system's reason
// when there is one; nothing was written.
inline constexpr const char* cannot_be_opened = "cannot be opened";
std::string not_opened(const std::string& reason);
// The jobs the command line runs, told after a usage error that combined
// sources and targets no job takes.
std::string jobs_that_work(const std::vector<std::string>& jobs);
// The end of input where an answer was awaited.
inline constexpr const char* answered_no_input = "Answered Cancel (no input).";
// A question answered, or left unanswered, by the option of its own.
std::string answered_ok_by(const std::string& option);
std::string answered_cancel_for(const std::string& option);
// --media's names.
inline constexpr const char* media_value = "--media takes cd74, cd80, dvd or none";
// Appended data that are blocks the file system shares with the source: a
// line after the completion line; with --verbose, how many bytes and what
// that means for the disk; in a dry run's plan, how many may be.
inline constexpr const char* blocks_shared = "(blocks shared with the source, no copy)";
std::string bytes_shared(std::uint64_t bytes);
std::string plan_may_share(std::uint64_t bytes);

}  // namespace text
}  // namespace hybrid
