#include "hybrid/io/file_stream.h"

#include <cerrno>
#include <filesystem>

#include "platform/block_sharing.h"
#include "platform/file_ops.h"
#include "platform/file_sync.h"

namespace hybrid {

file_stream::file_stream(std::string path, const char* mode)
    : file_stream(std::move(path), mode, platform::file_lock::none) {}

file_stream::file_stream(std::string path, const char* mode, platform::file_lock lock)
    : path_(std::move(path)) {
  const platform::open_outcome outcome = platform::open_file(path_, mode, lock, file_);
  if (outcome != platform::open_outcome::opened) {
    last_errno_ = errno;
    in_use_ = outcome == platform::open_outcome::in_use;
    return;
  }
  // Jobs read and write in blocks of 512 bytes to 1 MiB: a stdio buffer
  // only adds a copy, and splits every large write in two (4 KiB to fill
  // the buffer, then the rest).
  std::setvbuf(file_, nullptr, _IONBF, 0);
}

file_stream::file_stream(std::string name, std::FILE* adopted)
    : path_(std::move(name)), file_(adopted) {
  if (file_ != nullptr) std::setvbuf(file_, nullptr, _IONBF, 0);
}

file_stream::~file_stream() {
  if (file_ != nullptr) std::fclose(file_);
}

bool file_stream::failed() {
  last_errno_ = errno != 0 ? errno : EIO;
  return false;
}

std::size_t file_stream::read(void* buffer, std::size_t count) {
  errno = 0;
  last_errno_ = 0;
  const std::size_t got = std::fread(buffer, 1, count, file_);
  if (got < count) {
    if (std::ferror(file_)) {
      failed();
      std::clearerr(file_);
    } else {
      last_errno_ = 0;  // a plain end of file
    }
  }
  return got;
}

bool file_stream::write(const void* buffer, std::size_t count) {
  errno = 0;
  if (std::fwrite(buffer, 1, count, file_) != count) {
    failed();
    std::clearerr(file_);
    return false;
  }
  return true;
}

bool file_stream::seek(std::uint64_t offset) {
  errno = 0;
  return platform::file_seek(file_, offset) || failed();
}

bool file_stream::seek_to_end() {
  errno = 0;
  return platform::file_seek_end(file_) || failed();
}

bool file_stream::tell(std::uint64_t& offset) {
  errno = 0;
  return platform::file_tell(file_, offset) || failed();
}

bool file_stream::flush() {
  errno = 0;
  if (std::fflush(file_) != 0) {
    failed();
    std::clearerr(file_);
    return false;
  }
  return true;
}

bool file_stream::sync_to_disk() {
  errno = 0;
  if (!platform::sync_file(file_)) {
    failed();
    std::clearerr(file_);
    return false;
  }
  return true;
}

bool file_stream::length(std::uint64_t& bytes) {
  errno = 0;
  return platform::file_length(file_, bytes) || failed();
}

bool file_stream::truncate(std::uint64_t bytes) {
  errno = 0;
  return platform::file_truncate(file_, bytes) || failed();
}

bool file_stream::status(platform::file_status& status) {
  errno = 0;
  return platform::file_status_of(file_, status) || failed();
}

std::uint64_t file_stream::sharing_block_bytes(const byte_stream& source) {
  std::FILE* from = source.file_handle();
  return from != nullptr ? platform::sharing_block_bytes(from, file_) : 0;
}

// A refusal is no failure of this file: the caller writes the range.
bool file_stream::share_blocks(byte_stream& source, std::uint64_t source_offset,
                               std::uint64_t offset, std::uint64_t length) {
  std::FILE* from = source.file_handle();
  return from != nullptr && platform::share_blocks(from, source_offset, file_, offset, length);
}

std::unique_ptr<byte_stream> file_stream::open_scratch(std::string& why_not) {
  errno = 0;
  std::FILE* scratch = platform::open_unnamed_file_beside(path_);
  if (scratch == nullptr) {
    why_not = platform::error_text(errno != 0 ? errno : EIO);
    return nullptr;
  }
  return std::make_unique<file_stream>("a temporary file beside " + path_, scratch);
}

bool system_folder::failed() {
  last_errno_ = errno != 0 ? errno : EIO;
  return false;
}

std::unique_ptr<byte_stream> system_folder::make_file(const std::string& name,
                                                      const byte_stream& like) {
  errno = 0;
  // Owner only from the first moment: a descriptor another user opened on a
  // wider file would read every byte written into it later.
  std::FILE* fresh = platform::open_named_new_file(name);
  if (fresh == nullptr) {
    failed();
    return nullptr;
  }
  auto made = std::make_unique<file_stream>(name, fresh);
  // Bytes of the user's file stay as private as the file they came from.
  if (like.file_handle() != nullptr) {
    platform::set_final_permissions(made->file_handle(), like.file_handle(),
                                    platform::usual_new_file_mode());
  }
  return made;
}

std::unique_ptr<byte_stream> system_folder::open_file(const std::string& name, bool& missing) {
  errno = 0;
  auto opened = std::make_unique<file_stream>(name, "rb");
  missing = false;
  if (opened->is_open()) return opened;
  missing = errno == ENOENT;
  failed();
  return nullptr;
}

bool system_folder::rename(const std::string& from, const std::string& to) {
  errno = 0;
  return platform::rename_new_name(from, to) || failed();
}

bool system_folder::remove(const std::string& name) {
  errno = 0;
  return platform::remove_file(name) || failed();
}

bool system_folder::sync() {
  errno = 0;
  const std::filesystem::path parent = std::filesystem::path(file_.name()).parent_path();
  return platform::sync_folder(parent.empty() ? std::string(".") : parent.string()) || failed();
}

std::string system_folder::error_text() const {
  return last_errno_ != 0 ? platform::error_text(last_errno_) : std::string();
}

std::string file_stream::error_text() const {
  return last_errno_ != 0 ? platform::error_text(last_errno_) : std::string();
}

}  // namespace hybrid
