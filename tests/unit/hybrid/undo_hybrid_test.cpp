#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "file_job_runs.h"
#include "hybrid/apm/big_endian.h"
#include "hybrid/jobs.h"
#include "hybrid/messages.h"
#include "test_support.h"

namespace {

using test::iso_blocks;
using test::iso_bytes;
using test::job_run;
using test::run;
using test::two_partitions;

struct undo_run {
  std::vector<std::uint8_t> original;  // the ISO image before the job
  std::vector<std::uint8_t> hybrid;
};

undo_run make_hybrid(std::vector<std::uint8_t> iso, int partition) {
  job_run job{iso, test::hfs_image(two_partitions, 120), {}, -1};
  job.ask.partition_answer = partition;
  run(job);
  EXPECT_EQ(job.result, 1);
  return {std::move(iso), job.iso};
}

// The job's hybrids, merged or with a fresh map, with or without zeros
// after the volume (xorriso's own mode leaves some), come back byte for
// byte; the map goes before the data, each on the disk.
TEST(UndoHybrid, GivesBackTheIsoImageTheJobStartedFrom) {
  auto padded = test::iso_image(iso_bytes);
  padded.resize(iso_bytes + 3 * 2048);
  for (const auto& original : {test::iso_image(iso_bytes), padded}) {
    for (const int partition : {hybrid::choice_all, 1}) {
      const undo_run images = make_hybrid(original, partition);
      test::failing_stream iso("cd.iso", images.hybrid);
      test::scripted_questions ask;
      ASSERT_EQ(test::told(hybrid::undo_hybrid(iso, ask), ask), 1);
      EXPECT_EQ(iso.bytes(), images.original) << original.size() << " " << partition;
      EXPECT_TRUE(ask.warnings.empty());
      ASSERT_EQ(ask.notices.size(), 1u);
      EXPECT_NE(ask.notices[0].find("is not restored"), std::string::npos);
      EXPECT_EQ(iso.journal.front(), "write@0+32768");
      EXPECT_EQ(iso.journal[1], "flush");
      EXPECT_EQ(iso.journal[2], "sync");
      EXPECT_EQ(iso.journal.back(), "sync");
    }
  }
}

// A failure at any step puts the hybrid back as it was, appended data and
// all; a step that did not fail leaves the plain ISO image.
TEST(UndoHybrid, AFailureAtAnyStepLeavesTheHybridWhole) {
  const undo_run images = make_hybrid(test::iso_image(iso_bytes), hybrid::choice_all);
  test::failing_stream clean("cd.iso", images.hybrid);
  test::scripted_questions quiet;
  ASSERT_EQ(test::told(hybrid::undo_hybrid(clean, quiet), quiet), 1);
  for (long step = 1; step <= clean.operations; ++step) {
    test::failing_stream iso("cd.iso", images.hybrid);
    iso.fail_at = step;
    test::scripted_questions ask;
    if (test::told(hybrid::undo_hybrid(iso, ask), ask) == 1) {
      EXPECT_EQ(iso.bytes(), images.original) << "step " << step;
    } else {
      EXPECT_EQ(iso.bytes(), images.hybrid) << "step " << step;
      ASSERT_EQ(ask.notices.size(), 1u);
      EXPECT_EQ(ask.notices[0].find(hybrid::text::iso_restored_suffix(false)), std::string::npos)
          << "step " << step << ": " << ask.notices[0];
    }
  }
}

TEST(UndoHybrid, RefusesWhatItCannotUndoAndWritesNothing) {
  const undo_run images = make_hybrid(test::iso_image(iso_bytes), hybrid::choice_all);
  auto inside = images.hybrid;  // an entry over ISO data, as other tools make them
  hybrid::put_be32(inside.data() + 1024 + 8, 70);
  auto count_lies = images.hybrid;
  hybrid::put_be32(count_lies.data() + 512 + 4, 5);
  auto past_end = images.hybrid;
  hybrid::put_be32(past_end.data() + 1536 + 8, 100000);
  const std::vector<std::pair<std::vector<std::uint8_t>, std::string>> cases = {
      {images.original, hybrid::text::undo_not_hybrid},
      {inside, hybrid::text::undo_entry_inside_volume("First", 70, 30, iso_blocks)},
      {count_lies, hybrid::text::undo_bad_count(5)},
      {past_end, hybrid::text::undo_entry_past_end("Second", 100000, iso_blocks + 50)},
      {test::iso_image(1000), hybrid::text::undo_not_hybrid},
  };
  for (const auto& [bytes, message] : cases) {
    test::failing_stream iso("cd.iso", bytes);
    test::scripted_questions ask;
    EXPECT_EQ(test::told(hybrid::undo_hybrid(iso, ask), ask), 0);
    EXPECT_EQ(ask.notices, std::vector<std::string>{message});
    EXPECT_EQ(iso.bytes(), bytes);
    EXPECT_TRUE(iso.journal.empty());
  }
}

// Bytes the job never writes (a boot record's in block 0, data after the
// map) came from elsewhere: zeroing them is asked about first.
TEST(UndoHybrid, AsksBeforeZeroingDataThatIsNotTheMap) {
  undo_run images = make_hybrid(test::iso_image(iso_bytes), hybrid::choice_all);
  images.hybrid[510] = 0x55;
  images.hybrid[511] = 0xAA;
  for (const bool ok : {false, true}) {
    test::failing_stream iso("cd.iso", images.hybrid);
    test::scripted_questions ask;
    ask.warning_answers = {ok};
    EXPECT_EQ(test::told(hybrid::undo_hybrid(iso, ask), ask), ok ? 1 : 0);
    EXPECT_EQ(ask.warnings, std::vector<std::string>{hybrid::text::undo_system_area_data});
    EXPECT_EQ(iso.bytes(), ok ? images.original : images.hybrid);
  }
}
}  // namespace
