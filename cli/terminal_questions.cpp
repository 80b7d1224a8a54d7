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
  return c != EOF || !answer.empty();
}

bool terminal_questions::warning(const std::string& text) {
  if (answers_.yes) {
    if (!quiet_) std::fprintf(err_, "%s\n%s\n", shown(text).c_str(), hybrid::text::answered_ok);
    return true;
  }
  std::fprintf(err_, "%s\n", shown(text).c_str());
  if (!interactive_) {
    std::fprintf(err_, "%s\n", hybrid::text::answered_cancel);
    return false;
  }
  for (;;) {
    std::fputs(hybrid::text::ok_or_cancel, err_);
    std::fflush(err_);
    std::string answer;
    if (!read_answer(answer)) return false;
    if (answer == "o" || answer == "O" || answer == "ok" || answer == "OK") return true;
    if (answer == "c" || answer == "C" || answer == "cancel" || answer == "Cancel") return false;
  }
}

namespace {

void print_rows(std::FILE* err, const hybrid::partition_list& list, int rows) {
  std::fprintf(err, "Select partition to open\n  %-32s %s\n", "Partition", "Nb sectors");
  for (int row = 0; row < rows; ++row) {
    const hybrid::hfs_partition& slot = list[static_cast<std::size_t>(row)];
    std::fprintf(err, "%d %-32s %lu\n", row, hybrid::printable(slot.name).c_str(),
                 static_cast<unsigned long>(slot.block_count));
  }
}

}  // namespace

int terminal_questions::row_named(const hybrid::partition_list& list, int rows) {
  const std::string& name = *answers_.partition_name;
  int found = hybrid::choice_cancelled, matches = 0;
  for (int row = 0; row < rows; ++row) {
    if (name == list[static_cast<std::size_t>(row)].name) {
      found = row;
      ++matches;
    }
  }
  if (matches == 1) return found;
  // The rows were not printed in quiet mode: the refusal lists them.
  if (quiet_) print_rows(err_, list, rows);
  std::fprintf(err_, "%s\n",
               hybrid::text::partition_name_refused(matches, hybrid::printable(name)).c_str());
  return hybrid::choice_cancelled;
}

int terminal_questions::choose_partition(const hybrid::partition_list& list) {
  const int rows = hybrid::listed_rows(list);
  const bool preset = answers_.partition || answers_.partition_name;
  if (!(preset && quiet_)) print_rows(err_, list, rows);
  if (answers_.partition_name) return row_named(list, rows);
  if (answers_.partition) {
    const int row = *answers_.partition;
    if (row == hybrid::choice_all || row < rows) return row;
    if (quiet_) print_rows(err_, list, rows);
    std::fprintf(err_, "%s\n", hybrid::text::no_such_partition(*answers_.partition).c_str());
    return hybrid::choice_cancelled;
  }
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
