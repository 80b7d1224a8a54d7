// What the partition dialog shows and what its OK button decides, apart from
// the window that shows it.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "hybrid/apm/partition_map.h"

namespace app {

// The row a click has marked, before any click.
constexpr int no_row_marked = -1;

struct partition_row {
  std::string name;
  std::string blocks;  // the block count in decimal
};

// One row per listed partition: the slots before the first empty name.
std::vector<partition_row> partition_rows(const hybrid::partition_list& list);

// OK: "All partitions" wins over a marked row; with neither, nothing (the
// user is told and the dialog stays open).
std::optional<int> partition_ok(int marked_row, bool all_partitions);

}  // namespace app
