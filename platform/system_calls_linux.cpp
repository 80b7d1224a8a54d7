#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "platform/file_ops.h"
#include "platform/system_calls_posix.h"

namespace platform {

namespace system_calls {

// Two locks of the same kind, so that every other program sees us and we see
// every other program: an open-file-description lock, which also works over
// NFS and collides with fcntl() and lockf() locks, and a flock() lock, which
// collides with flock() and the flock command, and which the first does not
// see. Both belong to the open file: the last close ends them. The file is
// held by another when either says so; a file system that has only one of
// them is locked with that one.
int lock_whole_file(int fd, bool shared) {
  struct flock region {};
  region.l_type = static_cast<short>(shared ? F_RDLCK : F_WRLCK);
  region.l_whence = SEEK_SET;
  region.l_start = 0;
  region.l_len = 0;  // the whole file, however long it grows
  const int whole = (shared ? LOCK_SH : LOCK_EX) | LOCK_NB;
  if (fcntl(fd, F_OFD_SETLK, &region) != 0) {
    return lock_held_elsewhere(errno) ? -1 : flock(fd, whole);
  }
  return flock(fd, whole) == 0 || !lock_held_elsewhere(errno) ? 0 : -1;
}

// The data and the length; times of access and change can wait.
int sync_data(int fd) { return fdatasync(fd); }

int make_pipe(int fds[2]) { return pipe2(fds, O_CLOEXEC); }

std::string own_program_path() {
  char buffer[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer);
  if (n <= 0 || static_cast<std::size_t>(n) >= sizeof buffer) return {};
  return std::string(buffer, static_cast<std::size_t>(n));
}

std::int64_t modified_ns(const struct stat& info) {
  return static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
}

std::int64_t changed_ns(const struct stat& info) {
  return static_cast<std::int64_t>(info.st_ctim.tv_sec) * 1000000000 + info.st_ctim.tv_nsec;
}

// Linking goes through /proc/self/fd: AT_EMPTY_PATH asks for a privilege
// before Linux 6.10. Without /proc the caller takes the named way from the
// start rather than fail at the end. ZELVORANT_TEST_NO_TMPFILE makes the
// file system refuse, so that the tests take the named way here too.
int open_unnamed_file(const std::string& folder) {
  if (std::getenv("ZELVORANT_TEST_NO_TMPFILE") != nullptr || access("/proc/self/fd", X_OK) != 0) {
    errno = EOPNOTSUPP;
    return -1;
  }
  return open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
}

int link_unnamed_file(int fd, const std::string& path) {
  const std::string self = "/proc/self/fd/" + std::to_string(fd);
  if (linkat(AT_FDCWD, self.c_str(), AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) == 0) return 0;
  const int error_number = errno;
  if (error_number == EEXIST) return -1;
  if (linkat(fd, "", AT_FDCWD, path.c_str(), AT_EMPTY_PATH) == 0) return 0;
  if (errno != EEXIST) errno = error_number;
  return -1;
}

// Read where the kernel tells it (Linux 4.7 on): setting the umask to read
// it would leave it changed for a moment for every thread.
mode_t creation_mask() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("Umask:", 0) == 0)
      return static_cast<mode_t>(std::strtoul(line.c_str() + 6, nullptr, 8));
  }
  const mode_t mask = umask(077);
  umask(mask);
  return mask;
}

}  // namespace system_calls
}  // namespace platform
