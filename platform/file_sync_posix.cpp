#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "platform/file_sync.h"
#include "platform/system_calls_posix.h"

namespace platform {

bool sync_file(std::FILE* file) {
  if (std::fflush(file) != 0) return false;
  return system_calls::sync_data(fileno(file)) == 0;
}

bool replace_file(const std::string& from, const std::string& to) {
  return std::rename(from.c_str(), to.c_str()) == 0;
}

bool remove_file(const std::string& path) { return std::remove(path.c_str()) == 0; }

bool sync_folder(const std::string& folder) {
  const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  // Some file systems cannot sync a folder and say so with EINVAL: their
  // names reach the disk with the file's data.
  const bool synced = fsync(fd) == 0 || errno == EINVAL;
  const int error_number = errno;
  close(fd);
  errno = error_number;
  return synced;
}

// A second name, then the first one gone: link() never replaces a file.
bool rename_new_name(const std::string& from, const std::string& to) {
  if (link(from.c_str(), to.c_str()) == 0) return unlink(from.c_str()) == 0;
  if (errno != EPERM && errno != EOPNOTSUPP && errno != ENOTSUP && errno != ENOSYS) return false;
  struct stat info {};
  if (lstat(to.c_str(), &info) == 0) {
    errno = EEXIST;
    return false;
  }
  return std::rename(from.c_str(), to.c_str()) == 0;
}

bool replace_needs_closed_files() { return false; }

void copy_permissions(std::FILE* from, std::FILE* to) {
  struct stat info {};
  if (fstat(fileno(from), &info) == 0) (void)fchmod(fileno(to), info.st_mode & 0777);
}

}  // namespace platform
