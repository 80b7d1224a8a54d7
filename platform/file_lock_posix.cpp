#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

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

}  // namespace

open_outcome open_file(const std::string& path, const char* mode, file_lock lock,
                       std::FILE*& file) {
  file = std::fopen(path.c_str(), mode);
  if (file == nullptr) return open_outcome::failed;
  const int fd = fileno(file);
  // The floppy imaging tool is started during a job: it must not inherit
  // the job's files, nor hold their locks.
  fcntl(fd, F_SETFD, fcntl(fd, F_GETFD) | FD_CLOEXEC);
  if (lock == file_lock::none || try_lock(fd, lock) == 0) return open_outcome::opened;
  const int error_number = errno;
  if (!system_calls::lock_held_elsewhere(error_number))
    return open_outcome::opened;  // cannot lock here
  std::fclose(file);
  file = nullptr;
  errno = error_number;
  return open_outcome::in_use;
}

}  // namespace platform
