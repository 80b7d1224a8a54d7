// The texts the jobs show. Users know the program by them, so they stand
// here once, word for word.
#pragma once

#include <cstdint>
#include <string>

#include "hybrid/io/byte_stream.h"
#include "hybrid/io/removed_tail.h"

namespace hybrid::text {

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

// "The HFS file is %lu bytes long.\nThe ISO file is %lu bytes long.\n
// Total exceeds the maximum capacity of a CD-ROM."
std::string capacity_warning(std::uint64_t hfs_bytes, std::uint64_t iso_bytes);

std::string iso_too_small(std::uint64_t iso_bytes);
// The ISO image is a folder, a device or a pipe (`kind`: "a block device").
std::string iso_not_a_file(const std::string& name, const char* kind);
// What stands in the ISO image's system area: "a PC boot record", "a GPT
// partition table", both, or "data of an unknown kind".
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
// The new HFS image could not take the target's place.
std::string hfs_image_not_replaced(const std::string& path, const std::string& reason);

std::string floppy_no_scratch_folder(const std::string& reason);
std::string floppy_tool_not_started(const std::string& reason);
std::string floppy_tool_failed(int exit_code);
std::string floppy_tool_killed(int signal_number);

}  // namespace hybrid::text
