// "Completed" means the bytes are on the disk: what the system still holds in
// its cache is lost in a power cut, and written back in whatever order the
// cache chooses. The build picks file_sync_posix.cpp or file_sync_win32.cpp.
#pragma once

#include <cstdio>
#include <string>

namespace platform {

// Flushes the stream, then waits until the file's data and length are on the
// disk.
bool sync_file(std::FILE* file);

// Puts the new file `from` in the place of `to` in one step: a reader sees
// the old file or the new one, never a mix. Both are in one folder.
bool replace_file(const std::string& from, const std::string& to);

// Removes a file this program made (a replacement that did not complete).
bool remove_file(const std::string& path);

// Waits until the names in `folder` (a rename, a new file) are on the disk,
// where the system needs that asked for separately.
bool sync_folder(const std::string& folder);

// True where a file cannot be renamed, or renamed over, while it is open
// (Windows): the caller closes both files first.
bool replace_needs_closed_files();

// A new file that is to take another's place is readable and writable by
// its owner alone, and locked against other jobs (platform/file_lock.h,
// exclusive), until it is complete: nobody else reads a half-written image.
//
// Where the system can (Linux, a file system with O_TMPFILE), the new file
// has no name in `folder` until name_new_file gives it one at the end, so
// that nothing of it outlives a kill. Null, with errno, where it cannot: the
// caller then makes a named one.
std::FILE* open_unnamed_new_file(const std::string& folder);
// Links a file from open_unnamed_new_file under `path`, in its folder;
// false with errno (EEXIST when the name is taken).
bool name_new_file(std::FILE* file, const std::string& path);
// A new file under `path`; null with errno (EEXIST when the name is taken).
std::FILE* open_named_new_file(const std::string& path);
// Removes `path`, a new file that a run of this program left behind, only
// when no other process holds it (a lock, or on Windows an open handle), it
// is a regular file and (POSIX) its owner is this user. True when removed.
bool remove_unheld_file(const std::string& path);

// The access rights a file made with no other to copy them from gets here
// (0666 less the umask); 0 where files have no such modes.
unsigned usual_new_file_mode();
// Widens a complete new file to the access rights it keeps: those of `old`,
// the file it replaces, or `usual` (usual_new_file_mode) where there is none;
// never more. Best effort: a file system that has no modes (or refuses
// these) leaves the file as it is, owner only.
void set_final_permissions(std::FILE* fresh, std::FILE* old, unsigned usual);

// Gives the closed file `from` the name `to`, in the same folder, only when
// no file has that name: never over another file (false, errno EEXIST). On a
// file system without hard links the check and the rename are two steps.
bool rename_new_name(const std::string& from, const std::string& to);

}  // namespace platform
