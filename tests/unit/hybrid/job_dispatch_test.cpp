#include "hybrid/job_dispatch.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

#include "hybrid/io/file_stream.h"
#include "hybrid/jobs.h"
#include "hybrid/messages.h"
#include "platform/file_ops.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;
namespace text = hybrid::text;
using hybrid::job_request;

// A temporary folder for the files of one test.
class temp_dir {
 public:
  temp_dir() : path_(test::unique_temp_path("zelvorant-test")) { fs::create_directory(path_); }
  ~temp_dir() { fs::remove_all(path_); }
  std::string file(const std::string& leaf) const { return (path_ / leaf).string(); }

 private:
  fs::path path_;
};

void write_file(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

std::vector<std::uint8_t> read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<std::uint8_t> read_head(const std::string& path, std::size_t bytes) {
  std::vector<std::uint8_t> head(bytes);
  std::ifstream in(path, std::ios::binary);
  in.read(reinterpret_cast<char*>(head.data()), static_cast<std::streamsize>(bytes));
  return head;
}

#ifndef _WIN32
// Another program that knows flock() alone, as the flock command does: the
// descriptor that holds the lock, or -1 when it was refused.
int flock_held(const std::string& path, platform::file_lock lock) {
  const int fd = open(path.c_str(), O_RDONLY);
  const int kind = lock == platform::file_lock::shared ? LOCK_SH : LOCK_EX;
  if (fd >= 0 && flock(fd, kind | LOCK_NB) == 0) return fd;
  if (fd >= 0) close(fd);
  return -1;
}
#endif

// What the user saw, in order: messages as "M:", status lines as "S:".
struct front_end {
  std::vector<std::string> seen;
  test::scripted_questions ask;
  hybrid::job_outlets outlets() {
    hybrid::job_outlets out;
    out.show_message = [this](const std::string& t) { seen.push_back("M:" + t); };
    out.set_status = [this](const std::string& t) { seen.push_back("S:" + t); };
    out.ask = &ask;
    return out;
  }
};

const std::vector<test::map_entry> one_partition = {{"Apple_partition_map", "Apple", 1, 63},
                                                    {"Apple_HFS", "MacOS", 64, 16}};

job_request file_to_iso(const std::string& hfs, const std::string& iso) {
  job_request request;
  request.source = hybrid::source_kind::file;
  request.source_path = hfs;
  request.target = hybrid::target_kind::iso_image;
  request.target_path = iso;
  return request;
}

TEST(DispatchJob, RefusalsSpeakBeforeAnyJob) {
  temp_dir dir;
  write_file(dir.file("hfs.img"), test::hfs_image(one_partition, 80));
  struct refusal {
    const char* what;
    job_request request;
    std::string message;
  };
  job_request incoherent;  // file source, HFS target, every box empty
  incoherent.target = hybrid::target_kind::hfs_image;
  job_request drive_without_kind;
  drive_without_kind.source = hybrid::source_kind::drive;
  drive_without_kind.device_text = "A050";  // a stale text of an unchecked kind
  drive_without_kind.target_path = dir.file("cd.iso");
  job_request cdrom_without_text = drive_without_kind;
  cdrom_without_text.device = hybrid::device_kind::cdrom;
  cdrom_without_text.device_text.clear();

  const std::vector<refusal> cases = {
      {"incoherent", incoherent, text::incoherent},
      {"no source path", file_to_iso("", dir.file("cd.iso")), text::no_file},
      {"missing source", file_to_iso(dir.file("none.img"), dir.file("cd.iso")),
       text::error_opening(dir.file("none.img"))},
      {"no target path", file_to_iso(dir.file("hfs.img"), ""), text::no_file},
      {"missing iso", file_to_iso(dir.file("hfs.img"), dir.file("missing.iso")),
       text::error_opening(dir.file("missing.iso"))},
      {"drive, no kind", drive_without_kind, text::no_drive},
      {"cd-rom, no text", cdrom_without_text, text::no_drive},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    front_end user;
    EXPECT_EQ(hybrid::dispatch_job(c.request, user.outlets()), 0);
    EXPECT_EQ(user.seen, std::vector<std::string>{"M:" + c.message});
  }
  EXPECT_FALSE(fs::exists(dir.file("missing.iso")));  // a missing ISO image is never created

  // A front end that takes the system's reason gets it beside the window's
  // very text: the source, the ISO image, --undo's image, a folder.
  fs::create_directory(dir.file("folder"));
#ifdef _WIN32
  const int folder_error = EACCES;  // Windows does not open a folder at all
#else
  const int folder_error = EISDIR;  // it opens for reading, and is refused
#endif
  const std::vector<std::pair<std::function<int(const hybrid::job_outlets&)>, std::string>>
      with_reason = {
          {[&](const hybrid::job_outlets& out) {
             return hybrid::dispatch_job(file_to_iso(dir.file("none.img"), dir.file("cd.iso")),
                                         out);
           },
           text::error_opening(dir.file("none.img")) + "|" + platform::error_text(ENOENT)},
          {[&](const hybrid::job_outlets& out) {
             return hybrid::dispatch_job(file_to_iso(dir.file("hfs.img"), dir.file("folder")), out);
           },
           text::error_opening(dir.file("folder")) + "|" + platform::error_text(folder_error)},
          {[&](const hybrid::job_outlets& out) {
             return hybrid::dispatch_undo(dir.file("missing.iso"), out);
           },
           text::error_opening(dir.file("missing.iso")) + "|" + platform::error_text(ENOENT)},
      };
  for (const auto& [run, expected] : with_reason) {
    front_end user;
    hybrid::job_outlets out = user.outlets();
    out.show_open_failure = [&user](const std::string& message, const std::string& reason) {
      user.seen.push_back(message + "|" + reason);
    };
    EXPECT_EQ(run(out), 0);
    EXPECT_EQ(user.seen, std::vector<std::string>{expected});
  }
}

TEST(DispatchJob, CompletedJobIsAnnouncedWhileStillWorking) {
  temp_dir dir;
  const auto hfs = test::hfs_image(one_partition, 80);
  write_file(dir.file("hfs.img"), hfs);
  write_file(dir.file("cd.iso"), test::iso_image(40960));
  front_end user;
  EXPECT_EQ(
      hybrid::dispatch_job(file_to_iso(dir.file("hfs.img"), dir.file("cd.iso")), user.outlets()),
      1);
  EXPECT_EQ(user.seen, (std::vector<std::string>{std::string("S:") + text::working,
                                                 std::string("M:") + text::completed,
                                                 std::string("S:") + text::idle}));
  const auto result = read_file(dir.file("cd.iso"));
  ASSERT_EQ(result.size(), 40960u + 16 * 512);
  EXPECT_EQ(test::slice(result, 40960, 16 * 512), test::slice(hfs, 64 * 512, 16 * 512));
  EXPECT_EQ(read_file(dir.file("hfs.img")), hfs);  // the source is only read
}

// A front end that names files: each error with the file it is about, and
// the completion with what was written, read back from the target.
TEST(DispatchJob, ErrorsNameTheirFileAndTheCompletionWhatWasWritten) {
  temp_dir dir;
  auto hfs = test::hfs_image(one_partition, 80);
  const char volume[] =
      "\x08"
      "Demo Mac";  // the Master Directory Block's name, at its byte 36
  std::memcpy(hfs.data() + 66 * 512 + 36, volume, sizeof volume - 1);
  write_file(dir.file("hfs.img"), hfs);
  write_file(dir.file("empty.img"), {});
  write_file(dir.file("cd.iso"), test::iso_image(40960));
  write_file(dir.file("small.iso"), test::iso_image(1000));
  const struct {
    const char* what;
    job_request request;
    std::string file;
    std::string text;  // the start of the error
  } cases[] = {
      {"missing source", file_to_iso(dir.file("none.img"), dir.file("cd.iso")),
       dir.file("none.img"), text::cannot_be_opened},
      {"source without a partition", file_to_iso(dir.file("empty.img"), dir.file("cd.iso")),
       dir.file("empty.img"), text::no_hfs_partition},
      {"target too small", file_to_iso(dir.file("hfs.img"), dir.file("small.iso")),
       dir.file("small.iso"), text::iso_too_small(1000)},
      {"no target path", file_to_iso(dir.file("hfs.img"), ""), "", text::no_file},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    front_end user;
    std::vector<std::pair<std::string, std::string>> errors;
    hybrid::job_outlets out = user.outlets();
    out.show_error = [&](const std::string& file, const std::string& t) {
      errors.emplace_back(file, t);
    };
    EXPECT_EQ(hybrid::dispatch_job(c.request, out), 0);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].first, c.file);
    EXPECT_EQ(errors[0].second.rfind(c.text, 0), 0u) << errors[0].second;
    EXPECT_TRUE(user.ask.notices.empty());
  }

  front_end user;
  std::vector<hybrid::written_target> written;
  hybrid::job_outlets out = user.outlets();
  out.show_completion = [&](const hybrid::written_target& w) { written.push_back(w); };
  ASSERT_EQ(hybrid::dispatch_job(file_to_iso(dir.file("hfs.img"), dir.file("cd.iso")), out), 1);
  ASSERT_EQ(written.size(), 1u);
  EXPECT_EQ(written[0].what, hybrid::written_target::kind::hybrid);
  EXPECT_EQ(written[0].path, dir.file("cd.iso"));
  EXPECT_EQ(written[0].bytes, 40960u + 16 * 512);
  ASSERT_EQ(written[0].volumes.size(), 1u);
  EXPECT_EQ(written[0].volumes[0].name, "Demo Mac");
  EXPECT_EQ(written[0].volumes[0].block, 40960u / 512);
  EXPECT_EQ(user.seen, (std::vector<std::string>{std::string("S:") + text::working,
                                                 std::string("S:") + text::idle}));

  written.clear();
  ASSERT_EQ(hybrid::dispatch_undo(dir.file("cd.iso"), out), 1);
  ASSERT_EQ(written.size(), 1u);
  EXPECT_EQ(written[0].what, hybrid::written_target::kind::plain_iso);
  EXPECT_EQ(written[0].bytes, 40960u);
  EXPECT_TRUE(written[0].volumes.empty());
}

TEST(DispatchJob, FailedJobStillRestoresTheStatusLine) {
  temp_dir dir;
  write_file(dir.file("hfs.img"), test::pattern(4096, 1));
  write_file(dir.file("cd.iso"), test::iso_image(40960));
  front_end user;
  EXPECT_EQ(
      hybrid::dispatch_job(file_to_iso(dir.file("hfs.img"), dir.file("cd.iso")), user.outlets()),
      0);
  EXPECT_EQ(user.seen, (std::vector<std::string>{std::string("S:") + text::working,
                                                 std::string("S:") + text::idle}));
  EXPECT_EQ(user.ask.notices, std::vector<std::string>{text::no_hfs_partition});
}

// Each way a job can end, as the user reads it: the job's own notice (N:)
// and the completion message (M:) on their two channels, both while the
// status line still says "working", and the 1 or 0 the program returns.
TEST(DispatchJob, EachOutcomeIsToldOnItsChannel) {
  using hybrid::files_state;
  using hybrid::job_outcome;
  const std::string working = std::string("S:") + text::working;
  const std::string idle = std::string("S:") + text::idle;
  const std::string completed = std::string("M:") + text::completed;
  struct told {
    const char* what;
    job_outcome outcome;
    std::vector<std::string> seen;
    int code;
  };
  const std::vector<told> cases = {
      {"completed", job_outcome::completed(), {working, completed, idle}, 1},
      {"with a report", job_outcome::completed("Cut."), {working, "N:Cut.", completed, idle}, 1},
      {"blocks shared",
       job_outcome::completed().note_shared_bytes(8192),
       {working, completed, "B:8192", idle},
       1},
      {"failed after a share",
       job_outcome::failed(text::stopped, files_state::iso_as_it_was).note_shared_bytes(8192),
       {working, "N:" + (text::stopped + text::iso_restored_suffix(true)), idle},
       0},
      {"refused",
       job_outcome::refused(text::already_hybrid),
       {working, std::string("N:") + text::already_hybrid, idle},
       0},
      {"cancelled", job_outcome::cancelled(), {working, idle}, 0},
      {"failed, put back",
       job_outcome::failed(text::stopped, files_state::iso_as_it_was),
       {working, "N:" + (text::stopped + text::iso_restored_suffix(true)), idle},
       0},
      {"failed, not put back",
       job_outcome::failed("Lost.", files_state::iso_not_restored),
       {working, "N:Lost." + text::iso_restored_suffix(false), idle},
       0},
      {"failed, no HFS image",
       job_outcome::failed("Lost.", files_state::hfs_image_not_written),
       {working, "N:Lost." + std::string(text::hfs_image_kept_suffix), idle},
       0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    struct noting : test::scripted_questions {
      std::vector<std::string> seen;
      void notice(const std::string& t) override { seen.push_back("N:" + t); }
    } ask;
    hybrid::job_outlets out;
    out.show_message = [&](const std::string& t) { ask.seen.push_back("M:" + t); };
    out.set_status = [&](const std::string& t) { ask.seen.push_back("S:" + t); };
    out.show_blocks_shared = [&](std::uint64_t b) { ask.seen.push_back("B:" + std::to_string(b)); };
    out.ask = &ask;
    EXPECT_EQ(hybrid::run_job(out, [&] { return c.outcome; }), c.code);
    EXPECT_EQ(ask.seen, c.seen);
  }
}

TEST(DispatchJob, DriveSourcesReachTheDeviceJobs) {
  temp_dir dir;
  write_file(dir.file("old.img"), test::pattern(5000, 2));
  job_request request;
  request.source = hybrid::source_kind::drive;
  request.device = hybrid::device_kind::scsi;
  request.device_text = "A050";
  request.target = hybrid::target_kind::hfs_image;
  request.target_path = dir.file("old.img");
  front_end user;
  EXPECT_EQ(hybrid::dispatch_job(request, user.outlets()), 0);
  // No ASPI layer is installed here: the disk cannot answer.
  EXPECT_EQ(user.ask.notices, std::vector<std::string>{text::device_silent(false, 0, 5)});
  // An HFS image target is replaced only by a complete image.
  EXPECT_EQ(read_file(dir.file("old.img")), test::pattern(5000, 2));

  write_file(dir.file("cd.iso"), test::iso_image(40960));
  request.target = hybrid::target_kind::iso_image;
  request.target_path = dir.file("cd.iso");
  front_end again;
  EXPECT_EQ(hybrid::dispatch_job(request, again.outlets()), 0);
  EXPECT_EQ(again.ask.notices.size(), 1u);
  EXPECT_EQ(read_file(dir.file("cd.iso")), test::iso_image(40960));
}

TEST(DispatchJob, OneJobAtATime) {
  temp_dir dir;
  const std::vector<test::map_entry> two = {{"Apple_partition_map", "Apple", 1, 63},
                                            {"Apple_HFS", "One", 64, 8},
                                            {"Apple_HFS", "Two", 72, 8}};
  write_file(dir.file("hfs.img"), test::hfs_image(two, 80));
  write_file(dir.file("cd.iso"), test::iso_image(40960));
  front_end user;
  front_end second;
  const job_request request = file_to_iso(dir.file("hfs.img"), dir.file("cd.iso"));
  // Start pressed again while the partition choice is open.
  user.ask.on_partition_question = [&] {
    EXPECT_EQ(hybrid::dispatch_job(request, second.outlets()), 0);
  };
  user.ask.partition_answer = 0;
  EXPECT_EQ(hybrid::dispatch_job(request, user.outlets()), 1);
  EXPECT_EQ(second.seen, std::vector<std::string>{std::string("M:") + text::job_under_way});
  front_end later;  // and the guard is released afterwards
  EXPECT_EQ(hybrid::dispatch_job(request, later.outlets()), 0);
  EXPECT_EQ(later.ask.notices, std::vector<std::string>{text::already_hybrid});
}

// Every file a job works on is locked until the job ends. A second job on
// one of them, in this process or another, is refused before anything is
// written, whether the first job writes the file or reads it.
TEST(DispatchJob, FilesAnotherJobHoldsAreRefused) {
  temp_dir dir;
  const auto hfs = test::hfs_image(one_partition, 80);
  const auto iso = test::iso_image(40960);
  const auto old_image = test::pattern(3000, 5);
  write_file(dir.file("hfs.img"), hfs);
  write_file(dir.file("cd.iso"), iso);
  write_file(dir.file("old.img"), old_image);
  job_request extract;
  extract.source = hybrid::source_kind::drive;
  extract.device = hybrid::device_kind::scsi;
  extract.device_text = "A050";
  extract.target = hybrid::target_kind::hfs_image;
  extract.target_path = dir.file("old.img");

  const std::string iso_in_use = std::string("M:") + text::iso_in_use;
  const std::string hfs_in_use = std::string("M:") + text::hfs_image_in_use;
  struct held_case {
    const char* what;
    std::string held;
    platform::file_lock lock;
    job_request request;
    std::string message;
  };
  const std::vector<held_case> cases = {
      {"ISO image written by another job", dir.file("cd.iso"), platform::file_lock::exclusive,
       file_to_iso(dir.file("hfs.img"), dir.file("cd.iso")), iso_in_use},
      {"ISO image read by another job", dir.file("cd.iso"), platform::file_lock::shared,
       file_to_iso(dir.file("hfs.img"), dir.file("cd.iso")), iso_in_use},
      {"HFS source written by another job", dir.file("hfs.img"), platform::file_lock::exclusive,
       file_to_iso(dir.file("hfs.img"), dir.file("cd.iso")), hfs_in_use},
      {"HFS image target written by another job", dir.file("old.img"),
       platform::file_lock::exclusive, extract, hfs_in_use},
  };
  // The same rows again with another program's flock() of the same kind.
  for (const bool by_flock : {false, true}) {
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(c.what) + (by_flock ? ", by flock()" : ""));
      std::optional<hybrid::file_stream> other;
      [[maybe_unused]] int other_program = -1;
      if (!by_flock) {
        other.emplace(c.held, "r+b", c.lock);
        ASSERT_TRUE(other->is_open());
      } else {
#ifdef _WIN32
        continue;
#else
        ASSERT_GE(other_program = flock_held(c.held, c.lock), 0);
#endif
      }
      front_end user;
      EXPECT_EQ(hybrid::dispatch_job(c.request, user.outlets()), 0);
      EXPECT_EQ(user.seen, std::vector<std::string>{c.message});
#ifndef _WIN32
      if (other_program >= 0) close(other_program);
#endif
    }
  }
  EXPECT_EQ(read_file(dir.file("cd.iso")), iso);
  EXPECT_EQ(read_file(dir.file("hfs.img")), hfs);
  EXPECT_EQ(read_file(dir.file("old.img")), old_image);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.file("")), fs::directory_iterator()), 3);

  // The locks end with the job that took them.
  front_end user;
  EXPECT_EQ(
      hybrid::dispatch_job(file_to_iso(dir.file("hfs.img"), dir.file("cd.iso")), user.outlets()),
      1);
  for (const char* name : {"cd.iso", "hfs.img"}) {
    hybrid::file_stream after(dir.file(name), "r+b", platform::file_lock::exclusive);
    EXPECT_TRUE(after.is_open()) << name;
  }
}

TEST(DispatchJob, SameFileAsSourceAndTargetIsRefused) {
  temp_dir dir;
  write_file(dir.file("cd.iso"), test::iso_image(40960));
  std::error_code linked;
  fs::create_hard_link(dir.file("cd.iso"), dir.file("linked.iso"), linked);
  ASSERT_FALSE(linked) << linked.message();
  for (const auto& other : {dir.file("cd.iso"), dir.file("linked.iso")}) {
    front_end user;
    EXPECT_EQ(hybrid::dispatch_job(file_to_iso(other, dir.file("cd.iso")), user.outlets()), 0);
    EXPECT_EQ(user.seen, std::vector<std::string>{std::string("M:") + text::same_file});
  }
  EXPECT_EQ(read_file(dir.file("cd.iso")), test::iso_image(40960));
}

// Sparse files stand in for images of CD-ROM size: the job only reads and
// writes near their ends.
TEST(DispatchJob, CapacityWarningCountsBothWholeFiles) {
  temp_dir dir;
  const auto volume = test::bare_volume("BD", 16 * 512);
  write_file(dir.file("hfs.img"), volume);
  auto iso_head = test::iso_image(40960);

  struct round {
    std::uint64_t iso_length;
    std::deque<bool> answers;
    bool warned;
    int result;
  };
  const std::uint64_t exactly = hybrid::cdrom_capacity_bytes - volume.size();
  for (const round& r :
       {round{exactly, {}, false, 1}, round{exactly + 512, {false}, true, 0},
        round{exactly + 512, {true}, true, 1}, round{std::uint64_t{5} << 30, {true}, true, 1}}) {
    SCOPED_TRACE(r.iso_length);
    // The volume takes in the whole sparse file.
    test::put_iso_both_endian32(iso_head.data() + 32768 + 80,
                                static_cast<std::uint32_t>((r.iso_length + 2047) / 2048));
    write_file(dir.file("cd.iso"), iso_head);
    fs::resize_file(dir.file("cd.iso"), r.iso_length);
    front_end user;
    user.ask.warning_answers = r.answers;
    EXPECT_EQ(
        hybrid::dispatch_job(file_to_iso(dir.file("hfs.img"), dir.file("cd.iso")), user.outlets()),
        r.result);
    if (r.warned) {
      ASSERT_EQ(user.ask.warnings.size(), 1u);
      EXPECT_EQ(user.ask.warnings[0], text::capacity_warning(8192, r.iso_length));
    } else {
      EXPECT_TRUE(user.ask.warnings.empty());
    }
    const std::uint64_t padded = (r.iso_length + 511) / 512 * 512;
    EXPECT_EQ(fs::file_size(dir.file("cd.iso")), r.result ? padded + volume.size() : r.iso_length);
    if (r.result) {
      // Past 2 GiB the map still points at the right block.
      const auto head = read_head(dir.file("cd.iso"), 2048);
      EXPECT_EQ(hybrid::get_be32(head.data() + 1024 + 8), padded / 512);
    }
  }
}

}  // namespace
