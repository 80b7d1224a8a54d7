#include "app/job_progress.h"

#include <gtest/gtest.h>

#include <cstdint>

#include "hybrid/messages.h"

namespace {

TEST(JobProgress, ProgressStatusShowsShareAndMegabytes) {
  constexpr std::uint64_t mb = 1u << 20;
  using hybrid::text::working_share;
  EXPECT_EQ(app::progress_status(312 * mb, 600 * mb), working_share(52, 312, 600));
  EXPECT_EQ(app::progress_status(0, 600 * mb), working_share(0, 0, 600));
  EXPECT_EQ(app::progress_status(600 * mb, 600 * mb), working_share(100, 600, 600));
  // Past 4 GiB the share is still right (no 32-bit product).
  EXPECT_EQ(app::progress_status(3000 * mb, 6000 * mb), working_share(50, 3000, 6000));
  // Nothing to copy, or a count past the end: never more than 100%.
  EXPECT_EQ(app::progress_status(0, 0), working_share(100, 0, 0));
  EXPECT_EQ(app::progress_status(2 * mb, mb), working_share(100, 1, 1));
}

TEST(JobProgress, StatusLineIsRedrawnAtMostFourTimesASecond) {
  app::status_pace pace;
  EXPECT_TRUE(pace.due(1000));  // the first share at once
  EXPECT_FALSE(pace.due(1000));
  EXPECT_FALSE(pace.due(1249));
  EXPECT_TRUE(pace.due(1250));
  // Across the tick counter's wrap.
  app::status_pace wrapping;
  EXPECT_TRUE(wrapping.due(0xFFFFFFF0u));
  EXPECT_FALSE(wrapping.due(0x10u));
  EXPECT_TRUE(wrapping.due(0x100u));
}

TEST(JobProgress, StopQuestionSaysWhatBecomesOfTheTarget) {
  EXPECT_EQ(app::stop_question(hybrid::target_kind::iso_image), hybrid::text::stop_question_iso);
  EXPECT_EQ(app::stop_question(hybrid::target_kind::hfs_image), hybrid::text::stop_question_hfs);
  EXPECT_STREQ(app::shutdown_block_reason(hybrid::target_kind::iso_image),
               hybrid::text::shutdown_reason_iso);
  EXPECT_STREQ(app::shutdown_block_reason(hybrid::target_kind::hfs_image),
               hybrid::text::shutdown_reason_hfs);
}

}  // namespace
