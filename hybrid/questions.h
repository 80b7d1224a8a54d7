// What a job may ask the user, and how it tells progress. Jobs never see a
// window: the Windows program answers with message boxes and the partition
// dialog, the headless front end on the terminal or from its options, tests
// from a script.
#pragma once

#include <cstdint>
#include <string>

#include "hybrid/apm/partition_map.h"
#include "hybrid/io/copy_progress.h"

namespace hybrid {

// Results of the partition choice besides a row 0 to 7.
constexpr int choice_cancelled = -1;
constexpr int choice_all = -2;

class questions : public copy_progress {
 public:
  virtual ~questions() = default;

  // A notice with the one button OK.
  virtual void notice(const std::string& text) = 0;
  // A warning with OK and Cancel; true for OK.
  virtual bool warning(const std::string& text) = 0;
  // Which partition: a row 0 to 7, choice_all or choice_cancelled. Jobs ask
  // only when two or more partitions are listed; the rows offered are those
  // before the first slot with an empty name.
  virtual int choose_partition(const partition_list& list) = 0;
};

}  // namespace hybrid
