// The jobs' questions on a terminal: answered from the options when the user
// gave them, asked at the prompt when a person is there, and otherwise
// answered with Cancel, saying which option would have answered.
#pragma once

#include <cstdio>

#include "cli/options.h"
#include "cli/progress_bar.h"
#include "hybrid/questions.h"

namespace cli {

class terminal_questions final : public hybrid::questions {
 public:
  // `in` is read only when `interactive`; messages and prompts go to `err`.
  terminal_questions(preset_answers answers, std::FILE* in, std::FILE* err, bool interactive,
                     bool show_progress);

  void notice(const std::string& text) override;
  bool warning(const std::string& text) override;
  int choose_partition(const hybrid::partition_list& list) override;

  void copy_started(std::uint64_t total_bytes) override;
  void copy_advanced(std::uint64_t bytes_done) override;
  void copy_ended() override;
  bool stop_requested() override;

 private:
  // One line from the user, without its end; false at the end of input.
  bool read_answer(std::string& answer);

  preset_answers answers_;
  std::FILE* in_;
  std::FILE* err_;
  bool interactive_;
  bool show_progress_;
  progress_bar bar_;
};

}  // namespace cli
