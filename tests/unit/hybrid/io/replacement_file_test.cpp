// The new file of an HFS image target, made both ways: with no name until the
// rename where the system can (Linux), else as NAME.XXXXXXXXN.part. Either
// way nobody else may read it before it is complete, it ends in the target's
// place or nowhere, and what killed runs left is removed unless held.
#include "hybrid/io/replacement_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>

#ifndef _WIN32
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "platform/file_sync.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;

struct folder {
  fs::path path{test::unique_temp_path("zelvorant-replacement")};
  folder() { fs::create_directory(path); }
  ~folder() {
    std::error_code ignored;
    fs::remove_all(path, ignored);
  }
  std::string file(const std::string& leaf) const { return (path / leaf).string(); }
  // Each name in the folder, with its mode (0 on Windows).
  std::map<std::string, unsigned> names() const {
    std::map<std::string, unsigned> found;
    for (const auto& entry : fs::directory_iterator(path)) {
      found[entry.path().filename().string()] = mode_of(entry.path().string());
    }
    return found;
  }
  static unsigned mode_of(const std::string& file) {
#ifdef _WIN32
    (void)file;
    return 0;
#else
    struct stat info {};
    return lstat(file.c_str(), &info) == 0 ? static_cast<unsigned>(info.st_mode & 07777) : 0;
#endif
  }
};

void write_text(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

std::string read_text(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

#ifdef _WIN32
constexpr bool modes = false;
#else
constexpr bool modes = true;
#endif
#ifdef ZELVORANT_UNNAMED_NEW_FILES
constexpr bool unnamed_here = true;
#else
constexpr bool unnamed_here = false;
#endif

TEST(ReplacementFile, ItsNewFilesNamesAreKnownAndNoOthers) {
  const std::map<std::string, bool> names = {
      {"out.img.0123abcd0.part", true},  {"out.img.89abcdef15.part", true},
      {"a.ffffffff9.part", true},        {".0123abcd7.part", false},
      {"out.img.0123ABCD0.part", false}, {"out.img.0123abc0.part", false},
      {"out.img.0123abcd.part", false},  {"out.img.0123abcd123.part", false},
      {"out.img.0123abcdx.part", false}, {"out.img.0123abcd0.part.txt", false},
      {"out.img.0123abcd0.PART", false}, {"download.part", false},
      {"out.img.0123abcd0-part", false}, {"", false},
  };
  for (const auto& [leaf, ours] : names) EXPECT_EQ(hybrid::is_new_file_name(leaf), ours) << leaf;
}

// Until the rename, the folder holds the old file and, the named way, the
// new one for its owner alone and locked; then the image alone, with the old
// file's mode or a new file's usual one, never wider. Any other ending
// leaves the folder as it was.
TEST(ReplacementFile, TheNewFileIsItsOwnersAloneUntilItTakesThePlace) {
  struct round {
    const char* what;
    bool named;
    unsigned old_mode;  // 0: no file at the target's path
    unsigned mask;
    bool completes;
    unsigned final_mode;
  };
  const round rounds[] = {
      {"over a file of mode 640", false, 0640, 022, true, 0640},
      {"over a file of mode 640, named", true, 0640, 022, true, 0640},
      {"over a file of mode 604, named", true, 0604, 0, true, 0604},
      {"over a file of mode 600, no umask", false, 0600, 0, true, 0600},
      {"a new file", false, 0, 022, true, 0644},
      {"a new file, named", true, 0, 077, true, 0600},
      {"a new file, named, no umask", true, 0, 0, true, 0666},
      {"not completed", false, 0640, 022, false, 0640},
      {"not completed, named", true, 0640, 022, false, 0640},
      {"not completed, no old file", true, 0, 022, false, 0},
  };
  for (const round& r : rounds) {
    SCOPED_TRACE(r.what);
    folder dir;
    const std::string target = dir.file("out.img");
#ifndef _WIN32
    const mode_t saved_mask = umask(r.mask);
#endif
    if (r.old_mode != 0) {
      write_text(target, "old");
      fs::permissions(target, static_cast<fs::perms>(r.old_mode));
    }
    const test::named_new_files way(r.named);
    {
      hybrid::replacement_file image(target);
      ASSERT_EQ(image.open(), hybrid::replacement_file::opened::ok) << image.error_text();
      EXPECT_EQ(image.unnamed(), unnamed_here && !r.named);
      auto during = dir.names();
      if (r.old_mode != 0) {
        EXPECT_EQ(during.erase("out.img"), 1u);
      }
      if (image.unnamed()) {
        EXPECT_TRUE(during.empty());
      } else {
        ASSERT_EQ(during.size(), 1u);
        const auto& [leaf, mode] = *during.begin();
        EXPECT_TRUE(hybrid::is_new_file_name(leaf)) << leaf;
        EXPECT_EQ(leaf.rfind("out.img.", 0), 0u) << leaf;
        if (modes) {
          EXPECT_EQ(mode, 0600u);
        }
        EXPECT_FALSE(platform::remove_unheld_file(dir.file(leaf)));  // held by the job
      }
      ASSERT_TRUE(image.stream().write("new image", 9));
      if (r.completes) {
        EXPECT_TRUE(image.commit()) << image.error_text();
      }
    }
#ifndef _WIN32
    umask(saved_mask);
#endif
    const auto after = dir.names();
    if (r.old_mode == 0 && !r.completes) {
      EXPECT_TRUE(after.empty());
      continue;
    }
    ASSERT_EQ(after.size(), 1u);
    EXPECT_EQ(read_text(target), r.completes ? "new image" : "old");
    if (modes) {
      EXPECT_EQ(after.at("out.img"), r.final_mode);
    }
  }
}

// The next run in the folder removes the new files that killed runs left,
// whatever image they were for; not one another process holds, nor a name,
// a folder or a link of another kind.
TEST(ReplacementFile, LeftoversGoUnlessHeldOrNotOurs) {
  folder dir;
  enum class kind { stale, held, flocked, other_owner, directory, link };
  struct row {
    const char* leaf;
    kind is;
    bool kept;
  };
  std::vector<row> rows = {
      {"out.img.0123abcd0.part", kind::stale, false},
      {"other.iso.89abcdef15.part", kind::stale, false},
      {"download.part", kind::stale, true},
      {"upper.img.0123ABCD0.part", kind::stale, true},
      {"short.img.11111111.part", kind::stale, true},
      {"busy.img.0123abcd1.part", kind::held, true},
      {"folder.0123abcd2.part", kind::directory, true},
  };
#ifndef _WIN32
  rows.push_back({"flocked.img.0123abcd3.part", kind::flocked, true});
  rows.push_back({"link.img.0123abcd4.part", kind::link, true});
  if (geteuid() == 0) rows.push_back({"theirs.img.0123abcd5.part", kind::other_owner, true});
#endif
  std::vector<std::unique_ptr<hybrid::file_stream>> holders;
  write_text(dir.file("victim"), "not ours");
  for (const row& r : rows) {
    const std::string path = dir.file(r.leaf);
    switch (r.is) {
      case kind::directory:
        fs::create_directory(path);
        break;
      case kind::link:
        fs::create_symlink(dir.file("victim"), path);
        break;
      default:
        write_text(path, "left behind");
    }
    if (r.is == kind::held) {
      holders.push_back(
          std::make_unique<hybrid::file_stream>(path, "r+b", platform::file_lock::exclusive));
      ASSERT_TRUE(holders.back()->is_open());
    }
#ifndef _WIN32
    if (r.is == kind::flocked) {
      holders.push_back(std::make_unique<hybrid::file_stream>(path, "rb"));
      ASSERT_EQ(flock(fileno(holders.back()->file_handle()), LOCK_SH), 0);
    }
    if (r.is == kind::other_owner) {
      ASSERT_EQ(chown(path.c_str(), 65534, 65534), 0);
    }
#endif
  }
  hybrid::replacement_file image(dir.file("out.img"));
  ASSERT_EQ(image.open(), hybrid::replacement_file::opened::ok);
  const auto after = dir.names();
  for (const row& r : rows) EXPECT_EQ(after.count(r.leaf), r.kept ? 1u : 0u) << r.leaf;
  EXPECT_EQ(read_text(dir.file("victim")), "not ours");
}

}  // namespace
