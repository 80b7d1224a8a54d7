#include "cli/progress_bar.h"

namespace cli {
namespace {

constexpr auto moment = std::chrono::milliseconds(500);
constexpr auto redraw_every = std::chrono::milliseconds(100);
constexpr int bar_width = 40;

}  // namespace

void progress_bar::start(std::uint64_t total_bytes) {
  total_ = total_bytes;
  started_ = clock::now();
  shown_ = false;
  running_ = total_bytes > 0;
}

void progress_bar::update(std::uint64_t bytes_done) {
  if (!running_) return;
  const auto now = clock::now();
  if (now - started_ < moment) return;
  if (shown_ && now - last_drawn_ < redraw_every) return;
  last_drawn_ = now;
  shown_ = true;
  draw(bytes_done);
}

void progress_bar::draw(std::uint64_t bytes_done) {
  const double share = total_ ? static_cast<double>(bytes_done) / static_cast<double>(total_) : 1.0;
  const int filled = static_cast<int>(share * bar_width);
  char bar[bar_width + 1];
  for (int i = 0; i < bar_width; ++i) bar[i] = i < filled ? '#' : '.';
  bar[bar_width] = '\0';
  std::fprintf(out_, "\r[%s] %3d%%  %llu / %llu MB", bar, static_cast<int>(share * 100),
               static_cast<unsigned long long>(bytes_done >> 20),
               static_cast<unsigned long long>(total_ >> 20));
  std::fflush(out_);
}

void progress_bar::finish() {
  if (running_ && shown_) {
    draw(total_);
    std::fputc('\n', out_);
    std::fflush(out_);
  }
  running_ = false;
}

}  // namespace cli
