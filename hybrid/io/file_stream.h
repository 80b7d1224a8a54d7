// A byte_stream over a standard library file, owned: closing is the
// destructor's job, so no path of the dispatch can leak a handle.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

#include "hybrid/io/byte_stream.h"
#include "platform/file_lock.h"

namespace hybrid {

class file_stream;

// The system's folder that a file_stream's file lies in.
class system_folder final : public file_folder {
 public:
  explicit system_folder(const file_stream& file) : file_(file) {}
  std::unique_ptr<byte_stream> make_file(const std::string& name, const byte_stream& like) override;
  std::unique_ptr<byte_stream> open_file(const std::string& name, bool& missing) override;
  bool rename(const std::string& from, const std::string& to) override;
  bool remove(const std::string& name) override;
  bool sync() override;
  std::string error_text() const override;

 private:
  bool failed();  // records errno; always false

  const file_stream& file_;
  int last_errno_ = 0;
};

class file_stream final : public byte_stream {
 public:
  // Opens `path` with a standard library mode ("r+b", "w+b", ...); check
  // is_open() afterwards.
  file_stream(std::string path, const char* mode);
  // Takes over a file that is already open; `name` is what messages call it.
  file_stream(std::string name, std::FILE* adopted);
  // The same, locked against other jobs (see platform/file_lock.h); when
  // another job holds the file, is_open() is false and in_use() true.
  file_stream(std::string path, const char* mode, platform::file_lock lock);
  ~file_stream() override;
  file_stream(const file_stream&) = delete;
  file_stream& operator=(const file_stream&) = delete;

  bool is_open() const { return file_ != nullptr; }
  bool in_use() const { return in_use_; }
  // Messages name the file as `name` from now on (a new file that will take
  // the place of the file the user named).
  void show_as(std::string name) { path_ = std::move(name); }

  std::size_t read(void* buffer, std::size_t count) override;
  bool write(const void* buffer, std::size_t count) override;
  bool seek(std::uint64_t offset) override;
  bool seek_to_end() override;
  bool tell(std::uint64_t& offset) override;
  bool flush() override;
  bool sync_to_disk() override;
  bool length(std::uint64_t& bytes) override;
  bool truncate(std::uint64_t bytes) override;
  bool status(platform::file_status& status) override;
  std::unique_ptr<byte_stream> open_scratch(std::string& why_not) override;
  file_folder* folder() override { return &folder_; }
  const std::string& name() const override { return path_; }
  std::string error_text() const override;
  std::FILE* file_handle() const override { return file_; }
  std::uint64_t sharing_block_bytes(const byte_stream& source) override;
  bool share_blocks(byte_stream& source, std::uint64_t source_offset, std::uint64_t offset,
                    std::uint64_t length) override;

 private:
  bool failed();  // records errno; always false

  std::string path_;
  std::FILE* file_ = nullptr;
  int last_errno_ = 0;
  bool in_use_ = false;
  system_folder folder_{*this};
};

}  // namespace hybrid
