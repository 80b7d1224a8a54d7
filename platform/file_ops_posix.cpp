#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>
#include <string_view>

#include "platform/file_ops.h"
#include "platform/system_calls_posix.h"

namespace platform {

bool file_seek(std::FILE* file, std::uint64_t offset) {
  if (offset > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max())) {
    errno = EOVERFLOW;
    return false;
  }
  return fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0;
}

bool file_seek_end(std::FILE* file) { return fseeko(file, 0, SEEK_END) == 0; }

bool file_tell(std::FILE* file, std::uint64_t& offset) {
  const off_t at = ftello(file);
  if (at < 0) return false;
  offset = static_cast<std::uint64_t>(at);
  return true;
}

bool file_length(std::FILE* file, std::uint64_t& bytes) {
  if (std::fflush(file) != 0) return false;
  struct stat info {};
  if (fstat(fileno(file), &info) != 0) return false;
  if (!S_ISREG(info.st_mode) && !S_ISBLK(info.st_mode)) {
    errno = S_ISDIR(info.st_mode) ? EISDIR : EINVAL;
    return false;
  }
  if (S_ISREG(info.st_mode)) {
    bytes = static_cast<std::uint64_t>(info.st_size);
    return true;
  }
  // A block device reports no size through fstat; its end tells it.
  const off_t here = ftello(file);
  if (here < 0 || fseeko(file, 0, SEEK_END) != 0) return false;
  const off_t end = ftello(file);
  if (end < 0 || fseeko(file, here, SEEK_SET) != 0) return false;
  bytes = static_cast<std::uint64_t>(end);
  return true;
}

bool file_truncate(std::FILE* file, std::uint64_t bytes) {
  if (std::fflush(file) != 0) return false;
  if (bytes > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max())) {
    errno = EOVERFLOW;
    return false;
  }
  return ftruncate(fileno(file), static_cast<off_t>(bytes)) == 0;
}

std::uint64_t file_hole_bytes(std::FILE* file, std::uint64_t offset) {
#ifdef SEEK_DATA
  if (offset > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max())) return 0;
  const int fd = fileno(file);
  const int saved_errno = errno;
  // The stream reads ahead of its position: the descriptor's offset is put
  // back where the stream left it, so that its buffer stays true.
  const off_t here = lseek(fd, 0, SEEK_CUR);
  if (here < 0) return 0;
  const off_t data = lseek(fd, static_cast<off_t>(offset), SEEK_DATA);
  const bool past_last_data = data < 0 && errno == ENXIO;
  struct stat info {};
  const bool sized = past_last_data && fstat(fd, &info) == 0;
  const bool restored = lseek(fd, here, SEEK_SET) == here;
  errno = saved_errno;
  if (!restored) return 0;
  if (data >= 0) return static_cast<std::uint64_t>(data) - offset;
  // No data after `offset`: a hole up to the end.
  if (sized && static_cast<std::uint64_t>(info.st_size) > offset) {
    return static_cast<std::uint64_t>(info.st_size) - offset;
  }
  return 0;
#else
  (void)file;
  (void)offset;
  return 0;
#endif
}

std::string error_text(int error_number) { return std::strerror(error_number); }

void hold_standard_descriptors() {
  for (int number = 0; number <= 2; ++number) {
    if (fcntl(number, F_GETFD) != -1 || errno != EBADF) continue;
    // The lowest free number is the one just found closed.
    const int held = open("/dev/null", O_RDONLY);
    if (held != number && held >= 0) close(held);
  }
}

bool same_file(std::FILE* a, std::FILE* b) {
  struct stat sa {
  }, sb{};
  if (fstat(fileno(a), &sa) != 0 || fstat(fileno(b), &sb) != 0) return false;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

bool file_status_of(std::FILE* file, file_status& status) {
  if (std::fflush(file) != 0) return false;
  struct stat info {};
  if (fstat(fileno(file), &info) != 0) return false;
  status = file_status{};
  if (S_ISREG(info.st_mode)) {
    status.kind = file_kind::regular;
  } else if (S_ISDIR(info.st_mode)) {
    status.kind = file_kind::directory;
  } else if (S_ISBLK(info.st_mode)) {
    status.kind = file_kind::block_device;
  } else if (S_ISCHR(info.st_mode)) {
    status.kind = file_kind::character_device;
  } else if (S_ISFIFO(info.st_mode) || S_ISSOCK(info.st_mode)) {
    status.kind = file_kind::pipe;
  }
  status.modified_ns = system_calls::modified_ns(info);
  status.changed_ns = system_calls::changed_ns(info);
  if (status.kind == file_kind::regular) {
    status.length = static_cast<std::uint64_t>(info.st_size);
  } else if (status.kind == file_kind::block_device) {
    if (!file_length(file, status.length)) return false;
  }
  return true;
}

namespace {

constexpr std::string_view scratch_prefix = ".zelvorant-scratch-";

// A scratch name is only ever used between mkstemp and the unlink that
// follows it: the process that made it reads and writes through its
// descriptor alone. So any such name in the folder is what a process killed
// in that moment left, and removing it, even under a live process, costs
// that process nothing.
void remove_left_scratch_files(const std::filesystem::path& folder) {
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
    const std::string leaf = entry.path().filename().string();
    if (leaf.size() != scratch_prefix.size() + 6 || !leaf.starts_with(scratch_prefix)) continue;
    struct stat info {};
    if (lstat(entry.path().c_str(), &info) != 0 || !S_ISREG(info.st_mode)) continue;
    if (info.st_uid != geteuid()) continue;
    unlink(entry.path().c_str());
  }
}

}  // namespace

// Where the system can, the file never has a name; elsewhere it is
// unlinked as soon as it is made, and a name that a kill left in between
// goes with the next run's scratch file in that folder.
std::FILE* open_unnamed_file_beside(const std::string& beside) {
  std::filesystem::path folder = std::filesystem::path(beside).parent_path();
  if (folder.empty()) folder = ".";
  remove_left_scratch_files(folder);
  int descriptor = system_calls::open_unnamed_file(folder.string());
  if (descriptor < 0) {
    std::string name = (folder / (std::string(scratch_prefix) + "XXXXXX")).string();
    descriptor = mkstemp(name.data());
    if (descriptor < 0) return nullptr;
    unlink(name.c_str());
  }
  std::FILE* file = fdopen(descriptor, "w+b");
  if (file == nullptr) {
    const int error = errno;
    close(descriptor);
    errno = error;
  }
  return file;
}

bool same_file(std::FILE* a, const std::string& path) {
  struct stat sa {
  }, sb{};
  if (fstat(fileno(a), &sa) != 0 || stat(path.c_str(), &sb) != 0) return false;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

}  // namespace platform
