// Roll-backs that meet failures of their own: every part that can be
// written back is, and the verdict is the read-back's, given once.
#include "hybrid/io/iso_transaction.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "hybrid/hybrid_writer.h"
#include "hybrid/io/file_stream.h"
#include "hybrid/io/removed_tail.h"
#include "hybrid/messages.h"
#include "test_support.h"

namespace {

using hybrid::iso_transaction;
using hybrid::restore_order;
using test::slice;

constexpr std::size_t volume_bytes = 80 * 512, tail_bytes = 3000;
constexpr int always = -1;

// Fails chosen kinds of operation once the roll-back begins (`armed`): a
// count of failures, or always; or claims truncates it does not do.
struct roll_back_faults : test::failing_stream {
  using failing_stream::failing_stream;
  bool armed = false;
  int truncates = 0, head_writes = 0, tail_writes = 0, syncs = 0;
  bool truncate_lies = false;

  static bool fails(bool armed_now, int& left) {
    if (!armed_now || left == 0) return false;
    if (left > 0) --left;
    return true;
  }
  bool truncate(std::uint64_t bytes) override {
    if (armed && truncate_lies) return true;
    return !fails(armed, truncates) && failing_stream::truncate(bytes);
  }
  bool write(const void* buffer, std::size_t count) override {
    std::uint64_t at = 0;
    memory_stream::tell(at);
    if (fails(armed, at == 0 ? head_writes : tail_writes)) return false;
    return failing_stream::write(buffer, count);
  }
  bool sync_to_disk() override { return !fails(armed, syncs) && failing_stream::sync_to_disk(); }
};

TEST(IsoTransaction, ARollBackWritesBackWhatItCanAndReportsWhatItReadsBack) {
  struct row {
    const char* what;
    bool tail;  // bytes after the volume kept in a named file
    int truncates, head_writes, tail_writes, syncs;
    bool truncate_lies;
    bool restored;
  };
  const std::vector<row> rows = {
      {"nothing fails", false, 0, 0, 0, 0, false, true},
      {"a truncate fails once", false, 1, 0, 0, 0, false, true},
      {"every truncate fails", false, always, 0, 0, 0, false, false},
      {"the head's write fails once", false, 0, 1, 0, 0, false, true},
      {"every write of the head fails", false, 0, always, 0, 0, false, false},
      {"every sync fails", false, 0, 0, 0, always, false, true},
      {"truncates claimed, not done", false, 0, 0, 0, 0, true, false},
      {"bytes after the volume", true, 0, 0, 0, 0, false, true},
      {"their copy back fails once", true, 0, 0, 1, 0, false, true},
      {"their cut fails once", true, 1, 0, 0, 0, false, true},
      {"every truncate fails, with them", true, always, 0, 0, 0, false, false},
  };
  const auto original = test::with_bytes_after_volume(test::iso_image(volume_bytes), tail_bytes);
  for (const restore_order order :
       {restore_order::bytes_then_head, restore_order::head_then_bytes}) {
    for (const row& r : rows) {
      SCOPED_TRACE(std::string(r.what) +
                   (order == restore_order::head_then_bytes ? ", head first" : ""));
      roll_back_faults iso("cd.iso", original);
      std::size_t journal_at = 0;
      {
        iso_transaction transaction(iso, order);
        ASSERT_TRUE(transaction.begin(original.size()));
        if (r.tail) {
          ASSERT_TRUE(transaction.remove_tail(volume_bytes, hybrid::tail_keeping::beside_image));
        }
        // What a job writes: data appended, then a map over the head.
        ASSERT_TRUE(iso.seek_to_end() && iso.write(test::pattern(4096, 9).data(), 4096));
        ASSERT_TRUE(iso.seek(0) && iso.write(test::pattern(1536, 3).data(), 1536));
        iso.armed = true;
        iso.truncates = r.truncates;
        iso.head_writes = r.head_writes;
        iso.tail_writes = r.tail_writes;
        iso.syncs = r.syncs;
        iso.truncate_lies = r.truncate_lies;
        // As the jobs end a failure: the user reads what the image reads back,
        // and where bytes that did not come back wait.
        const hybrid::job_outcome outcome = hybrid::roll_back_failure(transaction, "Failed.");
        EXPECT_EQ(r.restored, iso.bytes() == original);
        EXPECT_EQ(outcome.files(), r.restored ? hybrid::files_state::iso_as_it_was
                                              : hybrid::files_state::iso_not_restored);
        const auto& files = iso.shared_folder()->files;
        EXPECT_EQ(outcome.text(),
                  r.tail && !r.restored
                      ? "Failed." + hybrid::text::tail_kept_in(files.begin()->first, volume_bytes)
                      : "Failed.");
        journal_at = iso.journal.size();
      }
      // The verdict was final: the end of the transaction adds no attempt.
      EXPECT_EQ(iso.journal.size(), journal_at);
      // Whatever else failed, the head went back.
      if (r.head_writes != always && !r.truncate_lies) {
        EXPECT_EQ(slice(iso.bytes(), 0, 32768), slice(original, 0, 32768));
      }
      // The bytes after the volume stay beside the image until they are back.
      EXPECT_EQ(iso.shared_folder()->files.size(), r.tail && !r.restored ? 1u : 0u);
    }
  }
}

// On the disk: the bytes after the volume go into a new file beside the
// image, which never takes the name of a file that is there; they come back
// from it, and it goes once they are back.
TEST(IsoTransaction, TheBytesAfterTheVolumeWaitInANamedFileOnTheDisk) {
  namespace fs = std::filesystem;
  const fs::path dir = test::unique_temp_path("zelvorant-tail");
  fs::create_directory(dir);
  const std::string path = (dir / "cd.iso").string();
  const auto original = test::with_bytes_after_volume(test::iso_image(volume_bytes), tail_bytes);
  const auto write_file = [](const std::string& name, const std::vector<std::uint8_t>& bytes) {
    std::ofstream(name, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
  };
  const auto read_file = [](const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
  };
  write_file(path, original);
  fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write);
  std::string kept;
  {
    hybrid::file_stream iso(path, "r+b");
    ASSERT_TRUE(iso.is_open());
    std::uint32_t fingerprint = 0;
    ASSERT_TRUE(hybrid::volume_fingerprint(iso, fingerprint));
    kept = hybrid::kept_tail_names_for(path, volume_bytes, fingerprint).complete;

    // A file already under the name: it is neither replaced nor used.
    write_file(kept, {1, 2, 3});
    hybrid::removed_tail refused(iso);
    EXPECT_FALSE(refused.remove(volume_bytes, hybrid::tail_keeping::beside_image));
    EXPECT_EQ(refused.failed_step(), hybrid::removed_tail::step::keep_file);
    EXPECT_EQ(read_file(kept), (std::vector<std::uint8_t>{1, 2, 3}));
    EXPECT_FALSE(fs::exists(kept + ".incomplete"));
    fs::remove(kept);

    hybrid::removed_tail tail(iso);
    ASSERT_TRUE(tail.remove(volume_bytes, hybrid::tail_keeping::beside_image));
    EXPECT_EQ(fs::file_size(path), volume_bytes);
    EXPECT_EQ(read_file(kept), slice(original, volume_bytes, tail_bytes));
#ifndef _WIN32
    // No more readable than the image they came from.
    EXPECT_EQ(fs::status(kept).permissions() & (fs::perms::group_all | fs::perms::others_all),
              fs::perms::none);
#endif
    ASSERT_TRUE(iso.seek_to_end() && iso.write(test::pattern(700, 5).data(), 700));
    EXPECT_TRUE(tail.put_back());
    EXPECT_TRUE(tail.reads_back());
    EXPECT_TRUE(tail.drop());
  }
  EXPECT_EQ(read_file(path), original);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
  fs::remove_all(dir);
}

}  // namespace
