#include <fcntl.h>
#include <sys/file.h>
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

namespace {

bool held_by_another(int error_number) {
  return error_number == EAGAIN || error_number == EACCES || error_number == EWOULDBLOCK;
}

// Locked as a job's target is. False only when another process holds it
// already: a run that is removing a file of this name. A file system that
// cannot lock takes the file unlocked, as the jobs' other files.
bool lock_new_file(int fd) {
  return system_calls::lock_whole_file(fd, false) == 0 || !held_by_another(errno);
}

std::FILE* adopt(int fd) {
  std::FILE* file = fdopen(fd, "w+b");
  if (file == nullptr) {
    const int error_number = errno;
    close(fd);
    errno = error_number;
  }
  return file;
}

bool same_inode(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

}  // namespace

std::FILE* open_unnamed_new_file(const std::string& folder) {
  const int fd = system_calls::open_unnamed_file(folder);
  if (fd < 0) return nullptr;
  // Nobody can reach it yet; the lock goes with it when it is named, and
  // keeps other runs from taking that name for a leftover.
  (void)lock_new_file(fd);
  return adopt(fd);
}

bool name_new_file(std::FILE* file, const std::string& path) {
  return std::fflush(file) == 0 && system_calls::link_unnamed_file(fileno(file), path) == 0;
}

// Another run may find the name between the open and the lock and remove
// it as a leftover: then the name is no longer this file's, and the caller
// tries another.
std::FILE* open_named_new_file(const std::string& path) {
  const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return nullptr;
  struct stat mine {
  }, named{};
  if (!lock_new_file(fd) || fstat(fd, &mine) != 0 || lstat(path.c_str(), &named) != 0 ||
      !same_inode(mine, named)) {
    close(fd);
    errno = EEXIST;
    return nullptr;
  }
  return adopt(fd);
}

// Any lock another process holds keeps the file: both kinds are tried,
// exclusive, so that a program that holds either, of either kind, keeps it.
// A record lock for writing needs a descriptor for writing; a file its
// owner may only read is tried for reading, which shows a job's exclusive
// lock. Where no lock can be taken at all, no one can tell whether the file
// is in use: it is kept.
bool remove_unheld_file(const std::string& path) {
  const int flags = O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
  bool writable = true;
  int fd = open(path.c_str(), O_RDWR | flags);
  if (fd < 0 && errno == EACCES) {
    writable = false;
    fd = open(path.c_str(), O_RDONLY | flags);
  }
  if (fd < 0) return false;
  struct stat info {
  }, named{};
  const bool removed = fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_uid == geteuid() &&
                       system_calls::lock_whole_file(fd, !writable) == 0 &&
                       flock(fd, LOCK_EX | LOCK_NB) == 0 && lstat(path.c_str(), &named) == 0 &&
                       same_inode(info, named) && unlink(path.c_str()) == 0;
  close(fd);
  return removed;
}

unsigned usual_new_file_mode() {
  return 0666 & ~static_cast<unsigned>(system_calls::creation_mask());
}

void set_final_permissions(std::FILE* fresh, std::FILE* old, unsigned usual) {
  mode_t mode = static_cast<mode_t>(usual & 0777);
  struct stat info {};
  if (old != nullptr) {
    if (fstat(fileno(old), &info) != 0) return;  // owner only, then
    mode = info.st_mode & 0777;
  }
  // The mode is the file's last change before its name: on the disk with it.
  if (fchmod(fileno(fresh), mode) == 0) (void)fsync(fileno(fresh));
}

}  // namespace platform
