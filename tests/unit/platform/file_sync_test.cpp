// The new files that take another file's place, seen from the outside: one
// with no name until it is linked (Linux), or one named from the start, its
// owner's alone and held until it is closed.
#include "platform/file_sync.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using file_ptr = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;

struct folder {
  fs::path path{test::unique_temp_path("zelvorant-file-sync")};
  folder() { fs::create_directory(path); }
  ~folder() {
    std::error_code ignored;
    fs::remove_all(path, ignored);
  }
  std::string file(const std::string& leaf) const { return (path / leaf).string(); }
  long entries() const { return std::distance(fs::directory_iterator(path), {}); }
};

std::string read_text(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The named way where the system has no unnamed files, or where the file
// system (here: the tests' switch) refuses them.
TEST(FileSync, AnUnnamedNewFileIsSeenOnlyOnceNamed) {
  folder dir;
  for (const bool refused : {false, true}) {
    SCOPED_TRACE(refused ? "refused" : "as the system can");
    const test::named_new_files way(refused);
    file_ptr file{platform::open_unnamed_new_file(dir.path.string()), std::fclose};
#ifdef ZELVORANT_UNNAMED_NEW_FILES
    const bool unnamed = !refused;
#else
    const bool unnamed = false;
#endif
    if (!unnamed) {
      EXPECT_FALSE(file);
      continue;
    }
    ASSERT_TRUE(file);
    ASSERT_EQ(std::fwrite("image", 1, 5, file.get()), 5u);
    EXPECT_EQ(dir.entries(), 0);
    ASSERT_TRUE(platform::name_new_file(file.get(), dir.file("a.part")));
    EXPECT_EQ(read_text(dir.file("a.part")), "image");
    errno = 0;
    EXPECT_FALSE(platform::name_new_file(file.get(), dir.file("a.part")));
    EXPECT_EQ(errno, EEXIST);
    // Named, it is still held: another run does not take it for a leftover.
    EXPECT_FALSE(platform::remove_unheld_file(dir.file("a.part")));
    file.reset();
    EXPECT_TRUE(platform::remove_unheld_file(dir.file("a.part")));
    EXPECT_EQ(dir.entries(), 0);
  }
}

TEST(FileSync, ANamedNewFileIsNewOwnerOnlyAndHeldWhileOpen) {
  folder dir;
  const std::string path = dir.file("b.part");
  file_ptr file{platform::open_named_new_file(path), std::fclose};
  ASSERT_TRUE(file);
#ifndef _WIN32
  struct stat info {};
  ASSERT_EQ(stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
#endif
  errno = 0;
  EXPECT_EQ(platform::open_named_new_file(path), nullptr);
  EXPECT_EQ(errno, EEXIST);
  EXPECT_FALSE(platform::remove_unheld_file(path));
  file.reset();
  EXPECT_TRUE(platform::remove_unheld_file(path));
  EXPECT_FALSE(fs::exists(path));
  EXPECT_FALSE(platform::remove_unheld_file(path));  // nothing there
  EXPECT_EQ(platform::open_named_new_file(dir.file("no-such-folder/c.part")), nullptr);
}

}  // namespace
