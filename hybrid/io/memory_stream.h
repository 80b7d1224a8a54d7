// A byte_stream held in memory. The jobs lay out map blocks in one before
// they touch the ISO image, and tests use it as a file that cannot surprise.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "hybrid/io/byte_stream.h"

namespace hybrid {

class memory_stream : public byte_stream {
 public:
  explicit memory_stream(std::string name = "memory", std::vector<std::uint8_t> bytes = {});

  std::size_t read(void* buffer, std::size_t count) override;
  bool write(const void* buffer, std::size_t count) override;
  bool seek(std::uint64_t offset) override;
  bool seek_to_end() override;
  bool tell(std::uint64_t& offset) override;
  bool flush() override { return true; }
  bool sync_to_disk() override { return true; }
  bool length(std::uint64_t& bytes) override;
  bool truncate(std::uint64_t bytes) override;
  // A regular file whose count of changes stands in for both times of the
  // last change: every write and truncate, and every touch(), counts one.
  bool status(platform::file_status& status) override;
  std::unique_ptr<byte_stream> open_scratch(std::string& why_not) override;
  const std::string& name() const override { return name_; }
  std::string error_text() const override { return {}; }

  const std::vector<std::uint8_t>& bytes() const { return bytes_; }
  std::vector<std::uint8_t>& bytes() { return bytes_; }
  // Counts a change made through bytes().
  void touch() { ++changes_; }

 private:
  std::string name_;
  std::vector<std::uint8_t> bytes_;
  std::uint64_t position_ = 0;
  std::int64_t changes_ = 0;
};

}  // namespace hybrid
