// The Windows twins of the platform functions, and the floppy job through the
// Windows build of the imaging tool.
#include <gtest/gtest.h>
#include <windows.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>

#include "hybrid/apm/partition_map.h"
#include "hybrid/floppy_image.h"
#include "hybrid/io/memory_stream.h"
#include "platform/file_ops.h"
#include "platform/process.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using file_ptr = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;

file_ptr open_file(const fs::path& path, const char* mode) {
  return {std::fopen(path.string().c_str(), mode), std::fclose};
}

std::vector<std::uint8_t> read_all(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A fresh folder, removed with its contents.
struct scratch {
  fs::path path{test::unique_temp_path("zelvorant-win32")};
  scratch() { fs::create_directory(path); }
  ~scratch() {
    std::error_code ignored;
    fs::remove_all(path, ignored);
  }
};

// Sets an environment variable for the scope; the process's copy is what a
// tool started from here inherits.
class scoped_env {
 public:
  scoped_env(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    _putenv_s(name, value.c_str());
  }
  ~scoped_env() { _putenv_s(name_.c_str(), old_ ? old_->c_str() : ""); }
  scoped_env(const scoped_env&) = delete;
  scoped_env& operator=(const scoped_env&) = delete;

 private:
  std::string name_;
  std::optional<std::string> old_;
};

TEST(FileOpsWin32, OffsetsBeyondFourGibibytes) {
  scratch dir;
  const file_ptr file = open_file(dir.path / "big.iso", "w+b");
  ASSERT_TRUE(file);
  const std::uint64_t big_length = (std::uint64_t{5} << 30) + 100;
  std::fputs("head", file.get());
  ASSERT_TRUE(platform::file_truncate(file.get(), big_length));
  std::uint64_t length = 0, at = 0;
  ASSERT_TRUE(platform::file_length(file.get(), length));
  EXPECT_EQ(length, big_length);
  // Cutting or extending the file leaves the stream where it was.
  ASSERT_TRUE(platform::file_tell(file.get(), at));
  EXPECT_EQ(at, 4u);

  const std::uint64_t marker = (std::uint64_t{9} << 29) + 7;  // 4.5 GiB and a bit
  ASSERT_TRUE(platform::file_seek(file.get(), marker));
  ASSERT_EQ(std::fputc('M', file.get()), 'M');
  ASSERT_TRUE(platform::file_tell(file.get(), at));
  EXPECT_EQ(at, marker + 1);
  ASSERT_TRUE(platform::file_seek(file.get(), 0));
  ASSERT_TRUE(platform::file_seek(file.get(), marker));
  EXPECT_EQ(std::fgetc(file.get()), 'M');

  ASSERT_TRUE(platform::file_seek_end(file.get()));
  ASSERT_TRUE(platform::file_tell(file.get(), at));
  EXPECT_EQ(at, big_length);
  ASSERT_TRUE(platform::file_truncate(file.get(), 4));
  ASSERT_TRUE(platform::file_length(file.get(), length));
  EXPECT_EQ(length, 4u);
}

TEST(FileOpsWin32, SameFileByAnyNameButNotACopy) {
  scratch dir;
  { std::ofstream(dir.path / "cd.iso") << "ISO"; }
  fs::copy_file(dir.path / "cd.iso", dir.path / "copy.iso");
  ASSERT_TRUE(CreateHardLinkA((dir.path / "linked.iso").string().c_str(),
                              (dir.path / "cd.iso").string().c_str(), nullptr));
  const file_ptr iso = open_file(dir.path / "cd.iso", "r+b");
  const file_ptr again = open_file(dir.path / "cd.iso", "rb");
  const file_ptr linked = open_file(dir.path / "linked.iso", "rb");
  const file_ptr copy = open_file(dir.path / "copy.iso", "rb");
  ASSERT_TRUE(iso && again && linked && copy);
  EXPECT_TRUE(platform::same_file(iso.get(), again.get()));
  EXPECT_TRUE(platform::same_file(iso.get(), linked.get()));
  EXPECT_FALSE(platform::same_file(iso.get(), copy.get()));
}

TEST(ProcessWin32, PrivateFoldersAreNewAndEmpty) {
  std::string first, second, error;
  ASSERT_TRUE(platform::make_private_folder(first, error)) << error;
  ASSERT_TRUE(platform::make_private_folder(second, error)) << error;
  EXPECT_NE(first, second);
  EXPECT_TRUE(fs::is_directory(first) && fs::is_empty(first));
  EXPECT_TRUE(fs::is_directory(second) && fs::is_empty(second));
  fs::remove(first);
  fs::remove(second);
}

const platform::tool_places real_tool = test::tool_places_in(ZELVORANT_TOOL_DIR);
const std::string fixture = ZELVORANT_FIXTURES "/format-corpus-JW_disk9_hfstest_9.img";

TEST(ProcessWin32, TheToolRunsInTheGivenFolderAndItsExitCodeComesBack) {
  scratch dir, work;
  const std::vector<std::uint8_t> disk = test::pattern(4 * 512, 3);
  {
    std::ofstream(dir.path / "disk.img", std::ios::binary)
        .write(reinterpret_cast<const char*>(disk.data()),
               static_cast<std::streamsize>(disk.size()));
  }
  scoped_env image("ZELVORANT_FLOPPY_IMAGE", (dir.path / "disk.img").string());

  platform::tool_run run = platform::run_tool("dskgrab.exe /B: /Fout.img /O512 /P1 /S2 /T1",
                                              work.path.string(), real_tool);
  ASSERT_EQ(run.result, platform::tool_run::outcome::exited) << run.error_text;
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(read_all(work.path / "out.img"), test::slice(disk, 0, 2 * 512));

  // dskgrab says 1 for a command line without a drive.
  run = platform::run_tool("dskgrab.exe /Fout.img", work.path.string(), real_tool);
  ASSERT_EQ(run.result, platform::tool_run::outcome::exited);
  EXPECT_EQ(run.exit_code, 1);
}

TEST(ProcessWin32, TheToolIsFoundOnTheSearchPathAfterTheProgramFolder) {
  scratch empty, work;
  scoped_env image("ZELVORANT_FLOPPY_IMAGE", fixture);
  const std::string line = "dskgrab.exe /A: /Fout.img /O512 /P1 /S1 /T1";
  platform::tool_run run = platform::run_tool(
      line, work.path.string(),
      test::tool_places_in(empty.path.string(), std::string("C:\\nowhere;") + ZELVORANT_TOOL_DIR));
  ASSERT_EQ(run.result, platform::tool_run::outcome::exited) << run.error_text;
  EXPECT_EQ(fs::file_size(work.path / "out.img"), 512u);

  run = platform::run_tool(line, work.path.string(),
                           test::tool_places_in(empty.path.string(), empty.path.string()));
  EXPECT_EQ(run.result, platform::tool_run::outcome::could_not_start);
  EXPECT_EQ(
      run.error_text,
      "No program named dskgrab.exe was found next to this program, in the current folder, in "
      "the system's folders or on the search path.");
}

TEST(ProcessWin32, AFolderThatCannotBeEnteredMeansTheToolDidNotStart) {
  scratch dir;
  const platform::tool_run run =
      platform::run_tool("dskgrab.exe /A: /Fx", (dir.path / "missing").string(), real_tool);
  EXPECT_EQ(run.result, platform::tool_run::outcome::could_not_start);
  EXPECT_NE(run.error_text.find("missing"), std::string::npos) << run.error_text;
  EXPECT_EQ(run.error_text.back(), '.');
}

// The whole floppy job as the Windows program runs it: the tool in its own
// scratch folder under the user's temporary folder, which is empty again
// afterwards.
TEST(FloppyImageWin32, TheDiskBehindAFreshMapAndNoScratchLeft) {
  scratch temp;
  scoped_env tmp("TMP", temp.path.string()), tmp2("TEMP", temp.path.string());
  scoped_env image("ZELVORANT_FLOPPY_IMAGE", fixture);
  const std::vector<std::uint8_t> disk = read_all(fixture);
  ASSERT_EQ(disk.size(), 1474560u);
  test::scripted_questions ask;
  hybrid::memory_stream target("floppy.hfs");
  EXPECT_EQ(test::told(hybrid::extract_floppy(0, target, ask, real_tool), ask), 1);
  EXPECT_TRUE(ask.notices.empty());
  ASSERT_EQ(target.bytes().size(), hybrid::map_area_bytes + disk.size());
  EXPECT_EQ(test::slice(target.bytes(), hybrid::map_area_bytes, disk.size()), disk);
  hybrid::partition_list list{};
  ASSERT_EQ(hybrid::list_hfs_partitions(target, list), 1);
  EXPECT_EQ(list[0].block_count, 2880u);
  EXPECT_TRUE(fs::is_empty(temp.path)) << "scratch folder left behind";
}

}  // namespace
