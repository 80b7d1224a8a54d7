#include "app/partition_choice.h"

#include <gtest/gtest.h>

#include <cstring>

#include "app/dialog_placement.h"
#include "hybrid/questions.h"

namespace {

hybrid::hfs_partition slot(const char* name, std::uint32_t blocks) {
  hybrid::hfs_partition p{};
  std::strncpy(p.name, name, sizeof p.name - 1);
  p.first_block = 64;
  p.block_count = blocks;
  return p;
}

TEST(PartitionRows, OneRowPerListedPartition) {
  hybrid::partition_list list;
  hybrid::clear_partition_list(list);
  list[0] = slot("Games", 100);
  list[1] = slot("Empty one", 0);
  const auto rows = app::partition_rows(list);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].name, "Games");
  EXPECT_EQ(rows[0].blocks, "100");
  EXPECT_EQ(rows[1].name, "Empty one");
  EXPECT_EQ(rows[1].blocks, "0");
}

TEST(PartitionRows, AnEmptyNameEndsTheList) {
  hybrid::partition_list list;
  hybrid::clear_partition_list(list);
  list[0] = slot("First", 8);
  list[2] = slot("Behind the gap", 8);
  ASSERT_EQ(app::partition_rows(list).size(), 1u);
  // A full list shows eight rows, never the slot that ends it.
  for (std::size_t i = 0; i < list.size(); ++i) list[i] = slot("P", static_cast<std::uint32_t>(i));
  EXPECT_EQ(app::partition_rows(list).size(), 8u);
  EXPECT_EQ(app::partition_rows(list).back().blocks, "7");
}

TEST(PartitionOk, AllPartitionsWinsAndNothingChosenStaysOpen) {
  EXPECT_FALSE(app::partition_ok(app::no_row_marked, false).has_value());
  EXPECT_EQ(app::partition_ok(app::no_row_marked, true), hybrid::choice_all);
  EXPECT_EQ(app::partition_ok(1, true), hybrid::choice_all);
  EXPECT_EQ(app::partition_ok(1, false), 1);
  EXPECT_EQ(app::partition_ok(0, false), 0);
}

TEST(DialogPlacement, CentresOnTheReferenceAndStaysOnScreen) {
  using app::centered_start;
  EXPECT_EQ(centered_start(0, 800, 200, 800), 300);
  // Halves truncate toward zero, on either side.
  EXPECT_EQ(centered_start(100, 301, 100, 800), 200);
  EXPECT_EQ(centered_start(100, 40, 201, 800), 20);
  // A small owner near the left or right edge: pushed back inside.
  EXPECT_EQ(centered_start(-50, 40, 200, 800), 0);
  EXPECT_EQ(centered_start(760, 40, 200, 800), 600);
  // Wider than the screen: centred off the left edge it starts at 0; an owner
  // far to the right puts it at screen - width, off the left edge.
  EXPECT_EQ(centered_start(0, 800, 1000, 800), 0);
  EXPECT_EQ(centered_start(700, 800, 1000, 800), -200);
}

}  // namespace
