// How the Windows program answers the jobs: message boxes and the partition
// dialog, none of them owned by the main window, so that it stays usable
// (and a second Start is refused by the dispatch, not by a disabled window).
#pragma once

#include "hybrid/questions.h"

namespace app {

class message_box_questions : public hybrid::questions {
 public:
  void notice(const std::string& text) override;
  bool warning(const std::string& text) override;
  int choose_partition(const hybrid::partition_list& list) override;
};

}  // namespace app
