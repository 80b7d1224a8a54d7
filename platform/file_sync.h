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

// Gives the closed file `from` the name `to`, in the same folder, only when
// no file has that name: never over another file (false, errno EEXIST). On a
// file system without hard links the check and the rename are two steps.
bool rename_new_name(const std::string& from, const std::string& to);

// Gives the new file `to` the access rights of `from`, so that a replaced
// file keeps them; best effort.
void copy_permissions(std::FILE* from, std::FILE* to);

}  // namespace platform
