// Helpers for tests that run tools: folders of their own, environment
// variables set for a while, fake tools written as shell scripts.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

namespace test {

// A new folder under /tmp, removed with its contents.
class temp_folder {
 public:
  temp_folder() {
    char name[] = "/tmp/zelvorant-test-XXXXXX";
    if (mkdtemp(name) != nullptr) path_ = name;
  }
  ~temp_folder() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  temp_folder(const temp_folder&) = delete;
  temp_folder& operator=(const temp_folder&) = delete;
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }
  bool is_empty() const { return std::filesystem::is_empty(path_); }

 private:
  std::string path_;
};

// Sets (or, with no value, removes) an environment variable and puts the old
// value back at the end of the scope.
class scoped_env {
 public:
  scoped_env(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value != nullptr)
      setenv(name, value, 1);
    else
      unsetenv(name);
  }
  scoped_env(const char* name, const std::string& value) : scoped_env(name, value.c_str()) {}
  ~scoped_env() {
    if (old_)
      setenv(name_.c_str(), old_->c_str(), 1);
    else
      unsetenv(name_.c_str());
  }
  scoped_env(const scoped_env&) = delete;
  scoped_env& operator=(const scoped_env&) = delete;

 private:
  std::string name_;
  std::optional<std::string> old_;
};

inline void write_file(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

inline std::vector<std::uint8_t> read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline std::string read_text(const std::string& path) {
  const auto bytes = read_file(path);
  return {bytes.begin(), bytes.end()};
}

// An executable /bin/sh script with the given body.
inline void write_script(const std::string& path, const std::string& body) {
  std::ofstream(path) << "#!/bin/sh\n" << body << "\n";
  chmod(path.c_str(), 0755);
}

}  // namespace test
