// An HFS image target's new file, both ways: unnamed until the rename where
// the system can (Linux), else NAME.XXXXXXXXN.part. Nobody else reads it
// before it is complete, it ends in the target's place or nowhere, and what
// killed runs left is removed unless another process holds it.
#include "hybrid/io/replacement_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>

#ifndef _WIN32
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "platform/file_sync.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;

struct scratch_folder {
  fs::path path{test::unique_temp_path("zelvorant-replacement")};
  scratch_folder() { fs::create_directory(path); }
  ~scratch_folder() {
    std::error_code ignored;
    fs::remove_all(path, ignored);
  }
  std::string file(const std::string& leaf) const { return (path / leaf).string(); }
  std::map<std::string, unsigned> names() const {  // each with its mode; 0 on Windows
    std::map<std::string, unsigned> found;
    for (const auto& entry : fs::directory_iterator(path)) {
      unsigned mode = 0;
#ifndef _WIN32
      struct stat info {};
      if (lstat(entry.path().c_str(), &info) == 0) mode = info.st_mode & 07777;
#endif
      found[entry.path().filename().string()] = mode;
    }
    return found;
  }
};

std::string read_text(const std::string& path) {
  std::string text;
  std::getline(std::ifstream(path, std::ios::binary), text, '\0');
  return text;
}

// Until the rename, the folder holds the old file and, the named way, the
// new one: the owner's alone and held. Then the image alone, with the old
// file's mode or a new file's usual one. Any other ending changes nothing.
TEST(ReplacementFile, TheNewFileIsItsOwnersAloneUntilItTakesThePlace) {
  struct round {
    bool named;
    unsigned old_mode;  // 0: no file at the target's path
    unsigned mask;
    bool completes;
    unsigned final_mode;  // 0: no file at the end
  };
  for (const round& r : {round{false, 0640, 022, true, 0640}, round{true, 0604, 0, true, 0604},
                         round{false, 0, 022, true, 0644}, round{true, 0, 077, true, 0600},
                         round{false, 0640, 022, false, 0640}, round{true, 0, 022, false, 0}}) {
    SCOPED_TRACE(::testing::Message() << r.named << " " << r.old_mode << " " << r.completes);
    scratch_folder dir;
    const std::string target = dir.file("out.img");
#ifndef _WIN32
    const mode_t saved_mask = umask(r.mask);
#endif
    if (r.old_mode != 0) {
      std::ofstream(target) << "old";
      fs::permissions(target, static_cast<fs::perms>(r.old_mode));
    }
    const test::named_new_files way(r.named);
    {
      hybrid::replacement_file image(target);
      ASSERT_EQ(image.open(), hybrid::replacement_file::opened::ok) << image.error_text();
#ifdef ZELVORANT_UNNAMED_NEW_FILES
      EXPECT_EQ(image.unnamed(), !r.named);
#endif
      auto during = dir.names();
      during.erase("out.img");
      ASSERT_EQ(during.size(), image.unnamed() ? 0u : 1u);
      for (const auto& [leaf, mode] : during) {
        EXPECT_TRUE(leaf.starts_with("out.img.") && hybrid::is_new_file_name(leaf)) << leaf;
        EXPECT_TRUE(mode == 0600 || mode == 0) << mode;              // 0: Windows
        EXPECT_FALSE(platform::remove_unheld_file(dir.file(leaf)));  // held by the job
      }
      ASSERT_TRUE(image.stream().write("new", 3));
      if (r.completes) {
        EXPECT_TRUE(image.commit()) << image.error_text();
      }
    }
#ifndef _WIN32
    umask(saved_mask);
    const std::map<std::string, unsigned> at_end = {{"out.img", r.final_mode}};
    EXPECT_EQ(dir.names(), r.final_mode != 0 ? at_end : decltype(at_end){});
#endif
    if (r.final_mode != 0) {
      EXPECT_EQ(read_text(target), r.completes ? "new" : "old");
    }
  }
}

// Any image's leftovers go; not one another process holds (the job's lock,
// a flock, on Windows any open handle), nor a name, a folder, a link or
// (POSIX) a file of another kind.
TEST(ReplacementFile, LeftoversGoUnlessHeldOrNotOurs) {
  scratch_folder dir;
  std::map<std::string, bool> kept = {
      {"out.img.0123abcd0.part", false}, {"other.iso.89abcdef15.part", false},
      {"download.part", true},           {"o.0123ABCD0.part", true},
      {"o.0123abcd123.part", true},      {".0123abcd7.part", true},
      {"held.0123abcd1.part", true},     {"flocked.0123abcd3.part", true}};
  for (const auto& [leaf, _] : kept) std::ofstream(dir.file(leaf)) << "left";
  kept["folder.0123abcd2.part"] = true;
  fs::create_directory(dir.file("folder.0123abcd2.part"));
  hybrid::file_stream held(dir.file("held.0123abcd1.part"), "r+b", platform::file_lock::exclusive);
  hybrid::file_stream flocked(dir.file("flocked.0123abcd3.part"), "rb");
#ifndef _WIN32
  ASSERT_EQ(flock(fileno(flocked.file_handle()), LOCK_SH), 0);
  kept["link.0123abcd4.part"] = true;
  std::ofstream(dir.file("victim")) << "not ours";
  fs::create_symlink(dir.file("victim"), dir.file("link.0123abcd4.part"));
  if (geteuid() == 0) {  // another user's
    kept["theirs.0123abcd5.part"] = true;
    std::ofstream(dir.file("theirs.0123abcd5.part")) << "theirs";
    ASSERT_EQ(chown(dir.file("theirs.0123abcd5.part").c_str(), 65534, 65534), 0);
  }
#endif
  hybrid::replacement_file image(dir.file("out.img"));
  ASSERT_EQ(image.open(), hybrid::replacement_file::opened::ok);
  const auto after = dir.names();
  for (const auto& [leaf, stays] : kept) EXPECT_EQ(after.count(leaf), stays ? 1u : 0u) << leaf;
}

}  // namespace
