#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/file_ops.h"
#include "scsi/sim/sim_file.h"

namespace scsi::sim {

sim_file::~sim_file() {
  if (handle_ >= 0) ::close(static_cast<int>(handle_));
}

bool sim_file::open(const std::string& path, bool try_write, std::string& error) {
  int fd = try_write ? ::open(path.c_str(), O_RDWR | O_CLOEXEC) : -1;
  writable_ = fd >= 0;
  if (fd < 0) fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    error = platform::error_text(errno);
    return false;
  }
  // A directory opens for reading, and its "length" is no image's.
  struct stat status {};
  if (::fstat(fd, &status) == 0 && S_ISDIR(status.st_mode)) {
    ::close(fd);
    error = platform::error_text(EISDIR);
    return false;
  }
  handle_ = fd;
  return true;
}

bool sim_file::size(std::uint64_t& bytes, std::string& error) const {
  // lseek rather than fstat: a block device reports its size only this way.
  const off_t end = ::lseek(static_cast<int>(handle_), 0, SEEK_END);
  if (end < 0) {
    error = platform::error_text(errno);
    return false;
  }
  bytes = static_cast<std::uint64_t>(end);
  return true;
}

// pread and pwrite may move less than asked; a signal or a pipe-like file
// must not turn into a short transfer.
bool sim_file::read_at(std::uint8_t* buffer, std::size_t bytes, std::uint64_t offset,
                       std::size_t& got) const {
  const int fd = static_cast<int>(handle_);
  got = 0;
  while (got < bytes) {
    const ssize_t n = ::pread(fd, buffer + got, bytes - got, static_cast<off_t>(offset + got));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  return true;
}

bool sim_file::write_at(const std::uint8_t* buffer, std::size_t bytes, std::uint64_t offset) const {
  const int fd = static_cast<int>(handle_);
  std::size_t done = 0;
  while (done < bytes) {
    const ssize_t n = ::pwrite(fd, buffer + done, bytes - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace scsi::sim
