#include "hybrid/io/memory_stream.h"

#include <algorithm>
#include <cstring>

namespace hybrid {

memory_stream::memory_stream(std::string name, std::vector<std::uint8_t> bytes)
    : name_(std::move(name)), bytes_(std::move(bytes)) {}

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
