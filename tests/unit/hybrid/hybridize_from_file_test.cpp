#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <deque>
#include <memory>
#include <optional>

#include "file_job_runs.h"
#include "hybrid/io/copy_stream.h"
#include "hybrid/io/iso_transaction.h"
#include "hybrid/jobs.h"
#include "hybrid/messages.h"
#include "test_support.h"

namespace {

namespace text = hybrid::text;
using hybrid::get_be32;
using hybrid::memory_stream;
using test::iso_blocks;
using test::iso_bytes;
using test::job_run;
using test::map_entry;
using test::one_partition;
using test::run;
using test::slice;
using test::two_partitions;

TEST(HybridizeFromFile, OnePartitionMergesTheSourceMap) {
  job_run job{test::iso_image(iso_bytes), test::hfs_image(one_partition, 164), {}, -1};
  // Device type and id, and driver data of drivers that are not carried over.
  const std::uint8_t device_and_driver_data[8] = {0, 1, 0, 2, 0xFA, 0x7F, 0, 0};
  std::memcpy(job.hfs.data() + 8, device_and_driver_data, sizeof device_and_driver_data);
  const auto original_iso = job.iso;
  const auto hfs = job.hfs;
  run(job);
  ASSERT_EQ(job.result, 1);
  EXPECT_EQ(job.ask.partition_questions, 0);
  EXPECT_TRUE(job.ask.notices.empty());
  ASSERT_EQ(job.iso.size(), iso_bytes + 100 * 512);

  // Block 0: the source's first 12 bytes with the new block count; no driver
  // data and no drivers.
  auto block0 = slice(hfs, 0, 512);
  std::memset(block0.data() + 12, 0, 512 - 12);
  hybrid::put_be32(block0.data() + 4, iso_blocks + 100);
  EXPECT_EQ(slice(job.iso, 0, 512), block0);
  // Block 1: the map's own entry, counting two entries.
  std::vector<std::uint8_t> block1(512);
  hybrid::build_map_entry(block1.data(), 2, "Apple");
  EXPECT_EQ(slice(job.iso, 512, 512), block1);
  // Block 2: the HFS entry pointing behind the ISO data.
  auto block2 = slice(hfs, 1024, 512);
  hybrid::put_be32(block2.data() + 4, 2);
  hybrid::put_be32(block2.data() + 8, iso_blocks);
  EXPECT_EQ(slice(job.iso, 1024, 512), block2);
  // The rest of the ISO data is untouched and the partition follows it.
  EXPECT_EQ(slice(job.iso, 1536, iso_bytes - 1536), slice(original_iso, 1536, iso_bytes - 1536));
  EXPECT_EQ(slice(job.iso, iso_bytes, 100 * 512), slice(hfs, 64 * 512, 100 * 512));
}

// Whatever the source holds in block 1, the hybrid's block 1 is the map's
// own entry over blocks 1-63, and every Apple_HFS entry points behind the ISO
// data. Each of these sources gave a hybrid that a strict reader refused, or
// one whose partition pointed into the ISO 9660 data.
TEST(HybridizeFromFile, BlockOneIsAlwaysTheMapsOwnEntry) {
  struct source {
    const char* what;
    std::vector<map_entry> entries;
    bool strip_pm_from_block1;
    const char* map_name;
    std::vector<std::pair<const char*, std::uint32_t>> merged;  // name, blocks
  };
  const std::vector<source> sources = {
      {"Apple_HFS in block 1", {{"Apple_HFS", "First", 64, 100}}, false, "Apple", {{"First", 100}}},
      {"no PM in block 1", one_partition, true, "Apple", {{"MacOS", 100}}},
      {"a map entry over blocks 1-4",
       {{"Apple_partition_map", "Map", 1, 4},
        {"Apple_HFS", "One", 5, 40},
        {"Apple_HFS", "Two", 45, 50},
        {"Apple_HFS", "Three", 95, 69}},
       false,
       "Map",
       {{"One", 40}, {"Two", 50}, {"Three", 69}}},
  };
  for (const source& c : sources) {
    SCOPED_TRACE(c.what);
    job_run job{test::iso_image(iso_bytes), test::hfs_image(c.entries, 164), {}, -1};
    if (c.strip_pm_from_block1) std::memset(job.hfs.data() + 512, 0, 2);
    job.ask.partition_answer = hybrid::choice_all;
    const auto hfs = job.hfs;
    run(job);
    ASSERT_EQ(job.result, 1);
    const auto entries = static_cast<std::uint32_t>(c.merged.size() + 1);
    std::vector<std::uint8_t> block1(512);
    hybrid::build_map_entry(block1.data(), entries, c.map_name);
    EXPECT_EQ(slice(job.iso, 512, 512), block1);
    std::uint32_t at = iso_blocks;
    for (std::size_t k = 0; k < c.merged.size(); ++k) {
      const std::uint8_t* entry = job.iso.data() + (k + 2) * 512;
      EXPECT_STREQ(reinterpret_cast<const char*>(entry + 16), c.merged[k].first);
      EXPECT_EQ(get_be32(entry + 4), entries);
      EXPECT_EQ(get_be32(entry + 8), at);
      EXPECT_EQ(get_be32(entry + 12), c.merged[k].second);
      at += c.merged[k].second;
    }
    EXPECT_EQ(get_be32(job.iso.data() + 4), at);
    ASSERT_EQ(job.iso.size(), std::size_t{at} * 512);
    // The data follow one another as the source holds them, packed.
    const std::uint32_t first =
        get_be32(hfs.data() + 512 * (c.entries[0].type == "Apple_HFS" ? 1 : 2) + 8);
    EXPECT_EQ(slice(job.iso, iso_bytes, (at - iso_blocks) * 512),
              slice(hfs, std::size_t{first} * 512, (at - iso_blocks) * 512));
  }
}

TEST(HybridizeFromFile, ChosenRowGetsAFreshMapAndOnlyItsData) {
  job_run job{test::iso_image(iso_bytes), test::hfs_image(two_partitions, 120), {}, -1};
  job.ask.partition_answer = 1;
  const auto original_iso = job.iso;
  const auto hfs = job.hfs;
  run(job);
  ASSERT_EQ(job.result, 1);
  ASSERT_EQ(job.ask.partition_questions, 1);
  EXPECT_STREQ(job.ask.last_list[0].name, "First");
  EXPECT_STREQ(job.ask.last_list[1].name, "Second");
  EXPECT_EQ(job.ask.last_list[1].block_count, 20u);

  memory_stream expected_map;
  ASSERT_TRUE(hybrid::write_partition_map(expected_map, iso_blocks + 20, iso_blocks, 20));
  ASSERT_EQ(job.iso.size(), iso_bytes + 20 * 512);
  EXPECT_EQ(slice(job.iso, 0, 32768), expected_map.bytes());
  EXPECT_EQ(slice(job.iso, 32768, iso_bytes - 32768),
            slice(original_iso, 32768, iso_bytes - 32768));
  EXPECT_EQ(slice(job.iso, iso_bytes, 20 * 512), slice(hfs, 100 * 512, 20 * 512));
}

TEST(HybridizeFromFile, AllPartitionsAreAppendedInMapOrder) {
  auto entries = two_partitions;
  entries.insert(entries.begin() + 2, {"Apple_HFS", "Empty", 94, 0});  // offered, never merged
  job_run job{test::iso_image(iso_bytes), test::hfs_image(entries, 120), {}, -1};
  job.ask.partition_answer = hybrid::choice_all;
  const auto hfs = job.hfs;
  run(job);
  ASSERT_EQ(job.result, 1);
  EXPECT_EQ(hybrid::listed_rows(job.ask.last_list), 3);
  ASSERT_EQ(job.iso.size(), iso_bytes + 50 * 512);
  EXPECT_EQ(get_be32(job.iso.data() + 4), iso_blocks + 50);
  EXPECT_EQ(get_be32(job.iso.data() + 512 + 4), 3u);  // entries after block 0
  EXPECT_STREQ(reinterpret_cast<const char*>(job.iso.data() + 1024 + 16), "First");
  EXPECT_EQ(get_be32(job.iso.data() + 1024 + 8), iso_blocks);
  EXPECT_EQ(get_be32(job.iso.data() + 1024 + 4), 3u);
  EXPECT_STREQ(reinterpret_cast<const char*>(job.iso.data() + 1536 + 16), "Second");
  EXPECT_EQ(get_be32(job.iso.data() + 1536 + 8), iso_blocks + 30);
  EXPECT_EQ(slice(job.iso, iso_bytes, 30 * 512), slice(hfs, 64 * 512, 30 * 512));
  EXPECT_EQ(slice(job.iso, iso_bytes + 30 * 512, 20 * 512), slice(hfs, 100 * 512, 20 * 512));
}

TEST(HybridizeFromFile, RefusalsAndCancelsLeaveTheIsoImageAlone) {
  struct refusal {
    const char* what;
    std::vector<std::uint8_t> iso;
    std::vector<std::uint8_t> hfs;
    std::string message;  // empty: a silent cancel
  };
  auto hybrid_iso = test::iso_image(iso_bytes);
  hybrid_iso[0] = 'E';
  hybrid_iso[1] = 'R';
  auto truncated = test::hfs_image(one_partition, 164);
  truncated.resize(150 * 512);
  std::vector<refusal> cases = {
      {"already hybrid", hybrid_iso, test::hfs_image(one_partition, 164), text::already_hybrid},
      {"partition choice cancelled", test::iso_image(iso_bytes),
       test::hfs_image(two_partitions, 120), ""},
      {"no partition", test::iso_image(iso_bytes), test::pattern(8192, 3), text::no_hfs_partition},
      {"truncated image", test::iso_image(iso_bytes), truncated,
       text::partition_past_end("MacOS", 83968, 76800)},
      {"iso too small", test::iso_image(20000), test::hfs_image(one_partition, 164),
       text::iso_too_small(20000)},
      {"empty iso", {}, test::hfs_image(one_partition, 164), text::iso_too_small(0)},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.what);
    job_run job{c.iso, c.hfs, {}, -1};
    run(job);
    EXPECT_EQ(job.result, 0);
    EXPECT_EQ(job.iso, c.iso);
    if (!c.message.empty()) {
      ASSERT_EQ(job.ask.notices.size(), 1u);
      EXPECT_EQ(job.ask.notices[0], c.message);
    } else {
      EXPECT_TRUE(job.ask.notices.empty());
    }
  }
}

TEST(HybridizeFromFile, OnlyEmptyPartitionsMeansNoHfsPartition) {
  job_run job{
      test::iso_image(iso_bytes),
      test::hfs_image({{"Apple_partition_map", "Apple", 1, 63}, {"Apple_HFS", "E", 64, 0}}, 70),
      {},
      -1};
  const auto before = job.iso;
  run(job);
  EXPECT_EQ(job.result, 0);
  EXPECT_EQ(job.iso, before);
  ASSERT_EQ(job.ask.notices.size(), 1u);
  EXPECT_EQ(job.ask.notices[0], text::no_hfs_partition);
}

TEST(HybridizeFromFile, BareVolumeIsTakenWholeBehindAFreshMap) {
  for (const char* signature : {"BD", "H+", "HX"}) {
    SCOPED_TRACE(signature);
    // A stray partial block at the end.
    const auto volume = test::bare_volume(signature, 40 * 512 + 100);
    job_run job{test::iso_image(iso_bytes), volume, {}, -1};
    run(job);
    ASSERT_EQ(job.result, 1);
    memory_stream expected_map;
    ASSERT_TRUE(hybrid::write_partition_map(expected_map, iso_blocks + 40, iso_blocks, 40));
    EXPECT_EQ(slice(job.iso, 0, 32768), expected_map.bytes());
    ASSERT_EQ(job.iso.size(), iso_bytes + 40 * 512);
    EXPECT_EQ(slice(job.iso, iso_bytes, 40 * 512), slice(volume, 0, 40 * 512));
  }
}

TEST(HybridizeFromFile, OddIsoLengthIsPaddedSoMapAndBytesAgree) {
  const std::size_t odd = iso_bytes + 300;
  job_run job{test::iso_image(odd), test::hfs_image(one_partition, 164), {}, -1};
  const auto hfs = job.hfs;
  run(job);
  ASSERT_EQ(job.result, 1);
  const std::uint32_t first = get_be32(job.iso.data() + 1024 + 8);
  EXPECT_EQ(first, iso_blocks + 1);
  ASSERT_EQ(job.iso.size(), (iso_blocks + 1 + 100) * 512);
  EXPECT_EQ(slice(job.iso, odd, 212), std::vector<std::uint8_t>(212, 0));
  EXPECT_EQ(slice(job.iso, std::size_t{first} * 512, 100 * 512), slice(hfs, 64 * 512, 100 * 512));
  EXPECT_EQ(get_be32(job.iso.data() + 4), iso_blocks + 1 + 100);
}

// Volumes of three blocks, the least that holds a volume header.
std::vector<map_entry> many_partitions(int count) {
  std::vector<map_entry> entries = {{"Apple_partition_map", "Apple", 1, 63}};
  for (int i = 0; i < count; ++i) {
    std::string name = "P";  // (gcc 12 warns wrongly about "P" + std::to_string)
    name += std::to_string(i);
    entries.push_back({"Apple_HFS", name, static_cast<std::uint32_t>(100 + 3 * i), 3});
  }
  return entries;
}

TEST(HybridizeFromFile, AMergeFillsAtMostTheSystemArea) {
  job_run fits{test::iso_image(iso_bytes), test::hfs_image(many_partitions(62), 300), {}, -1};
  fits.ask.partition_answer = hybrid::choice_all;
  const auto before = fits.iso;
  run(fits);
  ASSERT_EQ(fits.result, 1);
  EXPECT_EQ(get_be32(fits.iso.data() + 512 + 4), 63u);
  EXPECT_STREQ(reinterpret_cast<const char*>(fits.iso.data() + 63 * 512 + 16), "P61");
  EXPECT_EQ(slice(fits.iso, 32768, iso_bytes - 32768), slice(before, 32768, iso_bytes - 32768));
  EXPECT_EQ(hybrid::listed_rows(fits.ask.last_list), 8);

  job_run too_many{test::iso_image(iso_bytes), test::hfs_image(many_partitions(63), 300), {}, -1};
  too_many.ask.partition_answer = hybrid::choice_all;
  const auto original = too_many.iso;
  run(too_many);
  EXPECT_EQ(too_many.result, 0);
  EXPECT_EQ(too_many.iso, original);
  ASSERT_EQ(too_many.ask.notices.size(), 1u);
  EXPECT_EQ(too_many.ask.notices[0], text::too_many_entries(63));
}

TEST(HybridizeFromFile, AnswerOutsideTheOfferedRowsCancels) {
  job_run job{test::iso_image(iso_bytes), test::hfs_image(two_partitions, 120), {}, -1};
  job.ask.partition_answer = 2;
  const auto before = job.iso;
  run(job);
  EXPECT_EQ(job.result, 0);
  EXPECT_EQ(job.iso, before);
}

// The user interrupts the copy: the job stops at the next chunk, puts the ISO
// image back and says so.
struct interrupting_questions : test::scripted_questions {
  std::uint64_t stop_after = 0;
  std::uint64_t seen = 0;
  void copy_advanced(std::uint64_t done) override { seen = done; }
  bool stop_requested() override { return seen >= stop_after; }
};

TEST(HybridizeFromFile, StopRequestRestoresTheIsoImage) {
  // Big enough for several chunks of the copy buffer.
  const std::uint32_t blocks = 64 + 3 * (hybrid::copy_buffer_bytes / 512);
  const std::vector<map_entry> big = {{"Apple_partition_map", "Apple", 1, 63},
                                      {"Apple_HFS", "MacOS", 64, blocks - 64}};
  // Before the first write (an interrupt while the job was set up), between
  // two chunks, and after the last one, before the map.
  for (std::uint64_t stop_after : {std::uint64_t{0}, std::uint64_t{hybrid::copy_buffer_bytes},
                                   std::uint64_t{blocks - 64} * 512}) {
    memory_stream hfs("hfs.img", test::hfs_image(big, blocks));
    const auto original = test::iso_image(iso_bytes);
    memory_stream iso("cd.iso", original);
    interrupting_questions ask;
    ask.stop_after = stop_after;
    EXPECT_EQ(test::told(hybrid::hybridize_from_file(hfs, iso, ask), ask), 0);
    EXPECT_EQ(iso.bytes(), original);
    EXPECT_EQ(ask.notices,
              std::vector<std::string>{text::stopped + text::iso_restored_suffix(true)});
  }
}

// What the ISO image holds is looked at before anything is written: refused,
// asked about, or taken as it is. A Cancel leaves it byte for byte; an OK
// gives a hybrid whose HFS data begin where `data_at` says.
TEST(HybridizeFromFile, TargetsAreCheckedBeforeTheFirstWrite) {
  const std::string boot_record =
      text::system_area_in_use(text::system_area_holding(true, false), true);
  const std::string already = text::already_hybrid;

  auto not_iso9660 = test::pattern(iso_bytes, 0x21);  // data everywhere, no descriptor
  auto zeros_no_descriptor = test::pattern(iso_bytes, 0x22);
  std::fill_n(zeros_no_descriptor.begin(), 32768, 0);
  auto mbr = test::iso_image(iso_bytes);
  mbr[446] = 0x80;  // an active partition entry
  mbr[510] = 0x55;
  mbr[511] = 0xAA;
  auto gpt = mbr;
  std::memcpy(gpt.data() + 512, "EFI PART", 8);
  const auto after_volume = test::with_bytes_after_volume(test::iso_image(iso_bytes), 5000);
  auto zeros_after_volume = test::iso_image(iso_bytes);
  zeros_after_volume.resize(iso_bytes + 3000);  // padding some tools write: kept
  auto both = test::with_bytes_after_volume(mbr, 700);

  struct target_case {
    const char* what;
    std::vector<std::uint8_t> iso;
    std::deque<bool> answers;
    std::vector<std::string> warnings;
    std::string notice;       // empty: none
    std::size_t data_at = 0;  // 0: not written
  };
  std::vector<target_case> cases = {
      {"data, no ISO 9660 volume, Cancel",
       not_iso9660,
       {false},
       {text::system_area_in_use(text::system_area_holding(false, false), false)},
       "",
       0},
      {"data, no ISO 9660 volume, OK", not_iso9660, {true}, {}, "", iso_bytes},
      {"zeros, no ISO 9660 volume", zeros_no_descriptor, {}, {}, "", iso_bytes},
      {"PC boot record, Cancel", mbr, {false}, {boot_record}, "", 0},
      {"PC boot record, OK", mbr, {true}, {boot_record}, "", iso_bytes},
      {"GPT",
       gpt,
       {false},
       {text::system_area_in_use(text::system_area_holding(true, true), true)},
       "",
       0},
      {"bytes after the volume, Cancel",
       after_volume,
       {false},
       {text::bytes_after_volume(5000)},
       "",
       0},
      {"bytes after the volume, OK", after_volume, {true}, {}, "", iso_bytes},
      {"zeros after the volume", zeros_after_volume, {}, {}, "", iso_bytes + 3072},
      {"boot record and bytes after the volume", both, {true, true}, {}, "", iso_bytes},
  };
  for (const char* signature : {"BD", "H+", "HX"}) {
    for (const auto& base : {test::iso_image(iso_bytes), not_iso9660}) {
      // Another tool's hybrid without a map, or an HFS volume given as the
      // ISO image: refused, never asked about.
      auto mac = base;
      std::memcpy(mac.data() + 1024, signature, 2);
      cases.push_back({signature, mac, {true}, {}, already, 0});
    }
  }

  const auto hfs = test::hfs_image(one_partition, 164);
  for (auto& c : cases) {
    SCOPED_TRACE(c.what);
    job_run job{c.iso, hfs, {}, -1};
    job.ask.warning_answers = c.answers;
    run(job);
    if (!c.warnings.empty()) {
      EXPECT_EQ(job.ask.warnings, c.warnings);
    }
    if (c.notice.empty()) {
      EXPECT_TRUE(job.ask.notices.empty());
    } else {
      EXPECT_EQ(job.ask.notices, std::vector<std::string>{c.notice});
    }
    if (c.data_at == 0) {
      EXPECT_EQ(job.result, 0);
      EXPECT_EQ(job.iso, c.iso);
      continue;
    }
    ASSERT_EQ(job.result, 1);
    ASSERT_EQ(job.iso.size(), c.data_at + 100 * 512);
    EXPECT_EQ(get_be32(job.iso.data() + 1024 + 8), c.data_at / 512);
    EXPECT_EQ(get_be32(job.iso.data() + 4), c.data_at / 512 + 100);
    EXPECT_EQ(slice(job.iso, 32768, iso_bytes - 32768), slice(c.iso, 32768, iso_bytes - 32768));
    EXPECT_EQ(slice(job.iso, c.data_at, 100 * 512), slice(hfs, 64 * 512, 100 * 512));
  }
}

// A pipe (or a device, or a folder) is refused before a byte of it is read:
// reading a pipe would wait for ever.
struct pipe_stream : test::failing_stream {
  using failing_stream::failing_stream;
  bool status(platform::file_status& status) override {
    status = {platform::file_kind::pipe, 0, 0};
    return true;
  }
};

TEST(HybridizeFromFile, APipeIsNoIsoImage) {
  memory_stream hfs("hfs.img", test::hfs_image(one_partition, 164));
  pipe_stream iso("fifo");
  test::scripted_questions ask;
  EXPECT_EQ(test::told(hybrid::hybridize_from_file(hfs, iso, ask), ask), 0);
  EXPECT_EQ(iso.operations, 0);
  EXPECT_EQ(ask.notices,
            std::vector<std::string>{text::iso_not_a_file("fifo", platform::file_kind::pipe)});
}

// A bare volume whose header says it is longer than the file is still being
// written, or was cut: refused before the first write.
TEST(HybridizeFromFile, ABareVolumeLongerThanItsFileIsRefused) {
  for (const char* signature : {"BD", "H+"}) {
    SCOPED_TRACE(signature);
    const auto cut = test::bare_volume(signature, 40 * 512, 41 * 512);
    job_run job{test::iso_image(iso_bytes), cut, {}, -1};
    const auto before = job.iso;
    run(job);
    EXPECT_EQ(job.result, 0);
    EXPECT_EQ(job.iso, before);
    EXPECT_EQ(job.ask.notices,
              std::vector<std::string>{text::bare_volume_past_end("hfs.img", 20992, 20480)});
  }
}

// The HFS file grows, or is rewritten, while its data are copied: the job
// sees it before the map, and puts the ISO image back, the bytes it removed
// after the volume included. A writer that puts the time of its change back
// still shows in the status change time.
struct source_with_times : memory_stream {
  using memory_stream::memory_stream;
  std::optional<std::int64_t> modified;  // the time a writer put back
  bool status(platform::file_status& status) override {
    const bool known = memory_stream::status(status);
    if (modified) status.modified_ns = *modified;
    return known;
  }
};

struct changing_source : test::scripted_questions {
  source_with_times* hfs = nullptr;
  std::string how;
  void copy_advanced(std::uint64_t) override {
    if (how == "grows") {
      hfs->bytes().push_back(0);
    } else {
      platform::file_status before;
      hfs->status(before);
      hfs->bytes()[70 * 512] ^= 0xFF;
      hfs->touch();
      if (how == "rewritten, its time put back") hfs->modified = before.modified_ns;
    }
  }
};

TEST(HybridizeFromFile, ASourceThatChangesDuringTheCopyUndoesTheJob) {
  for (const char* how : {"grows", "rewritten", "rewritten, its time put back"}) {
    for (const bool bytes_after_volume : {false, true}) {
      SCOPED_TRACE(std::string(how) + (bytes_after_volume ? ", bytes after the volume" : ""));
      auto original = test::iso_image(iso_bytes);
      if (bytes_after_volume) original = test::with_bytes_after_volume(original, 4000);
      source_with_times hfs("hfs.img", test::hfs_image(one_partition, 164));
      memory_stream iso("cd.iso", original);
      changing_source ask;
      ask.hfs = &hfs;
      ask.how = how;
      ask.warning_answers = {true};
      EXPECT_EQ(test::told(hybrid::hybridize_from_file(hfs, iso, ask), ask), 0);
      EXPECT_TRUE(iso.bytes() == original);
      EXPECT_EQ(ask.notices,
                std::vector<std::string>{text::source_changed + text::iso_restored_suffix(true)});
    }
  }
}

// What the ISO image's stream is asked to keep, in order: the data, then a
// sync, then the map, then a sync, so that a power cut at any moment leaves
// either the plain ISO image or the whole hybrid, never a map pointing at
// data that are not on the disk. A roll-back reaches the disk too, the map
// going before the data it points at.
struct map_write_fails : test::failing_stream {
  using failing_stream::failing_stream;
  bool data_synced = false;
  bool sync_to_disk() override { return data_synced = failing_stream::sync_to_disk(); }
  bool write(const void* buffer, std::size_t count) override {
    std::uint64_t at = 0;
    memory_stream::tell(at);
    if (at == 0 && data_synced && count < hybrid::system_area_bytes) return false;
    return failing_stream::write(buffer, count);
  }
};

// Blocks shared with the source (a file system with shared extents, in
// blocks of 4096 bytes) keep that order, and go with a roll-back like
// copied data; the partition lies at byte 32,768 of the source, so only an
// ISO length of whole blocks lets them be shared.
TEST(HybridizeFromFile, DataMapAndRollBackReachTheDiskInOrder) {
  struct order_row {
    const char* what;
    std::size_t iso_length;
    std::uint64_t share_block_bytes;
    bool map_fails;
    std::vector<std::string> journal;
    std::uint64_t shared;
  };
  const std::vector<order_row> rows = {
      {"not aligned: copied",
       iso_bytes + 100,
       4096,
       false,
       {"write@41060+412", "write@41472+51200", "flush", "sync", "write@0+1536", "flush", "sync"},
       0},
      {"copied, the map fails",
       iso_bytes + 100,
       0,
       true,
       {"write@41060+412", "write@41472+51200", "flush", "sync", "write@0+32768", "sync",
        "truncate@41060", "sync"},
       0},
      {"shared",
       iso_bytes,
       4096,
       false,
       {"share@40960+49152", "write@90112+2048", "flush", "sync", "write@0+1536", "flush", "sync"},
       49152},
      {"shared, the map fails",
       iso_bytes,
       4096,
       true,
       {"share@40960+49152", "write@90112+2048", "flush", "sync", "write@0+32768", "sync",
        "truncate@40960", "sync"},
       0},
  };
  const auto hfs_bytes = test::hfs_image(one_partition, 164);
  for (const order_row& row : rows) {
    SCOPED_TRACE(row.what);
    const auto original = test::iso_image(row.iso_length);
    memory_stream hfs("hfs.img", hfs_bytes);
    const auto stream = row.map_fails ? std::make_unique<map_write_fails>("cd.iso", original)
                                      : std::make_unique<test::failing_stream>("cd.iso", original);
    test::failing_stream& iso = *stream;
    iso.share_block_bytes = row.share_block_bytes;
    test::scripted_questions ask;
    const hybrid::job_outcome outcome = hybrid::hybridize_from_file(hfs, iso, ask);
    ASSERT_EQ(test::told(outcome, ask), row.map_fails ? 0 : 1);
    EXPECT_EQ(iso.journal, row.journal);
    EXPECT_EQ(outcome.shared_bytes(), row.shared);
    if (row.map_fails) {
      EXPECT_EQ(iso.bytes(), original);
      EXPECT_EQ(ask.notices,
                std::vector<std::string>{text::io_failure(text::failed_operation::write, iso) +
                                         text::iso_restored_suffix(true)});
      continue;
    }
    // The same job on a file system that copies gives the same bytes, and
    // a dry run's plan says how many may be shared.
    job_run copied{original, hfs_bytes, {}, -1};
    run(copied);
    EXPECT_EQ(iso.bytes(), copied.iso);
    memory_stream rehearsed_hfs("hfs.img", hfs_bytes);
    test::failing_stream rehearsed("cd.iso", original);
    rehearsed.share_block_bytes = row.share_block_bytes;
    test::scripted_questions dry;
    dry.rehearse = true;
    ASSERT_EQ(test::told(hybrid::hybridize_from_file(rehearsed_hfs, rehearsed, dry), dry), 1);
    ASSERT_EQ(dry.plans.size(), 1u);
    EXPECT_EQ(dry.plans[0].shareable_bytes, row.shared);
    EXPECT_TRUE(rehearsed.journal.empty());
  }
}

// A file system that claims a truncate it did not do: the roll-back reads
// the file back and does not call it restored.
struct truncate_lies : map_write_fails {
  using map_write_fails::map_write_fails;
  bool truncate(std::uint64_t) override { return true; }
};

TEST(HybridizeFromFile, ARollBackIsReadBackBeforeItIsReported) {
  memory_stream hfs("hfs.img", test::hfs_image(one_partition, 164));
  truncate_lies iso("cd.iso", test::iso_image(iso_bytes));
  test::scripted_questions ask;
  ASSERT_EQ(test::told(hybrid::hybridize_from_file(hfs, iso, ask), ask), 0);
  EXPECT_EQ(ask.notices,
            std::vector<std::string>{text::io_failure(text::failed_operation::write, iso) +
                                     text::iso_restored_suffix(false)});
}

// Another program (one that ignores locks) appended to the ISO image while
// the job asked its questions: the layout's block numbers no longer hold, so
// nothing is written.
struct grows_after_the_plan : memory_stream {
  using memory_stream::memory_stream;
  int measured = 0;
  bool length(std::uint64_t& now) override {
    if (++measured == 2) bytes().resize(bytes().size() + 2048);
    return memory_stream::length(now);
  }
};

TEST(HybridizeFromFile, AnIsoImageThatGrewSinceThePlanIsNotWritten) {
  memory_stream hfs("hfs.img", test::hfs_image(one_partition, 164));
  auto grown = test::iso_image(iso_bytes);
  grows_after_the_plan iso("cd.iso", grown);
  grown.resize(iso_bytes + 2048);
  test::scripted_questions ask;
  EXPECT_EQ(test::told(hybrid::hybridize_from_file(hfs, iso, ask), ask), 0);
  EXPECT_EQ(iso.bytes(), grown);
  EXPECT_EQ(ask.notices, std::vector<std::string>{text::iso_changed_length});
}

// A dry run asks what the real run asks and writes nothing; the plan it
// shows is what the real run then writes, head and length.
TEST(HybridizeFromFile, ADryRunPlansExactlyWhatTheRealRunWrites) {
  for (const std::size_t iso_length : {iso_bytes, iso_bytes + 100}) {
    job_run dry{test::iso_image(iso_length), test::hfs_image(two_partitions, 120), {}, -1};
    dry.ask.rehearse = true;
    dry.ask.partition_answer = hybrid::choice_all;
    const auto original = dry.iso;
    run(dry);
    ASSERT_EQ(dry.result, 1);
    EXPECT_EQ(dry.iso, original);
    EXPECT_EQ(dry.ask.partition_questions, 1);
    ASSERT_EQ(dry.ask.plans.size(), 1u);
    const hybrid::hybrid_layout& plan = dry.ask.plans[0];

    job_run real{original, dry.hfs, {}, -1};
    real.ask.partition_answer = hybrid::choice_all;
    run(real);
    ASSERT_EQ(real.result, 1);
    EXPECT_EQ(real.iso.size(), plan.iso_bytes + plan.append_bytes());
    EXPECT_EQ(slice(real.iso, 0, plan.head.size()), plan.head);
    EXPECT_EQ(plan.iso_bytes, iso_length);
  }
}

}  // namespace
