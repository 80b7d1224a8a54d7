#include "hybrid/io/replacement_file.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <random>
#include <system_error>

#include "platform/file_ops.h"
#include "platform/file_sync.h"

namespace hybrid {
namespace {

namespace fs = std::filesystem;

// A name next to `place` that no other file has: the job's pid is not
// portable, a random number is.
std::string fresh_name(const std::string& place, unsigned attempt) {
  static std::random_device seed;
  char suffix[32];
  std::snprintf(suffix, sizeof suffix, ".%08x%u.part", static_cast<unsigned>(seed()), attempt);
  return place + suffix;
}

std::string folder_of(const std::string& path) {
  const fs::path parent = fs::path(path).parent_path();
  return parent.empty() ? std::string(".") : parent.string();
}

}  // namespace

replacement_file::replacement_file(std::string target) : target_(std::move(target)) {}

replacement_file::~replacement_file() {
  fresh_.reset();
  if (!committed_ && !fresh_path_.empty()) platform::remove_file(fresh_path_);
}

replacement_file::opened replacement_file::open() {
  std::error_code error;
  const fs::file_status status = fs::status(target_, error);
  place_ = target_;
  if (fs::exists(status)) {
    // Writing through a link into a device or a folder is not replacing an
    // image file; a link to a file is followed, so that the file is replaced
    // and the link stays.
    if (!fs::is_regular_file(status)) {
      error_ = fs::is_directory(status) ? platform::error_text(EISDIR) : "Not a regular file";
      return opened::failed;
    }
    if (fs::is_symlink(fs::symlink_status(target_, error))) {
      const fs::path real = fs::canonical(target_, error);
      if (error) {
        error_ = error.message();
        return opened::failed;
      }
      place_ = real.string();
    }
    old_ = std::make_unique<file_stream>(place_, "r+b", platform::file_lock::exclusive);
    if (!old_->is_open()) {
      error_ = old_->error_text();
      return old_->in_use() ? opened::in_use : opened::failed;
    }
  }
  for (unsigned attempt = 0; attempt < 16; ++attempt) {
    const std::string path = fresh_name(place_, attempt);
    auto stream = std::make_unique<file_stream>(path, "w+bx", platform::file_lock::none);
    if (stream->is_open()) {
      stream->show_as(target_);  // messages name the file the user knows
      fresh_ = std::move(stream);
      fresh_path_ = path;
      if (old_) platform::copy_permissions(old_->file_handle(), fresh_->file_handle());
      return opened::ok;
    }
    error_ = stream->error_text();
    if (!fs::exists(path, error)) break;  // not a name taken by chance
  }
  return opened::failed;
}

bool replacement_file::commit() {
  if (!fresh_->sync_to_disk()) {
    error_ = fresh_->error_text();
    return false;
  }
  fresh_.reset();
  if (platform::replace_needs_closed_files()) old_.reset();
  if (!platform::replace_file(fresh_path_, place_)) {
    error_ = platform::error_text(errno);
    return false;
  }
  committed_ = true;
  old_.reset();
  // The rename is what makes the image the target: it must last as well.
  // A folder that cannot say so is taken as it is.
  platform::sync_folder(folder_of(place_));
  return true;
}

}  // namespace hybrid
