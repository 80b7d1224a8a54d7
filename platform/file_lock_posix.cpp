#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "platform/file_lock.h"
#include "platform/system_calls_posix.h"

namespace platform {
namespace {

// Held by the open file, not by the process (system_calls_*): a second open
// of the same file in this process collides like another program's, and the
// lock goes with the last close.
int try_lock(int fd, file_lock lock) {
  return system_calls::lock_whole_file(fd, lock == file_lock::shared);
}

// The floppy imaging tool is started during a job: it must not inherit the
// job's files, nor hold their locks. The open does not wait: a pipe's open
// waits for the other end, for ever when none comes, and the job refuses a
// pipe once it sees one.
int open_flags(const char* mode) {
  const bool update = std::strchr(mode, '+') != nullptr;
  int flags = O_CLOEXEC | O_NONBLOCK;
  if (mode[0] == 'r') {
    flags |= update ? O_RDWR : O_RDONLY;
  } else {
    flags |= (update ? O_RDWR : O_WRONLY) | O_CREAT | (mode[0] == 'a' ? O_APPEND : O_TRUNC);
  }
  if (std::strchr(mode, 'x') != nullptr) flags |= O_EXCL;
  return flags;
}

}  // namespace

open_outcome open_file(const std::string& path, const char* mode, file_lock lock,
                       std::FILE*& file) {
  file = nullptr;
  const int fd = open(path.c_str(), open_flags(mode), 0666);
  if (fd < 0) return open_outcome::failed;
  // Reads and writes wait again, as the jobs expect of every file.
  const int status_flags = fcntl(fd, F_GETFL);
  if (status_flags == -1 || fcntl(fd, F_SETFL, status_flags & ~O_NONBLOCK) == -1) {
    const int error_number = errno;
    close(fd);
    errno = error_number;
    return open_outcome::failed;
  }
  if (lock != file_lock::none && try_lock(fd, lock) != 0) {
    const int error_number = errno;
    if (system_calls::lock_held_elsewhere(error_number)) {
      close(fd);
      errno = error_number;
      return open_outcome::in_use;
    }
    // A file system that cannot lock at all: the file is used unlocked.
  }
  // The open made or emptied the file already; the stream only takes the
  // same access.
  std::string stream_mode(1, mode[0]);
  if (std::strchr(mode, '+') != nullptr) stream_mode += '+';
  file = fdopen(fd, (stream_mode + 'b').c_str());
  if (file == nullptr) {
    const int error_number = errno;
    close(fd);
    errno = error_number;
    return open_outcome::failed;
  }
  return open_outcome::opened;
}

}  // namespace platform
