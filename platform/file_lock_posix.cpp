#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

#include "platform/file_lock.h"

namespace platform {
namespace {

// Held by the open file, not by the process: a second open of the same file
// in this process collides like another program's, and the lock goes with
// the last close. Linux has open-file-description locks; elsewhere flock()
// gives the same.
int try_lock(int fd, file_lock lock) {
#ifdef F_OFD_SETLK
  struct flock region {};
  region.l_type = static_cast<short>(lock == file_lock::shared ? F_RDLCK : F_WRLCK);
  region.l_whence = SEEK_SET;
  region.l_start = 0;
  region.l_len = 0;  // the whole file, however long it grows
  return fcntl(fd, F_OFD_SETLK, &region);
#else
  return flock(fd, (lock == file_lock::shared ? LOCK_SH : LOCK_EX) | LOCK_NB);
#endif
}

bool held_by_another(int error_number) {
  return error_number == EAGAIN || error_number == EACCES || error_number == EWOULDBLOCK;
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
  if (!held_by_another(error_number)) return open_outcome::opened;  // cannot lock here
  std::fclose(file);
  file = nullptr;
  errno = error_number;
  return open_outcome::in_use;
}

}  // namespace platform
