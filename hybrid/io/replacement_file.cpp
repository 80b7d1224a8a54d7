#include "hybrid/io/replacement_file.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string_view>
#include <system_error>

#include "platform/file_ops.h"
#include "platform/file_sync.h"

namespace hybrid {
namespace {

namespace fs = std::filesystem;

constexpr unsigned name_attempts = 16;

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

bool is_lower_hex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); }
bool is_digit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

// NAME, a dot, eight lowercase hex digits, the attempt (0 to 15), ".part".
bool is_new_file_name(const std::string& leaf) {
  constexpr std::string_view part = ".part";
  if (!leaf.ends_with(part)) return false;
  const std::string_view stem(leaf.data(), leaf.size() - part.size());
  const std::size_t dot = stem.rfind('.');
  if (dot == std::string_view::npos || dot == 0) return false;
  const std::string_view tail = stem.substr(dot + 1);
  if (tail.size() != 9 && tail.size() != 10) return false;
  return std::all_of(tail.begin(), tail.begin() + 8, is_lower_hex) &&
         std::all_of(tail.begin() + 8, tail.end(), is_digit);
}

std::size_t remove_leftover_new_files(const std::string& folder) {
  std::error_code error;
  std::size_t removed = 0;
  for (fs::directory_iterator entry(folder, fs::directory_options::skip_permission_denied, error),
       end;
       !error && entry != end; entry.increment(error)) {
    if (!is_new_file_name(entry->path().filename().string())) continue;
    if (platform::remove_unheld_file(entry->path().string())) ++removed;
  }
  return removed;
}

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
  } else {
    usual_mode_ = platform::usual_new_file_mode();
  }
  const std::string folder = folder_of(place_);
  remove_leftover_new_files(folder);
  if (std::FILE* unnamed = platform::open_unnamed_new_file(folder)) {
    fresh_ = std::make_unique<file_stream>(target_, unnamed);  // messages name the target
    unnamed_ = true;
    return opened::ok;
  }
  for (unsigned attempt = 0; attempt < name_attempts; ++attempt) {
    const std::string path = fresh_name(place_, attempt);
    errno = 0;
    if (std::FILE* named = platform::open_named_new_file(path)) {
      fresh_ = std::make_unique<file_stream>(target_, named);
      fresh_path_ = path;
      return opened::ok;
    }
    const int error_number = errno != 0 ? errno : EIO;
    error_ = platform::error_text(error_number);
    if (error_number != EEXIST) break;  // not a name taken by chance
  }
  return opened::failed;
}

bool replacement_file::commit() {
  if (!fresh_->sync_to_disk()) {
    error_ = fresh_->error_text();
    return false;
  }
  platform::set_final_permissions(fresh_->file_handle(), old_ ? old_->file_handle() : nullptr,
                                  usual_mode_);
  // Named the way a leftover is: a kill before the rename leaves a file
  // that the next run removes.
  for (unsigned attempt = 0; unnamed_ && attempt < name_attempts; ++attempt) {
    const std::string path = fresh_name(place_, attempt);
    errno = 0;
    if (platform::name_new_file(fresh_->file_handle(), path)) {
      fresh_path_ = path;
      unnamed_ = false;
    } else if (errno != EEXIST) {
      break;
    }
  }
  if (unnamed_) {
    error_ = platform::error_text(errno != 0 ? errno : EIO);
    return false;
  }
  // Where the system allows, the new file stays open, and locked, until it
  // has taken the target's place.
  if (platform::replace_needs_closed_files()) {
    fresh_.reset();
    old_.reset();
  }
  if (!platform::replace_file(fresh_path_, place_)) {
    error_ = platform::error_text(errno);
    return false;
  }
  committed_ = true;
  fresh_.reset();
  old_.reset();
  // The rename is what makes the image the target: it must last as well.
  // A folder that cannot say so is taken as it is.
  platform::sync_folder(folder_of(place_));
  return true;
}

}  // namespace hybrid
