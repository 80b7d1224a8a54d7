// A byte_stream held in memory. The jobs lay out map blocks in one before
// they touch the ISO image, and tests use it as a file that cannot surprise.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "hybrid/io/byte_stream.h"

namespace hybrid {

using shared_bytes = std::shared_ptr<std::vector<std::uint8_t>>;

// A folder held in memory: its files by name, each file's bytes shared with
// the streams opened on it, so that they outlive the streams.
class memory_folder : public file_folder {
 public:
  std::map<std::string, shared_bytes> files;

  std::unique_ptr<byte_stream> make_file(const std::string& name, const byte_stream& like) override;
  std::unique_ptr<byte_stream> open_file(const std::string& name, bool& missing) override;
  bool rename(const std::string& from, const std::string& to) override;
  bool remove(const std::string& name) override;
  bool sync() override { return true; }
  std::string error_text() const override { return {}; }
};

class memory_stream : public byte_stream {
 public:
  explicit memory_stream(std::string name = "memory", std::vector<std::uint8_t> bytes = {});
  // A stream over bytes that a folder holds as a file.
  memory_stream(std::string name, shared_bytes bytes);
  memory_stream(const memory_stream&) = delete;
  memory_stream& operator=(const memory_stream&) = delete;

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
  file_folder* folder() override { return folder_.get(); }
  const std::string& name() const override { return name_; }
  std::string error_text() const override { return {}; }

  const std::vector<std::uint8_t>& bytes() const { return bytes_; }
  std::vector<std::uint8_t>& bytes() { return bytes_; }
  // Counts a change made through bytes().
  void touch() { ++changes_; }
  // The folder the stream lies in: its own, or one that another stream (an
  // earlier run's) lies in too.
  const std::shared_ptr<memory_folder>& shared_folder() const { return folder_; }
  void share_folder(std::shared_ptr<memory_folder> folder) { folder_ = std::move(folder); }

 private:
  std::string name_;
  shared_bytes store_;
  std::vector<std::uint8_t>& bytes_ = *store_;
  std::shared_ptr<memory_folder> folder_ = std::make_shared<memory_folder>();
  std::uint64_t position_ = 0;
  std::int64_t changes_ = 0;
};

}  // namespace hybrid
