#include "hybrid/floppy_image.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <array>

#include "hybrid/io/file_stream.h"
#include "hybrid/messages.h"
#include "test_support.h"
#include "tool_test_support.h"

namespace {

const std::string fixture = ZELVORANT_FIXTURES "/format-corpus-JW_disk9_hfstest_9.img";

TEST(FloppyCommandLine, IsTheToolsWordForWord) {
  EXPECT_EQ(hybrid::floppy_command_line(0),
            "dskgrab.exe /A: /Fzelvora$.nt /O512 /P80 /S18 /T2  /R /1 00001 79118");
  EXPECT_EQ(hybrid::floppy_command_line(1),
            "dskgrab.exe /B: /Fzelvora$.nt /O512 /P80 /S18 /T2  /R /1 00001 79118");
}

// Every case runs with a temporary folder of its own, which must be empty
// again afterwards: the job removes its scratch folder whatever happened.
struct FloppyImage : ::testing::Test {
  test::temp_folder temp, files;
  test::scoped_env tmpdir{"TMPDIR", temp.path()};
  test::scoped_env image{"ZELVORANT_FLOPPY_IMAGE", nullptr};
  platform::tool_places real_tool = test::tool_places_in(ZELVORANT_TOOL_DIR);
  test::scripted_questions ask;

  void TearDown() override { EXPECT_TRUE(temp.is_empty()) << "scratch folder left behind"; }

  // The tool reads these bytes as the disk in the drive.
  void insert_disk(const std::vector<std::uint8_t>& bytes) {
    test::write_file(files / "disk.img", bytes);
    setenv("ZELVORANT_FLOPPY_IMAGE", (files / "disk.img").c_str(), 1);
  }
  // A dskgrab of the given body, found on the search path.
  platform::tool_places fake_tool(const std::string& body) {
    std::filesystem::create_directory(files / "bin");
    test::write_script(files / "bin/dskgrab", body);
    return test::tool_places_in("", files / "bin");
  }
  // The job failed with exactly this notice and left the target empty.
  void expect_refused(const hybrid::job_outcome& outcome, const hybrid::memory_stream& target,
                      const std::string& notice) {
    EXPECT_EQ(test::told(outcome, ask), 0);
    EXPECT_EQ(ask.notices, std::vector<std::string>{notice});
    EXPECT_TRUE(target.bytes().empty());
  }
};

// The map the job must write for a disk of `blocks` whole blocks.
std::vector<std::uint8_t> expected_map(std::uint32_t blocks) {
  std::array<std::uint8_t, hybrid::map_area_bytes> map{};
  hybrid::build_partition_map(map, blocks + 64, 64, blocks);
  return {map.begin(), map.end()};
}

TEST_F(FloppyImage, PutsAMapBeforeTheWholeDisk) {
  const auto disk = test::read_file(fixture);
  ASSERT_EQ(disk.size(), 1474560u);
  setenv("ZELVORANT_FLOPPY_IMAGE", fixture.c_str(), 1);
  hybrid::memory_stream target("floppy.hfs");
  EXPECT_EQ(test::told(hybrid::extract_floppy(0, target, ask, real_tool), ask), 1);
  EXPECT_TRUE(ask.notices.empty());
  ASSERT_EQ(target.bytes().size(), hybrid::map_area_bytes + disk.size());
  EXPECT_EQ(test::slice(target.bytes(), 0, hybrid::map_area_bytes), expected_map(2880));
  EXPECT_EQ(test::slice(target.bytes(), hybrid::map_area_bytes, disk.size()), disk);

  hybrid::partition_list list{};
  ASSERT_EQ(hybrid::list_hfs_partitions(target, list), 1);
  EXPECT_EQ(list[0].first_block, 64u);
  EXPECT_EQ(list[0].block_count, 2880u);
}

TEST_F(FloppyImage, CopiesAPartBlockButMapsOnlyWholeBlocks) {
  const auto disk = test::pattern(3 * 512 + 100, 5);
  insert_disk(disk);
  hybrid::memory_stream target("floppy.hfs", test::pattern(100000, 1));
  EXPECT_EQ(test::told(hybrid::extract_floppy(1, target, ask, real_tool), ask), 1);
  ASSERT_EQ(target.bytes().size(), hybrid::map_area_bytes + disk.size());
  EXPECT_EQ(test::slice(target.bytes(), 0, hybrid::map_area_bytes), expected_map(3));
  EXPECT_EQ(test::slice(target.bytes(), hybrid::map_area_bytes, disk.size()), disk);
}

TEST_F(FloppyImage, TheResultMountsAsTheDisksVolume) {
  if (std::system("command -v hmount >/dev/null 2>&1") != 0) GTEST_SKIP() << "no hfsutils";
  setenv("ZELVORANT_FLOPPY_IMAGE", fixture.c_str(), 1);
  {
    hybrid::file_stream target(files / "floppy.hfs", "w+b");
    ASSERT_EQ(test::told(hybrid::extract_floppy(0, target, ask, real_tool), ask), 1);
  }
  // hfsutils keep the mounted volume in $HOME; partitions count from 1.
  const std::string list = "cd " + files.path() + " && HOME=" + files.path() +
                           " hmount %s >/dev/null && HOME=" + files.path() + " hls -1 >%s";
  char command[1024];
  std::snprintf(command, sizeof command, list.c_str(), "floppy.hfs 1", "ours.txt");
  ASSERT_EQ(std::system(command), 0);
  std::filesystem::copy_file(fixture, files / "disk.img");
  std::snprintf(command, sizeof command, list.c_str(), "disk.img", "disk.txt");
  ASSERT_EQ(std::system(command), 0);
  EXPECT_NE(test::read_text(files / "ours.txt").find("JOHN1.DOC"), std::string::npos);
  EXPECT_EQ(test::read_text(files / "ours.txt"), test::read_text(files / "disk.txt"));
}

TEST_F(FloppyImage, RefusesDrivesOtherThanAAndB) {
  hybrid::memory_stream target("floppy.hfs", test::pattern(1000, 1));
  expect_refused(hybrid::extract_floppy(2, target, ask, real_tool), target,
                 hybrid::text::no_floppy_drive('C'));
}

TEST_F(FloppyImage, ToldWhenTheToolCannotStart) {
  hybrid::memory_stream target("floppy.hfs");
  expect_refused(
      hybrid::extract_floppy(0, target, ask, test::tool_places_in(files.path(), files.path())),
      target,
      hybrid::text::floppy_tool_not_started(
          "No program named dskgrab was found next to this program or on the search path."));
}

TEST_F(FloppyImage, ToldWhenTheToolFails) {
  setenv("ZELVORANT_FLOPPY_IMAGE", (files / "no-disk.img").c_str(), 1);
  hybrid::memory_stream target("floppy.hfs");
  expect_refused(hybrid::extract_floppy(0, target, ask, real_tool), target,
                 hybrid::text::floppy_tool_failed(1));

  ask.notices.clear();
  const auto killed = fake_tool("echo partial > 'zelvora$.nt'; kill -KILL $$");
  expect_refused(hybrid::extract_floppy(0, target, ask, killed), target,
                 hybrid::text::floppy_tool_killed(9));

  ask.notices.clear();
  const auto untidy = fake_tool("echo partial > 'zelvora$.nt'; echo x > junk; exit 4");
  expect_refused(hybrid::extract_floppy(0, target, ask, untidy), target,
                 hybrid::text::floppy_tool_failed(4));
}

// Ctrl-C on a terminal reaches the tool as well as the program.
struct stopping_questions : test::scripted_questions {
  bool stop_requested() override { return true; }
};

TEST_F(FloppyImage, AnInterruptedToolIsAStopNotAFault) {
  stopping_questions stopping;
  hybrid::memory_stream target("floppy.hfs");
  EXPECT_EQ(
      test::told(hybrid::extract_floppy(0, target, stopping, fake_tool("kill -INT $$")), stopping),
      0);
  EXPECT_EQ(stopping.notices, std::vector<std::string>{hybrid::text::stopped});
}

TEST_F(FloppyImage, ToldWhenNoScratchFolderCanBeMade) {
  test::scoped_env missing("TMPDIR", files / "gone");
  hybrid::memory_stream target("floppy.hfs");
  expect_refused(
      hybrid::extract_floppy(0, target, ask, real_tool), target,
      hybrid::text::floppy_no_scratch_folder("Cannot make a folder in " + (files / "gone") +
                                             ": No such file or directory."));
}

TEST_F(FloppyImage, ToldWhenTheToolLeavesNoDiskImage) {
  hybrid::memory_stream target("floppy.hfs");
  expect_refused(hybrid::extract_floppy(0, target, ask, fake_tool("exit 0")), target,
                 hybrid::text::floppy_no_image);

  ask.notices.clear();
  insert_disk({});
  expect_refused(hybrid::extract_floppy(0, target, ask, real_tool), target,
                 hybrid::text::floppy_image_empty);
}

TEST_F(FloppyImage, LeavesAUsersFileOfTheToolsNameAlone) {
  const auto before = std::filesystem::current_path();
  std::filesystem::current_path(files.path());
  test::write_file(files / "zelvora$.nt", {'m', 'i', 'n', 'e'});
  insert_disk(test::pattern(2048, 3));
  hybrid::memory_stream target("floppy.hfs");
  EXPECT_EQ(test::told(hybrid::extract_floppy(0, target, ask, real_tool), ask), 1);
  std::filesystem::current_path(before);
  EXPECT_EQ(test::read_text(files / "zelvora$.nt"), "mine");
}

TEST_F(FloppyImage, AFailedWriteLeavesTheTargetEmpty) {
  using hybrid::text::failed_operation;
  // A stream named as the target, that has just failed: the job names the
  // target and its reason, and the target forgets it on its next operation.
  test::failing_stream failed("floppy.hfs");
  failed.fail_at = 1;
  std::uint64_t unknown = 0;
  ASSERT_FALSE(failed.length(unknown));
  insert_disk(test::pattern(5000, 3));
  test::failing_stream counting("floppy.hfs");
  ASSERT_EQ(test::told(hybrid::extract_floppy(0, counting, ask, real_tool), ask), 1);
  ASSERT_GT(counting.operations, 64);
  for (long n = 1; n <= counting.operations; ++n) {
    SCOPED_TRACE(n);
    test::failing_stream target("floppy.hfs");
    target.fail_at = n;
    EXPECT_EQ(test::told(hybrid::extract_floppy(0, target, ask, real_tool), ask), 0);
    EXPECT_TRUE(target.bytes().empty());
    ASSERT_EQ(ask.notices.size(), 1u);
    // The failed step named, with the reason a failed target gives.
    bool told = false;
    for (const auto step : {failed_operation::read, failed_operation::write, failed_operation::seek,
                            failed_operation::length}) {
      told = told || ask.notices[0] == hybrid::text::io_failure(step, failed) +
                                           hybrid::text::hfs_image_kept_suffix;
    }
    EXPECT_TRUE(told) << ask.notices[0];
    ask.notices.clear();
  }
  test::failing_stream full("floppy.hfs");
  full.size_limit = 20000;
  EXPECT_EQ(test::told(hybrid::extract_floppy(0, full, ask, real_tool), ask), 0);
  EXPECT_EQ(ask.notices,
            std::vector<std::string>{hybrid::text::io_failure(failed_operation::write, failed) +
                                     hybrid::text::hfs_image_kept_suffix});
  EXPECT_TRUE(full.bytes().empty());
}

// The image is a new file that the dispatch throws away on failure: one that
// cannot be cut back changes nothing the user is told.
struct uncuttable_stream : hybrid::memory_stream {
  using memory_stream::memory_stream;
  bool truncate(std::uint64_t) override { return false; }
};

TEST_F(FloppyImage, AnImageThatCannotBeCutBackChangesNothingSaid) {
  uncuttable_stream target("floppy.hfs");
  EXPECT_EQ(test::told(hybrid::extract_floppy(0, target, ask, fake_tool("exit 0")), ask), 0);
  EXPECT_EQ(ask.notices, std::vector<std::string>{hybrid::text::floppy_no_image});
}

}  // namespace
