#include <fcntl.h>
#include <unistd.h>

#include <climits>
#include <cstdio>

#include "platform/file_ops.h"
#include "platform/system_calls_posix.h"

namespace platform {

namespace system_calls {

// Open-file-description locks: held by the open file like flock(), but they
// also work over NFS and collide with other programs' fcntl() locks.
int lock_whole_file(int fd, bool shared) {
  struct flock region {};
  region.l_type = static_cast<short>(shared ? F_RDLCK : F_WRLCK);
  region.l_whence = SEEK_SET;
  region.l_start = 0;
  region.l_len = 0;  // the whole file, however long it grows
  return fcntl(fd, F_OFD_SETLK, &region);
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

}  // namespace system_calls
}  // namespace platform
