#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
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

undo_run make_hybrid(std::vector<std::uint8_t> iso, int partition,
                     std::vector<std::uint8_t> hfs = test::hfs_image(two_partitions, 120)) {
  job_run job{iso, std::move(hfs), {}, -1};
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
      // Entries cleared, block 0, the cut, blocks 2-63, block 1: each synced.
      const std::uint32_t map_bytes = hybrid::get_be32(images.hybrid.data() + 512 + 4) * 512;
      std::vector<std::string> order;
      for (const std::string& step :
           {"write@512+" + std::to_string(map_bytes), std::string("write@0+512"),
            "truncate@" + std::to_string(images.original.size()), std::string("write@1024+31744"),
            std::string("write@512+512")}) {
        order.insert(order.end(), {step, "flush", "sync"});
      }
      EXPECT_EQ(iso.journal, order);
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

// The ISO image's stream, watched: after each change (a write or a cut) a
// test keeps the state a kill would leave, or raises a stop; reads are seen
// with their size.
class watched_stream : public test::failing_stream {
 public:
  using failing_stream::failing_stream;
  std::function<void()> after_change;
  std::function<void(std::size_t)> on_read;

  bool write(const void* buffer, std::size_t count) override {
    const bool written = failing_stream::write(buffer, count);
    if (written && after_change) after_change();
    return written;
  }
  bool truncate(std::uint64_t bytes) override {
    const bool cut = failing_stream::truncate(bytes);
    if (cut && after_change) after_change();
    return cut;
  }
  std::size_t read(void* buffer, std::size_t count) override {
    if (on_read) on_read(count);
    return failing_stream::read(buffer, count);
  }
};

// Every state a kill can leave: after each write or cut, and, for a power
// cut in the middle of a write, each mix of its 512-byte blocks, old and new.
std::vector<std::vector<std::uint8_t>> kill_states(const std::vector<std::uint8_t>& hybrid) {
  watched_stream iso("cd.iso", hybrid);
  std::vector<std::vector<std::uint8_t>> states = {hybrid};
  iso.after_change = [&] { states.push_back(iso.bytes()); };
  test::scripted_questions ask;
  EXPECT_EQ(test::told(hybrid::undo_hybrid(iso, ask), ask), 1);
  std::vector<std::vector<std::uint8_t>> torn_states;
  for (std::size_t n = 1; n < states.size(); ++n) {
    const auto &before = states[n - 1], &after = states[n];
    if (before.size() != after.size()) continue;
    std::vector<std::size_t> changed;
    for (std::size_t at = 0; at < before.size(); at += 512) {
      if (!std::equal(before.begin() + at, before.begin() + at + 512, after.begin() + at)) {
        changed.push_back(at);
      }
    }
    EXPECT_LE(changed.size(), 8u);
    for (unsigned mask = 1; mask + 1 < (1u << changed.size()); ++mask) {
      auto torn = before;
      for (std::size_t bit = 0; bit < changed.size(); ++bit) {
        if ((mask >> bit & 1) == 0) continue;
        std::copy_n(after.begin() + changed[bit], 512, torn.begin() + changed[bit]);
      }
      torn_states.push_back(std::move(torn));
    }
  }
  states.insert(states.end(), torn_states.begin(), torn_states.end());
  return states;
}

bool readable_map(const std::vector<std::uint8_t>& bytes) {
  return hybrid::is_driver_descriptor(bytes.data()) &&
         hybrid::is_partition_entry(bytes.data() + 512);
}

// Wherever a kill or a power cut stops --undo, no map points at missing data,
// the next --undo finishes the work (saying so), and the next job recognises
// what is left: it offers to remove the data still there, as for any bytes
// after the volume, and makes the very hybrid it makes of the plain image.
TEST(UndoHybrid, AKillAtAnyPointLeavesWhatTheNextRunsFinish) {
  const auto original = test::iso_image(iso_bytes);
  const undo_run images = make_hybrid(original, hybrid::choice_all);
  const auto states = kill_states(images.hybrid);
  EXPECT_GT(states.size(), 10u);
  for (std::size_t n = 0; n < states.size(); ++n) {
    const auto& state = states[n];
    const std::uint64_t left = state.size() - original.size();
    if (state.size() < images.hybrid.size()) {
      for (std::size_t at = 0; at < 32768; at += 512) {
        EXPECT_FALSE(hybrid::is_driver_descriptor(state.data() + at) ||
                     hybrid::is_partition_entry(state.data() + at))
            << "state " << n << ": a signature at " << at << " after the cut";
      }
    }

    test::failing_stream undo("cd.iso", state);
    test::scripted_questions undo_ask;
    const int undone = test::told(hybrid::undo_hybrid(undo, undo_ask), undo_ask);
    EXPECT_EQ(undo.bytes(), original) << "state " << n;
    EXPECT_TRUE(undo_ask.warnings.empty()) << "state " << n;
    const std::string report = state == original ? hybrid::text::undo_not_hybrid
                               : readable_map(state)
                                   ? hybrid::text::undo_done(original.size(), left)
                                   : hybrid::text::undo_finished(original.size(), left);
    EXPECT_EQ(undone, state == original ? 0 : 1) << "state " << n;
    EXPECT_EQ(undo_ask.notices, std::vector<std::string>{report}) << "state " << n;

    job_run job{state, test::hfs_image(two_partitions, 120), {}, -1};
    job.ask.partition_answer = hybrid::choice_all;
    job.ask.warning_answers = {true};
    run(job);
    if (readable_map(state)) {
      EXPECT_EQ(job.ask.notices, std::vector<std::string>{hybrid::text::already_hybrid});
      continue;
    }
    EXPECT_EQ(job.result, 1) << "state " << n;
    EXPECT_EQ(job.iso, images.hybrid) << "state " << n;
    EXPECT_EQ(job.ask.warnings,
              left == 0 ? std::vector<std::string>{}
                        : std::vector<std::string>{hybrid::text::bytes_after_volume(left)})
        << "state " << n;
  }
}

// Bytes past the last partition's end are no part of the hybrid: cut only
// when the user agrees, and Cancel leaves the file as it was.
TEST(UndoHybrid, AsksBeforeCuttingBytesTheMapDoesNotAccountFor) {
  const undo_run images = make_hybrid(test::iso_image(iso_bytes), hybrid::choice_all);
  for (const std::size_t foreign : {std::size_t{100}, std::size_t{1} << 20}) {
    auto grown = images.hybrid;
    const auto added = test::pattern(foreign, 7);
    grown.insert(grown.end(), added.begin(), added.end());
    for (const bool ok : {false, true}) {
      test::failing_stream iso("cd.iso", grown);
      test::scripted_questions ask;
      ask.warning_answers = {ok};
      EXPECT_EQ(test::told(hybrid::undo_hybrid(iso, ask), ask), ok ? 1 : 0);
      EXPECT_EQ(ask.warnings,
                std::vector<std::string>{hybrid::text::undo_bytes_after_data(foreign)});
      EXPECT_EQ(iso.bytes(), ok ? images.original : grown) << foreign;
      EXPECT_EQ(iso.journal.empty(), !ok) << foreign;
    }
  }
}

// A stop asked while the appended data are copied aside is seen at the next
// chunk, and one asked once they are cut still puts them back: the hybrid is
// whole again, and the notice says so.
TEST(UndoHybrid, AStopDuringTheCopyPutsTheHybridBack) {
  const std::vector<test::map_entry> big = {{"Apple_partition_map", "Apple", 1, 63},
                                            {"Apple_HFS", "Big", 64, 5000}};  // 2.4 MiB
  const undo_run images =
      make_hybrid(test::iso_image(iso_bytes), hybrid::choice_all, test::hfs_image(big, 5064));
  struct row {
    const char* when;
    bool at_first_chunk;  // else at the cut
    int chunks_read;      // of the image: after the cut, 3 copied and 3 read back
  };
  for (const row& r : {row{"during the copy", true, 1}, row{"after the copy", false, 6}}) {
    watched_stream iso("cd.iso", images.hybrid);
    test::scripted_questions ask;
    int chunks = 0;
    iso.on_read = [&](std::size_t count) {
      if (count <= 32768) return;
      ++chunks;
      if (r.at_first_chunk) ask.stop = true;
    };
    iso.after_change = [&] {
      if (iso.journal.back().rfind("truncate@", 0) == 0 && !r.at_first_chunk) ask.stop = true;
    };
    EXPECT_EQ(test::told(hybrid::undo_hybrid(iso, ask), ask), 0) << r.when;
    EXPECT_EQ(chunks, r.chunks_read) << r.when;
    EXPECT_EQ(iso.bytes(), images.hybrid) << r.when;
    EXPECT_EQ(ask.notices, std::vector<std::string>{std::string(hybrid::text::stopped) +
                                                    hybrid::text::iso_restored_suffix(true)})
        << r.when;
  }
}
}  // namespace
