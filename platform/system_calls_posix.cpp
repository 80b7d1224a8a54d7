#include "platform/system_calls_posix.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "platform/file_ops.h"

namespace platform {

namespace system_calls {

// flock() is what these systems' own tools take. fcntl() record locks are
// left out: they belong to the process, and any close of the file in it (a
// look at whether two paths name one file) would end them.
int lock_whole_file(int fd, bool shared) {
  return flock(fd, (shared ? LOCK_SH : LOCK_EX) | LOCK_NB);
}

int sync_data(int fd) { return fsync(fd); }

// Between pipe() and fcntl() another thread's fork could inherit the ends;
// the only thread that starts programs is the job's.
int make_pipe(int fds[2]) {
  if (pipe(fds) != 0) return -1;
  for (int i = 0; i < 2; ++i) {
    if (fcntl(fds[i], F_SETFD, FD_CLOEXEC) != 0) {
      const int error_number = errno;
      close(fds[0]);
      close(fds[1]);
      errno = error_number;
      return -1;
    }
  }
  return 0;
}

// No portable way to ask: tools are then looked for in the folder the build
// installs them in, and on PATH.
std::string own_program_path() { return {}; }

namespace {

std::int64_t nanoseconds(const struct timespec& at) {
  return static_cast<std::int64_t>(at.tv_sec) * 1000000000 + at.tv_nsec;
}

}  // namespace

std::int64_t modified_ns(const struct stat& info) {
#ifdef __APPLE__
  return nanoseconds(info.st_mtimespec);
#else
  return nanoseconds(info.st_mtim);
#endif
}

std::int64_t changed_ns(const struct stat& info) {
#ifdef __APPLE__
  return nanoseconds(info.st_ctimespec);
#else
  return nanoseconds(info.st_ctim);
#endif
}

// No unnamed files here: the caller makes a named one.
int open_unnamed_file(const std::string&) {
  errno = EOPNOTSUPP;
  return -1;
}

int link_unnamed_file(int, const std::string&) {
  errno = EOPNOTSUPP;
  return -1;
}

// POSIX reads the umask only by setting it. 077 meanwhile: a file another
// thread makes in that moment is the narrower for it, never the wider.
mode_t creation_mask() {
  const mode_t mask = umask(077);
  umask(mask);
  return mask;
}

}  // namespace system_calls
}  // namespace platform
