// The jobs' questions on a terminal: answered from the options when the user
// gave them, asked at the prompt when a person is there, and otherwise
// answered with Cancel, saying which option would have answered.
#pragma once

#include <cstdio>
#include <optional>

#include "cli/options.h"
#include "cli/progress_bar.h"
#include "hybrid/questions.h"

namespace cli {

class terminal_questions final : public hybrid::questions {
 public:
  // `in` is read only when `interactive`; messages and prompts go to `err`.
  // `quiet`: a question answered from the options is not shown.
  terminal_questions(preset_answers answers, std::FILE* in, std::FILE* err, bool interactive,
                     bool show_progress, bool quiet = false);
  // A dry run, with the plan printed to `out`.
  void plan_to(std::FILE* out) { plan_out_ = out; }

  void notice(const std::string& text) override;
  bool warning(const std::string& text) override;
  int choose_partition(const hybrid::partition_list& list) override;
  bool warning_about(hybrid::warning_kind kind, const std::string& text) override;
  bool wants_volume_names() const override { return true; }
  int choose_partition_named(const hybrid::partition_list& list,
                             const hybrid::volume_names& volumes) override;
  std::optional<std::uint64_t> medium_bytes() const override { return answers_.medium_bytes; }

  void copy_started(std::uint64_t total_bytes) override;
  void copy_advanced(std::uint64_t bytes_done) override;
  void copy_ended() override;
  bool stop_requested() override;

  bool dry_run() const override { return plan_out_ != nullptr; }
  void show_plan(const hybrid::hybrid_layout& layout, std::uint64_t iso_length) override;
  void show_plan(const hybrid::extract_plan& plan) override;

 private:
  // One line from the user, without its end; false at the end of input,
  // which is told.
  bool read_answer(std::string& answer);
  // A question answered OK by `option` when given, else from the terminal.
  bool ask_ok(const std::string& text, bool preset, const char* option);
  // The preset --partition NAME as a row; choice_cancelled, with the reason
  // printed, when no row or several rows carry the name.
  int row_named(const hybrid::partition_list& list, int rows, const hybrid::volume_names& volumes);

  preset_answers answers_;
  std::FILE* in_;
  std::FILE* err_;
  bool interactive_;
  bool show_progress_;
  bool quiet_;
  std::FILE* plan_out_ = nullptr;
  progress_bar bar_;
};

}  // namespace cli
