// A progress bar on a terminal, shown only when a copy lasts longer than a
// moment, so quick jobs print nothing extra.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>

namespace cli {

class progress_bar {
 public:
  explicit progress_bar(std::FILE* out) : out_(out) {}
  void start(std::uint64_t total_bytes);
  void update(std::uint64_t bytes_done);
  void finish();

 private:
  using clock = std::chrono::steady_clock;
  void draw(std::uint64_t bytes_done);

  std::FILE* out_;
  std::uint64_t total_ = 0;
  clock::time_point started_{};
  clock::time_point last_drawn_{};
  bool shown_ = false;
  bool running_ = false;
};

}  // namespace cli
