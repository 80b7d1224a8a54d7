#include "cli/terminal_questions.h"

#include <string>
#include <utility>

#include "cli/interrupt.h"
#include "cli/plan_text.h"
#include "hybrid/messages.h"
#include "hybrid/printable.h"

namespace cli {

terminal_questions::terminal_questions(preset_answers answers, std::FILE* in, std::FILE* err,
                                       bool interactive, bool show_progress, bool quiet)
    : answers_(std::move(answers)),
      in_(in),
      err_(err),
      interactive_(interactive),
      show_progress_(show_progress),
      quiet_(quiet),
      bar_(err) {}

namespace {

// A job's message or question: it may quote a name read from an image or a
// device, and keeps only its own line breaks.
std::string shown(const std::string& text) {
  return hybrid::printable(text, hybrid::line_breaks::keep);
}

}  // namespace

void terminal_questions::notice(const std::string& text) {
  std::fprintf(err_, "%s\n", shown(text).c_str());
  std::fflush(err_);
}

bool terminal_questions::read_answer(std::string& answer) {
  answer.clear();
  int c;
  while ((c = std::fgetc(in_)) != EOF && c != '\n') answer.push_back(static_cast<char>(c));
  if (c != EOF || !answer.empty()) return true;
  std::fprintf(err_, "\n%s\n", hybrid::text::answered_no_input);
  return false;
}

namespace {

std::string lower_case(std::string word) {
  for (char& c : word) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return word;
}

}  // namespace

bool terminal_questions::ask_ok(const std::string& text, bool preset, const char* option) {
  if (answers_.yes || preset) {
    if (!quiet_) {
      const std::string answered =
          answers_.yes ? hybrid::text::answered_ok : hybrid::text::answered_ok_by(option);
      std::fprintf(err_, "%s\n%s\n", shown(text).c_str(), answered.c_str());
    }
    return true;
  }
  std::fprintf(err_, "%s\n", shown(text).c_str());
  if (!interactive_) {
    const std::string cancelled = option == nullptr ? hybrid::text::answered_cancel
                                                    : hybrid::text::answered_cancel_for(option);
    std::fprintf(err_, "%s\n", cancelled.c_str());
    return false;
  }
  for (;;) {
    std::fputs(hybrid::text::ok_or_cancel, err_);
    std::fflush(err_);
    std::string answer;
    if (!read_answer(answer)) return false;
    answer = lower_case(answer);
    if (answer == "o" || answer == "ok" || answer == "y" || answer == "yes") return true;
    if (answer == "c" || answer == "cancel" || answer == "n" || answer == "no") return false;
  }
}

bool terminal_questions::warning(const std::string& text) { return ask_ok(text, false, nullptr); }

bool terminal_questions::warning_about(hybrid::warning_kind kind, const std::string& text) {
  return ask_ok(text, answers_.approved.contains(kind), answer_option(kind));
}

namespace {

// A partition's size in MB (1,000,000 bytes), one decimal.
std::string megabytes(std::uint32_t blocks) {
  const std::uint64_t tenths = (std::uint64_t{blocks} * hybrid::block_bytes + 50000) / 100000;
  return std::to_string(tenths / 10) + "." + std::to_string(tenths % 10);
}

void print_rows(std::FILE* err, const hybrid::partition_list& list, int rows,
                const hybrid::volume_names& volumes) {
  std::fprintf(err, "Select partition to open\n  %-32s %-27s %10s\n", "Partition", "HFS volume",
               "Size (MB)");
  for (int row = 0; row < rows; ++row) {
    const auto at = static_cast<std::size_t>(row);
    const hybrid::hfs_partition& slot = list[at];
    std::fprintf(err, "%d %-32s %-27s %10s\n", row, hybrid::printable(slot.name).c_str(),
                 hybrid::printable(volumes[at]).c_str(), megabytes(slot.block_count).c_str());
  }
}

}  // namespace

int terminal_questions::row_named(const hybrid::partition_list& list, int rows,
                                  const hybrid::volume_names& volumes) {
  const std::string& name = *answers_.partition_name;
  // The partitions' own names first; failing those, their volumes' names.
  int found = hybrid::choice_cancelled, matches = 0;
  for (const bool by_volume : {false, true}) {
    for (int row = 0; row < rows; ++row) {
      const auto at = static_cast<std::size_t>(row);
      if (name == (by_volume ? volumes[at] : std::string(list[at].name))) {
        found = row;
        ++matches;
      }
    }
    if (matches != 0) break;
  }
  if (matches == 1) return found;
  print_rows(err_, list, rows, volumes);
  std::fprintf(err_, "%s\n",
               hybrid::text::partition_name_refused(matches, hybrid::printable(name)).c_str());
  return hybrid::choice_cancelled;
}

int terminal_questions::choose_partition(const hybrid::partition_list& list) {
  return choose_partition_named(list, {});
}

int terminal_questions::choose_partition_named(const hybrid::partition_list& list,
                                               const hybrid::volume_names& volumes) {
  const int rows = hybrid::listed_rows(list);
  // An answer given ahead of time shows the menu only when it fits no row.
  if (answers_.partition_name) return row_named(list, rows, volumes);
  if (answers_.partition) {
    const int row = *answers_.partition;
    if (row == hybrid::choice_all || row < rows) return row;
    print_rows(err_, list, rows, volumes);
    std::fprintf(err_, "%s\n", hybrid::text::no_such_partition(*answers_.partition).c_str());
    return hybrid::choice_cancelled;
  }
  print_rows(err_, list, rows, volumes);
  if (!interactive_) {
    std::fprintf(err_, "%s\n", hybrid::text::partition_unanswered(rows > 0 ? rows - 1 : 0).c_str());
    return hybrid::choice_cancelled;
  }
  for (;;) {
    std::fputs(hybrid::text::partition_prompt(rows > 0 ? rows - 1 : 0).c_str(), err_);
    std::fflush(err_);
    std::string answer;
    if (!read_answer(answer) || answer == "cancel" || answer == "c")
      return hybrid::choice_cancelled;
    if (answer == "all" || answer == "a") return hybrid::choice_all;
    if (answer.size() == 1 && answer[0] >= '0' && answer[0] < '0' + rows) return answer[0] - '0';
    std::fprintf(err_, "%s\n", hybrid::text::no_partition_chosen);
  }
}

void terminal_questions::copy_started(std::uint64_t total_bytes) {
  if (show_progress_) bar_.start(total_bytes);
}

void terminal_questions::copy_advanced(std::uint64_t bytes_done) {
  if (show_progress_) bar_.update(bytes_done);
}

bool terminal_questions::stop_requested() { return interrupted(); }

void terminal_questions::copy_ended() {
  if (show_progress_) bar_.finish();
}

void terminal_questions::show_plan(const hybrid::hybrid_layout& layout, std::uint64_t iso_length) {
  std::fputs(shown(plan_text(layout, iso_length)).c_str(), plan_out_);
  std::fflush(plan_out_);
}

void terminal_questions::show_plan(const hybrid::extract_plan& plan) {
  std::fputs(shown(plan_text(plan)).c_str(), plan_out_);
  std::fflush(plan_out_);
}

}  // namespace cli
