// The file operations both twins offer, seen from the outside: what a file
// is and when it last changed, and the unnamed scratch file beside another.
#include "platform/file_ops.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <string>
#include <thread>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using file_ptr = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;

file_ptr open_file(const fs::path& path, const char* mode) {
  return {std::fopen(path.string().c_str(), mode), std::fclose};
}

struct folder {
  fs::path path{test::unique_temp_path("zelvorant-file-ops")};
  folder() { fs::create_directory(path); }
  ~folder() {
    std::error_code ignored;
    fs::remove_all(path, ignored);
  }
};

TEST(FileOps, ARegularFileItsLengthAndItsLastChange) {
  folder dir;
  const fs::path path = dir.path / "source.img";
  std::ofstream(path, std::ios::binary) << std::string(5000, 'x');
  const file_ptr file = open_file(path, "rb");
  ASSERT_TRUE(file);
  platform::file_status first, again, later;
  ASSERT_TRUE(platform::file_status_of(file.get(), first));
  EXPECT_EQ(first.kind, platform::file_kind::regular);
  EXPECT_EQ(first.length, 5000u);
  ASSERT_TRUE(platform::file_status_of(file.get(), again));
  EXPECT_EQ(again.modified_ns, first.modified_ns);

  // Another program appends, or sets the time back: either shows.
  std::ofstream(path, std::ios::binary | std::ios::app) << "more";
  ASSERT_TRUE(platform::file_status_of(file.get(), later));
  EXPECT_EQ(later.length, 5004u);
  fs::last_write_time(path, fs::last_write_time(path) - std::chrono::hours(30));
  ASSERT_TRUE(platform::file_status_of(file.get(), later));
  EXPECT_NE(later.modified_ns, first.modified_ns);

  // A rewrite in place whose time is put back shows in the status change
  // time alone (its clock may move in steps of a few ms).
  const platform::file_status before = later;
  const auto written = fs::last_write_time(path);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  std::fstream(path, std::ios::binary | std::ios::in | std::ios::out) << "yyyy";
  fs::last_write_time(path, written);
  ASSERT_TRUE(platform::file_status_of(file.get(), later));
  EXPECT_EQ(later.modified_ns, before.modified_ns);
  EXPECT_NE(later.changed_ns, before.changed_ns);
}

TEST(FileOps, DevicesAndPipesAreNoRegularFiles) {
#ifdef _WIN32
  const file_ptr null_device = open_file("NUL", "r+b");
#else
  const file_ptr null_device = open_file("/dev/null", "r+b");
#endif
  ASSERT_TRUE(null_device);
  platform::file_status status;
  ASSERT_TRUE(platform::file_status_of(null_device.get(), status));
  EXPECT_EQ(status.kind, platform::file_kind::character_device);
#ifndef _WIN32
  folder dir;
  const file_ptr folder_itself = open_file(dir.path, "rb");
  ASSERT_TRUE(folder_itself);
  ASSERT_TRUE(platform::file_status_of(folder_itself.get(), status));
  EXPECT_EQ(status.kind, platform::file_kind::directory);
  const fs::path pipe = dir.path / "pipe";
  ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
  const file_ptr fifo = open_file(pipe, "r+b");  // does not wait for a partner
  ASSERT_TRUE(fifo);
  ASSERT_TRUE(platform::file_status_of(fifo.get(), status));
  EXPECT_EQ(status.kind, platform::file_kind::pipe);
#endif
}

// The scratch file holds what is written to it and leaves nothing behind,
// both where the system makes it without a name and where it is named for a
// moment; a name a killed run left in that moment goes with the next one.
TEST(FileOps, TheUnnamedScratchFileLeavesNothingBehind) {
  folder dir;
  const fs::path beside = dir.path / "cd.iso";
  std::ofstream(beside, std::ios::binary) << "iso";
  std::set<std::string> stays = {"cd.iso"};
#ifndef _WIN32
  stays.insert({".zelvorant-scratch-longer1", "zelvorant-scratch-abc123"});
  for (const std::string leaf :
       {".zelvorant-scratch-aB3xYz", ".zelvorant-scratch-longer1", "zelvorant-scratch-abc123"}) {
    std::ofstream(dir.path / leaf) << "left";
  }
#endif
  for (const bool named : {false, true}) {
    const test::named_new_files way(named);
    file_ptr scratch{platform::open_unnamed_file_beside(beside.string()), std::fclose};
    ASSERT_TRUE(scratch);
    ASSERT_EQ(std::fwrite("kept aside", 1, 10, scratch.get()), 10u);
    ASSERT_TRUE(platform::file_seek(scratch.get(), 0));
    char back[10] = {};
    ASSERT_EQ(std::fread(back, 1, sizeof back, scratch.get()), 10u);
    EXPECT_EQ(std::string(back, sizeof back), "kept aside");
#ifdef _WIN32
    scratch.reset();  // Windows lists the file until its last handle closes
#endif
    std::set<std::string> found;
    for (const auto& entry : fs::directory_iterator(dir.path)) {
      found.insert(entry.path().filename().string());
    }
    EXPECT_EQ(found, stays);
  }
  EXPECT_EQ(platform::open_unnamed_file_beside((dir.path / "no-such-folder" / "x.iso").string()),
            nullptr);
}

}  // namespace
