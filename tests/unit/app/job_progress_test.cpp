#include "app/job_progress.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace {

TEST(JobProgress, ProgressStatusShowsShareAndMegabytes) {
  constexpr std::uint64_t mb = 1u << 20;
  EXPECT_EQ(app::progress_status(312 * mb, 600 * mb),
            "Working, please wait... 52% (312 of 600 MB)");
  EXPECT_EQ(app::progress_status(0, 600 * mb), "Working, please wait... 0% (0 of 600 MB)");
  EXPECT_EQ(app::progress_status(600 * mb, 600 * mb),
            "Working, please wait... 100% (600 of 600 MB)");
  // Past 4 GiB the share is still right (no 32-bit product).
  EXPECT_EQ(app::progress_status(3000 * mb, 6000 * mb),
            "Working, please wait... 50% (3000 of 6000 MB)");
  // Nothing to copy, or a count past the end: never more than 100%.
  EXPECT_EQ(app::progress_status(0, 0), "Working, please wait... 100% (0 of 0 MB)");
  EXPECT_EQ(app::progress_status(2 * mb, mb), "Working, please wait... 100% (1 of 1 MB)");
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
  EXPECT_EQ(app::stop_question(hybrid::target_kind::iso_image),
            "Stop the job?\n\nThe ISO image is left as it was.");
  EXPECT_EQ(app::stop_question(hybrid::target_kind::hfs_image)
                .rfind("Stop the job?\n\nNo HFS "
                       "image file is written",
                       0),
            0u);
}

}  // namespace
