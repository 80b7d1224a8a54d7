// The calls where Linux has a better one than POSIX gives every system. The
// build picks one twin: system_calls_linux.cpp on Linux, system_calls_posix.cpp
// on the other POSIX systems (and on Linux with ZELVORANT_GENERIC_POSIX).
// Used only inside platform/.
#pragma once

#include <sys/stat.h>

#include <cerrno>
#include <cstdint>
#include <string>

namespace platform::system_calls {

// Locks the whole open file, shared or exclusive, without waiting; 0 or -1
// with errno. The lock belongs to the open file, not to the process, so a
// second open in this process collides like another program's.
int lock_whole_file(int fd, bool shared);
// True for the errors a lock refused because someone else holds it; the
// others say the file cannot be locked at all.
inline bool lock_held_elsewhere(int error_number) {
  return error_number == EAGAIN || error_number == EACCES || error_number == EWOULDBLOCK;
}
// Puts the file's data and length on the disk; 0 or -1 with errno.
int sync_data(int fd);
// A pipe whose two ends are closed on exec; 0 or -1 with errno.
int make_pipe(int fds[2]);
// The path of the running program, empty where the system does not tell.
std::string own_program_path();
// The time of the last change, in nanoseconds since 1970.
std::int64_t modified_ns(const struct stat& info);
// The time of the last change to the file or its status (st_ctime), in
// nanoseconds since 1970.
std::int64_t changed_ns(const struct stat& info);
// A new file in `folder` that has no name (O_TMPFILE), open for reading and
// writing, with mode 0600; -1 with errno where the system or the folder's file
// system cannot make one, and always in the generic twin.
int open_unnamed_file(const std::string& folder);
// Gives the unnamed file `fd` the name `path`; 0 or -1 with errno (EEXIST when
// the name is taken).
int link_unnamed_file(int fd, const std::string& path);
// The bits the umask takes from a new file's mode.
mode_t creation_mask();

}  // namespace platform::system_calls
