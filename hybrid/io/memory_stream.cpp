#include "hybrid/io/memory_stream.h"

#include <algorithm>
#include <cstring>

namespace hybrid {

std::unique_ptr<byte_stream> memory_folder::make_file(const std::string& name, const byte_stream&) {
  if (files.count(name) != 0) return nullptr;
  return std::make_unique<memory_stream>(
      name, files[name] = std::make_shared<std::vector<std::uint8_t>>());
}

std::unique_ptr<byte_stream> memory_folder::open_file(const std::string& name, bool& missing) {
  const auto found = files.find(name);
  missing = found == files.end();
  if (missing) return nullptr;
  return std::make_unique<memory_stream>(name, found->second);
}

bool memory_folder::rename(const std::string& from, const std::string& to) {
  const auto found = files.find(from);
  if (found == files.end() || files.count(to) != 0) return false;
  files[to] = found->second;
  files.erase(from);
  return true;
}

bool memory_folder::remove(const std::string& name) { return files.erase(name) != 0; }

memory_stream::memory_stream(std::string name, std::vector<std::uint8_t> bytes)
    : memory_stream(std::move(name),
                    std::make_shared<std::vector<std::uint8_t>>(std::move(bytes))) {}

memory_stream::memory_stream(std::string name, shared_bytes bytes)
    : name_(std::move(name)), store_(std::move(bytes)) {}

std::size_t memory_stream::read(void* buffer, std::size_t count) {
  if (count == 0 || position_ >= bytes_.size()) return 0;
  const std::size_t available = bytes_.size() - static_cast<std::size_t>(position_);
  const std::size_t got = std::min(count, available);
  std::memcpy(buffer, bytes_.data() + position_, got);
  position_ += got;
  return got;
}

bool memory_stream::write(const void* buffer, std::size_t count) {
  const std::size_t at = static_cast<std::size_t>(position_);
  if (bytes_.size() < at + count) bytes_.resize(at + count);  // a gap reads as zeros
  if (count != 0) std::memcpy(bytes_.data() + at, buffer, count);
  position_ += count;
  ++changes_;
  return true;
}

bool memory_stream::seek(std::uint64_t offset) {
  position_ = offset;
  return true;
}

bool memory_stream::seek_to_end() {
  position_ = bytes_.size();
  return true;
}

bool memory_stream::tell(std::uint64_t& offset) {
  offset = position_;
  return true;
}

bool memory_stream::length(std::uint64_t& bytes) {
  bytes = bytes_.size();
  return true;
}

bool memory_stream::truncate(std::uint64_t bytes) {
  bytes_.resize(static_cast<std::size_t>(bytes));
  ++changes_;
  return true;
}

bool memory_stream::status(platform::file_status& status) {
  status = {platform::file_kind::regular, bytes_.size(), changes_, changes_};
  return true;
}

std::unique_ptr<byte_stream> memory_stream::open_scratch(std::string&) {
  return std::make_unique<memory_stream>("a scratch stream beside " + name_);
}

}  // namespace hybrid
