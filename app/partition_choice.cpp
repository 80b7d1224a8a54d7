#include "app/partition_choice.h"

#include "hybrid/questions.h"

namespace app {

std::vector<partition_row> partition_rows(const hybrid::partition_list& list) {
  std::vector<partition_row> rows;
  const int count = hybrid::listed_rows(list);
  for (int i = 0; i < count; ++i) {
    const hybrid::hfs_partition& slot = list[static_cast<std::size_t>(i)];
    rows.push_back({slot.name, std::to_string(slot.block_count)});
  }
  return rows;
}

std::optional<int> partition_ok(int marked_row, bool all_partitions) {
  if (all_partitions) return hybrid::choice_all;
  if (marked_row == no_row_marked) return std::nullopt;
  return marked_row;
}

}  // namespace app
