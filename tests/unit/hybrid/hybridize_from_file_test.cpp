#include <gtest/gtest.h>

#include <array>
#include <cstring>

#include "hybrid/io/copy_stream.h"
#include "hybrid/io/iso_transaction.h"
#include "hybrid/jobs.h"
#include "hybrid/messages.h"
#include "test_support.h"

namespace {

using hybrid::get_be32;
using hybrid::memory_stream;
using test::map_entry;
using test::slice;

constexpr std::size_t iso_blocks = 80;  // a 40,960-byte ISO image stand-in
constexpr std::size_t iso_bytes = iso_blocks * 512;

const std::vector<map_entry> one_partition = {{"Apple_partition_map", "Apple", 1, 63},
                                              {"Apple_HFS", "MacOS", 64, 100}};
const std::vector<map_entry> two_partitions = {{"Apple_partition_map", "Apple", 1, 63},
                                               {"Apple_HFS", "First", 64, 30},
                                               {"Apple_Free", "", 94, 6},
                                               {"Apple_HFS", "Second", 100, 20}};

struct job_run {
  std::vector<std::uint8_t> iso;
  std::vector<std::uint8_t> hfs;
  test::scripted_questions ask;
  int result = -1;
};

void run(job_run& job) {
  memory_stream hfs("hfs.img", job.hfs);
  memory_stream iso("cd.iso", job.iso);
  job.result = hybrid::hybridize_from_file(hfs, iso, job.ask);
  job.iso = iso.bytes();
}

TEST(HybridizeFromFile, OnePartitionMergesTheSourceMap) {
  job_run job{test::iso_image(iso_bytes), test::hfs_image(one_partition, 164), {}, -1};
  const auto original_iso = job.iso;
  const auto hfs = job.hfs;
  run(job);
  ASSERT_EQ(job.result, 1);
  EXPECT_EQ(job.ask.partition_questions, 0);
  EXPECT_TRUE(job.ask.notices.empty());
  ASSERT_EQ(job.iso.size(), iso_bytes + 100 * 512);

  // Block 0: the source's first 16 bytes with the new block count; no drivers.
  auto block0 = slice(hfs, 0, 512);
  std::memset(block0.data() + 16, 0, 512 - 16);
  hybrid::put_be32(block0.data() + 4, iso_blocks + 100);
  EXPECT_EQ(slice(job.iso, 0, 512), block0);
  // Block 1: the map's own entry as it was, counting two entries.
  auto block1 = slice(hfs, 512, 512);
  hybrid::put_be32(block1.data() + 4, 2);
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
    const char* message;  // nullptr: a silent cancel
  };
  auto hybrid_iso = test::iso_image(iso_bytes);
  hybrid_iso[0] = 'E';
  hybrid_iso[1] = 'R';
  auto truncated = test::hfs_image(one_partition, 164);
  truncated.resize(150 * 512);
  std::vector<refusal> cases = {
      {"already hybrid", hybrid_iso, test::hfs_image(one_partition, 164),
       "This ISO image is already a Macintosh hybrid image.\nAborting..."},
      {"partition choice cancelled", test::iso_image(iso_bytes),
       test::hfs_image(two_partitions, 120), nullptr},
      {"no partition", test::iso_image(iso_bytes), test::pattern(8192, 3),
       "This file holds no HFS partition."},
      {"truncated image", test::iso_image(iso_bytes), truncated,
       "The HFS partition \"MacOS\" ends at byte 83968, but the HFS file is only 76800 bytes "
       "long.\nAborting..."},
      {"iso too small", test::iso_image(20000), test::hfs_image(one_partition, 164),
       "This ISO image is only 20000 bytes long: it cannot hold an ISO 9660 volume.\nAborting..."},
      {"empty iso",
       {},
       test::hfs_image(one_partition, 164),
       "This ISO image is only 0 bytes long: it cannot hold an ISO 9660 volume.\nAborting..."},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.what);
    job_run job{c.iso, c.hfs, {}, -1};
    run(job);
    EXPECT_EQ(job.result, 0);
    EXPECT_EQ(job.iso, c.iso);
    if (c.message) {
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
  EXPECT_EQ(job.ask.notices[0], "This file holds no HFS partition.");
}

TEST(HybridizeFromFile, BareVolumeIsTakenWholeBehindAFreshMap) {
  for (const char* signature : {"BD", "H+", "HX"}) {
    SCOPED_TRACE(signature);
    auto volume = test::pattern(40 * 512 + 100, 9);  // a stray partial block at the end
    std::memset(volume.data(), 0, 1024);
    std::memcpy(volume.data() + 1024, signature, 2);
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

std::vector<map_entry> many_partitions(int count) {
  std::vector<map_entry> entries = {{"Apple_partition_map", "Apple", 1, 63}};
  for (int i = 0; i < count; ++i) {
    std::string name = "P";  // (gcc 12 warns wrongly about "P" + std::to_string)
    name += std::to_string(i);
    entries.push_back({"Apple_HFS", name, static_cast<std::uint32_t>(100 + i), 1});
  }
  return entries;
}

TEST(HybridizeFromFile, AMergeFillsAtMostTheSystemArea) {
  job_run fits{test::iso_image(iso_bytes), test::hfs_image(many_partitions(62), 200), {}, -1};
  fits.ask.partition_answer = hybrid::choice_all;
  const auto before = fits.iso;
  run(fits);
  ASSERT_EQ(fits.result, 1);
  EXPECT_EQ(get_be32(fits.iso.data() + 512 + 4), 63u);
  EXPECT_STREQ(reinterpret_cast<const char*>(fits.iso.data() + 63 * 512 + 16), "P61");
  EXPECT_EQ(slice(fits.iso, 32768, iso_bytes - 32768), slice(before, 32768, iso_bytes - 32768));
  EXPECT_EQ(hybrid::listed_rows(fits.ask.last_list), 8);

  job_run too_many{test::iso_image(iso_bytes), test::hfs_image(many_partitions(63), 200), {}, -1};
  too_many.ask.partition_answer = hybrid::choice_all;
  const auto original = too_many.iso;
  run(too_many);
  EXPECT_EQ(too_many.result, 0);
  EXPECT_EQ(too_many.iso, original);
  ASSERT_EQ(too_many.ask.notices.size(), 1u);
  EXPECT_EQ(too_many.ask.notices[0],
            "The HFS file holds 63 HFS partitions; a hybrid image has room for 62 at most.\n"
            "Aborting...");
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
    EXPECT_EQ(hybrid::hybridize_from_file(hfs, iso, ask), 0);
    EXPECT_EQ(iso.bytes(), original);
    EXPECT_EQ(ask.notices,
              std::vector<std::string>{
                  "The job was stopped before it ended.\nThe ISO image was left as it was."});
  }
}

// What the ISO image's stream is asked to keep, in order: the data, then a
// sync, then the map, then a sync, so that a power cut at any moment leaves
// either the plain ISO image or the whole hybrid, never a map pointing at
// data that are not on the disk. A roll-back reaches the disk too.
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

TEST(HybridizeFromFile, DataMapAndRollBackReachTheDiskInOrder) {
  const auto hfs_bytes = test::hfs_image(one_partition, 164);
  const auto original = test::iso_image(iso_bytes + 100);  // padded to a block first
  {
    memory_stream hfs("hfs.img", hfs_bytes);
    test::failing_stream iso("cd.iso", original);
    test::scripted_questions ask;
    ASSERT_EQ(hybrid::hybridize_from_file(hfs, iso, ask), 1);
    EXPECT_EQ(iso.journal,
              (std::vector<std::string>{"write@41060+412", "write@41472+51200", "flush", "sync",
                                        "write@0+1536", "flush", "sync"}));
  }
  {
    memory_stream hfs("hfs.img", hfs_bytes);
    map_write_fails iso("cd.iso", original);
    test::scripted_questions ask;
    ASSERT_EQ(hybrid::hybridize_from_file(hfs, iso, ask), 0);
    EXPECT_EQ(iso.journal,
              (std::vector<std::string>{"write@41060+412", "write@41472+51200", "flush", "sync",
                                        "truncate@41060", "write@0+32768", "sync"}));
    EXPECT_EQ(iso.bytes(), original);
    EXPECT_EQ(ask.notices, std::vector<std::string>{
                               "Error writing file cd.iso.\nThe ISO image was left as it was."});
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
  ASSERT_EQ(hybrid::hybridize_from_file(hfs, iso, ask), 0);
  EXPECT_EQ(ask.notices, std::vector<std::string>{"Error writing file cd.iso.\nThe ISO image "
                                                  "could not be put back as it was: it may be "
                                                  "damaged."});
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
  EXPECT_EQ(hybrid::hybridize_from_file(hfs, iso, ask), 0);
  EXPECT_EQ(iso.bytes(), grown);
  EXPECT_EQ(ask.notices, std::vector<std::string>{hybrid::text::iso_changed_length});
}

}  // namespace
