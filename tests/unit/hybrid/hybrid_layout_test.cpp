#include "hybrid/hybrid_layout.h"

#include <gtest/gtest.h>

#include <memory>

#include "fake_bus.h"
#include "hybrid/device/device_blocks.h"
#include "hybrid/io/memory_stream.h"
#include "hybrid/messages.h"
#include "scsi/block_reader.h"
#include "scsi/device_state.h"
#include "test_support.h"

namespace {

using hybrid::plan_source;
using test::map_entry;

// The texts a source would give, told apart by the test.
plan_source plain_source() {
  const auto too_many = [](int entries) { return "too many: " + std::to_string(entries); };
  return {{}, {}, [] { return std::string("unreadable"); }, too_many, "none"};
}

// One map, read through every kind of block source the jobs use.
struct Planner : ::testing::Test {
  test::fake_bus bus;
  test::bus_scope scope{bus};
  std::uint8_t entry[2048] = {};
  scsi::scsi_request request{};
  hybrid::device_failure failure;
  std::unique_ptr<hybrid::memory_stream> stream;

  enum class kind { file, disk, cd_blocks, cd_sectors };
  std::unique_ptr<hybrid::block_source> blocks_of(kind k, const std::vector<std::uint8_t>& data) {
    bus.devices[{0, 0}] = test::device_of(data, false);
    bus.devices[{0, 1}] = test::device_of(data, true);
    scsi::devices().src_block_size = scsi::devices().aspi_unit_size = 512;
    scsi::forget_cached_sector();
    const bool disk = k == kind::disk;  // at target 0; the CD-ROM at 1
    request = {disk ? scsi::command_read : scsi::op_read6, 0, std::uint16_t{!disk}, 0, 1, entry};
    switch (k) {
      case kind::file:
        stream = std::make_unique<hybrid::memory_stream>("source.img", data);
        return std::make_unique<hybrid::stream_blocks>(*stream);
      case kind::disk:
        return std::make_unique<hybrid::request_blocks>(scsi::read_blocks, request, failure);
      case kind::cd_blocks:
        return std::make_unique<hybrid::request_blocks>(scsi::read_cd_block, request, failure);
      case kind::cd_sectors:
        break;
    }
    return std::make_unique<hybrid::cd_sector_blocks>(request, failure);
  }

  // Plans the merged map of `data` with its blocks 0 and 1 as the head.
  hybrid::job_stop plan(kind k, const std::vector<std::uint8_t>& data, const plan_source& source,
                        hybrid::hybrid_layout& layout) {
    auto rest = blocks_of(k, data);
    return hybrid::plan_merged_map(data.data(), data.data() + 512, *rest, 40000, source, layout);
  }
};

// What a refused plan says; nothing for a plan made or cancelled.
std::string refused_text(const hybrid::job_stop& stop) { return stop ? stop->text() : ""; }

std::vector<std::pair<std::uint64_t, std::uint64_t>> runs_of(const hybrid::hybrid_layout& layout) {
  std::vector<std::pair<std::uint64_t, std::uint64_t>> runs;
  for (const auto& run : layout.runs) runs.emplace_back(run.source_offset, run.byte_count);
  return runs;
}

const std::vector<map_entry> two_among_others = {{"Apple_partition_map", "Apple", 1, 63},
                                                 {"Apple_HFS", "One", 64, 100},
                                                 {"Apple_Free", "", 164, 10},
                                                 {"Apple_HFS", "Two", 174, 50}};

// The same map gives the same plan, or the same refusal, from a file, a
// disk and a CD-ROM read either way.
TEST_F(Planner, TheSameMapIsPlannedAlikeFromEverySource) {
  std::vector<map_entry> crowded = {{"Apple_partition_map", "Apple", 1, 70}};
  for (std::uint32_t n = 0; n < 63; ++n) crowded.push_back({"Apple_HFS", "P", 80 + n, 1});
  const std::vector<map_entry> in_block_1 = {{"Apple_HFS", "Only", 8, 20},
                                             {"Apple_Free", "", 2, 6}};
  const std::vector<map_entry> with_empty = {{"Apple_partition_map", "Apple", 1, 3},
                                             {"Apple_HFS", "Empty", 4, 0},
                                             {"Apple_HFS", "X", 4, 8}};
  const std::vector<map_entry> none = {{"Apple_partition_map", "Apple", 1, 3},
                                       {"Apple_Free", "", 4, 8}};
  const struct {
    const char* what;
    const std::vector<map_entry>& entries;
    std::uint32_t total;
    std::string refused;
    std::size_t runs;
  } rows[] = {
      {"two among others", two_among_others, 240, "", 2},
      {"block 1 a partition", in_block_1, 30, "", 1},
      {"an empty entry skipped", with_empty, 12, "", 1},
      {"none", none, 12, "none", 0},
      {"too many", crowded, 150, "too many: 63", 0},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.what);
    const auto data = test::hfs_image(r.entries, r.total);
    hybrid::hybrid_layout from_file;
    EXPECT_EQ(refused_text(plan(kind::file, data, plain_source(), from_file)), r.refused);
    EXPECT_EQ(from_file.runs.size(), r.runs);
    for (kind k : {kind::disk, kind::cd_blocks, kind::cd_sectors}) {
      // Blocks 3 to 8 in one read: across a sector boundary on a CD-ROM.
      std::vector<std::uint8_t> six(6 * 512);
      EXPECT_EQ(blocks_of(k, data)->read(3, 6, six.data()), hybrid::block_read::ok);
      EXPECT_EQ(six, test::slice(data, 3 * 512, six.size()));
      hybrid::hybrid_layout from_device;
      EXPECT_EQ(refused_text(plan(k, data, plain_source(), from_device)), r.refused);
      EXPECT_EQ(from_device.head, from_file.head);
      EXPECT_EQ(runs_of(from_device), runs_of(from_file));
    }
  }
}

// The capacity rule is the job's: asked with the whole image's blocks before
// each partition is laid out, after the refusals; a Cancel ends the plan.
TEST_F(Planner, TheCapacityRuleIsAskedBeforeEachPartition) {
  const auto data = test::hfs_image(two_among_others, 224);
  const hybrid::hfs_partition empty{"Empty", 64, 0}, one{"One", 64, 100};
  const std::string past_end = hybrid::text::partition_past_end("Two", 224 * 512, 200 * 512);
  const std::string is_empty = hybrid::text::chosen_partition_empty("Empty");
  // 40,000 bytes of ISO image take 79 blocks once padded.
  const struct {
    const char* what;
    bool merged;
    hybrid::hfs_partition chosen;
    std::optional<std::uint64_t> length;
    std::vector<bool> answers;
    std::vector<std::uint64_t> asked;
    bool cancelled;
    std::string refused;
  } rows[] = {
      {"merged, both accepted", true, one, {}, {true, true}, {179, 229}, false, ""},
      {"merged, the first cancelled", true, one, {}, {false}, {179}, true, ""},
      {"merged, the second cancelled", true, one, {}, {true, false}, {179, 229}, true, ""},
      {"merged, past a file's end", true, one, 200 * 512, {true}, {179}, false, past_end},
      {"chosen", false, one, 224 * 512, {true}, {179}, false, ""},
      {"chosen, cancelled", false, one, {}, {false}, {179}, true, ""},
      {"chosen, empty: not asked", false, empty, {}, {}, {}, false, is_empty},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.what);
    std::vector<std::uint64_t> asked;
    plan_source source = plain_source();
    source.length = r.length;
    source.capacity = [&](std::uint64_t blocks) {
      asked.push_back(blocks);
      return r.answers[asked.size() - 1];
    };
    hybrid::hybrid_layout layout;
    const hybrid::job_stop stop =
        r.merged ? plan(kind::disk, data, source, layout)
                 : hybrid::plan_chosen_partition(r.chosen, 40000, source, layout);
    EXPECT_EQ(refused_text(stop), r.refused);
    EXPECT_EQ(asked, r.asked);
    EXPECT_EQ(stop && stop->end() == hybrid::job_outcome::ending::cancelled, r.cancelled);
    EXPECT_EQ(layout.head.empty(), stop.has_value());
  }
}

// The four sources a hybrid once came from that --info then flagged, and a
// sound one: each plan is judged before anything is written, from a file, a
// disk and a CD-ROM alike.
std::vector<std::uint8_t> source_of(const std::vector<map_entry>& entries,
                                    std::size_t without_header = 0) {
  auto data = test::hfs_image(entries, 104);
  if (without_header != 0) data[without_header * 512] = 0;
  return data;
}

std::string no_volume(const char* entry) {
  return hybrid::text::planned_hybrid_unsound(
      {std::string("entry ") + entry + ", Apple_HFS) holds no HFS or HFS+ volume header"});
}

TEST_F(Planner, APlanIsJudgedAsInfoJudgesItsHybrid) {
  const map_entry map = {"Apple_partition_map", "Apple", 1, 63};
  const map_entry one = {"Apple_HFS", "One", 64, 40};
  auto damaged_pm = source_of({map, one});
  damaged_pm[2 * 512] = 'X';
  const struct {
    const char* what;
    std::vector<std::uint8_t> data;
    std::string refused;
  } rows[] = {
      {"a sound map", source_of({map, one, {"Apple_HFS", "Two", 74, 30}}), ""},
      {"a damaged \"PM\", mended", damaged_pm, ""},
      {"an entry over the map", source_of({map, one, {"Apple_HFS", "Map", 0, 64}}),
       no_volume("3 (\"Map\"")},
      // B begins inside A's volume, where no header stands.
      {"overlapping entries", source_of({map, one, {"Apple_HFS", "B", 70, 30}}, 72),
       no_volume("3 (\"B\"")},
  };
  for (const auto& r : rows) {
    for (kind k : {kind::file, kind::disk, kind::cd_blocks, kind::cd_sectors}) {
      SCOPED_TRACE(std::string(r.what) + " " + std::to_string(static_cast<int>(k)));
      hybrid::hybrid_layout layout;
      ASSERT_FALSE(plan(k, r.data, plain_source(), layout));
      hybrid::memory_stream iso("cd.iso", test::iso_image(40000));
      auto blocks = blocks_of(k, r.data);
      EXPECT_EQ(refused_text(hybrid::judge_planned_hybrid(layout, iso, *blocks, plain_source())),
                r.refused);
      EXPECT_TRUE(hybrid::is_partition_entry(layout.head.data() + 2 * 512));
      EXPECT_EQ(iso.bytes(), test::iso_image(40000));
    }
  }
}

// A bare volume is one only when its whole header is in the file; a
// partition too short for its header is refused by the judge.
TEST_F(Planner, AVolumeCutShortIsRefused) {
  const struct {
    const char* what;
    std::size_t bytes;
    std::string refused;
  } rows[] = {
      {"\"BD\" and a byte", 1026, hybrid::text::no_hfs_partition},
      {"a header block less a byte", 1535, hybrid::text::no_hfs_partition},
      {"a whole header block", 1536, ""},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.what);
    std::vector<std::uint8_t> data(r.bytes);
    data[1024] = 'B';
    data[1025] = 'D';
    hybrid::memory_stream hfs("short.img", data);
    hybrid::memory_stream iso("cd.iso", test::iso_image(40000));
    hybrid::hybrid_layout layout;
    hybrid::job_stop stop = hybrid::plan_bare_volume(hfs, 40000, r.bytes, layout);
    hybrid::stream_blocks blocks(hfs);
    if (!stop) stop = hybrid::judge_planned_hybrid(layout, iso, blocks, plain_source());
    EXPECT_EQ(refused_text(stop), r.refused);
  }
  // What the planner once took from the 1,026-byte file: two blocks, which
  // end before the header.
  const auto data = test::hfs_image({{"Apple_partition_map", "Apple", 1, 63}}, 104);
  hybrid::memory_stream hfs("short.img", data);
  hybrid::memory_stream iso("cd.iso", test::iso_image(40960));
  hybrid::hybrid_layout layout;
  ASSERT_FALSE(hybrid::plan_chosen_partition({"Tiny", 0, 2}, 40960, plain_source(), layout));
  hybrid::stream_blocks blocks(hfs);
  EXPECT_EQ(refused_text(hybrid::judge_planned_hybrid(layout, iso, blocks, plain_source())),
            no_volume("2 (\"MacOS\""));
}

// A read the judge needs that fails refuses the plan with the failing
// side's text.
TEST_F(Planner, AFailedReadOfTheJudgeIsARefusal) {
  const auto data =
      source_of({{"Apple_partition_map", "Apple", 1, 63}, {"Apple_HFS", "A", 64, 40}});
  hybrid::hybrid_layout layout;
  ASSERT_FALSE(plan(kind::file, data, plain_source(), layout));
  test::failing_stream iso("cd.iso", test::iso_image(40000));
  iso.fail_at = 2;  // the seek is the first operation, the read the second
  auto blocks = blocks_of(kind::file, data);
  const std::string iso_failed =
      refused_text(hybrid::judge_planned_hybrid(layout, iso, *blocks, plain_source()));
  EXPECT_EQ(iso_failed, hybrid::text::io_failure(hybrid::text::failed_operation::read, iso));

  test::failing_stream source("source.img", data);
  source.fail_at = 2;
  hybrid::stream_blocks failing(source);
  hybrid::memory_stream good_iso("cd.iso", test::iso_image(40000));
  EXPECT_EQ(refused_text(hybrid::judge_planned_hybrid(layout, good_iso, failing, plain_source())),
            "unreadable");
}

}  // namespace
