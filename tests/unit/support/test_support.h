// Streams and answers for tests: a scripted user, streams that fail on
// purpose, and builders of small HFS and ISO images.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "hybrid/apm/partition_map.h"
#include "hybrid/hybrid_layout.h"
#include "hybrid/io/memory_stream.h"
#include "hybrid/job_dispatch.h"
#include "hybrid/job_outcome.h"
#include "hybrid/questions.h"
#include "platform/process.h"

namespace test {

// Answers as the script says and remembers what it was asked.
class scripted_questions : public hybrid::questions {
 public:
  std::vector<std::string> notices;
  std::vector<std::string> warnings;
  std::deque<bool> warning_answers;  // empty: Cancel
  int partition_answer = hybrid::choice_cancelled;
  int partition_questions = 0;
  hybrid::partition_list last_list{};
  std::function<void()> on_partition_question;  // runs while the question is open
  bool stop = false;                            // an interrupt raised before the job started
  bool rehearse = false;                        // a dry run: plans are kept, nothing written
  std::vector<hybrid::hybrid_layout> plans;
  std::vector<hybrid::extract_plan> extract_plans;

  bool stop_requested() override { return stop; }

  void notice(const std::string& text) override { notices.push_back(text); }
  bool warning(const std::string& text) override {
    warnings.push_back(text);
    if (warning_answers.empty()) return false;
    const bool answer = warning_answers.front();
    warning_answers.pop_front();
    return answer;
  }
  bool dry_run() const override { return rehearse; }
  void show_plan(const hybrid::hybrid_layout& layout, std::uint64_t) override {
    plans.push_back(layout);
  }
  void show_plan(const hybrid::extract_plan& plan) override { extract_plans.push_back(plan); }
  int choose_partition(const hybrid::partition_list& list) override {
    ++partition_questions;
    last_list = list;
    if (on_partition_question) on_partition_question();
    return partition_answer;
  }
};

// A job's outcome told as the dispatch tells it on the job's own channel:
// its notice, if any, joins ask.notices. The job's 1 or 0.
inline int told(const hybrid::job_outcome& outcome, hybrid::questions& ask) {
  if (const auto notice = hybrid::outcome_notice(outcome)) ask.notice(*notice);
  return outcome.code();
}

// A memory stream that fails on purpose: either the Nth operation of any kind
// (once), or, like a full disk, every write that would grow it past a
// limit; or every operation after the Nth, as if the process had been killed there (what was done
// stays done). Its scratch streams, its folder and the files in its folder count their operations
// in its count, so the Nth operation may be one of theirs. It keeps a journal of what changed it or
// made it durable, in order: "write@OFFSET+COUNT", "share@OFFSET+COUNT", "flush", "sync",
// "truncate@LENGTH", and "share refused" where it refused to share blocks; a file of
// its folder journals there too, after its name and ": "; and the folder's own changes that worked:
// "make NAME", "rename FROM > TO", "remove NAME", "sync folder".
class failing_stream : public hybrid::memory_stream {
 public:
  using memory_stream::memory_stream;
  failing_stream(const failing_stream&) = delete;
  failing_stream& operator=(const failing_stream&) = delete;

  long fail_at = 0;     // 1-based operation number; 0 never
  long dead_after = 0;  // every operation after this one fails; 0 never
  std::uint64_t size_limit = UINT64_MAX;
  long operations = 0;
  std::vector<std::string> journal;
  // Shares blocks with any source, in blocks of this size, as a file system
  // with shared extents would (the bytes land as if copied); 0 shares none.
  // A share is one operation; a failed one, or one when `refuse_sharing`,
  // is refused.
  std::uint64_t share_block_bytes = 0;
  bool refuse_sharing = false;

  std::size_t read(void* buffer, std::size_t count) override;
  bool write(const void* buffer, std::size_t count) override;
  bool seek(std::uint64_t offset) override;
  bool seek_to_end() override;
  bool tell(std::uint64_t& offset) override;
  bool flush() override;
  bool sync_to_disk() override;
  bool length(std::uint64_t& bytes) override;
  bool truncate(std::uint64_t bytes) override;
  bool status(platform::file_status& status) override;
  std::unique_ptr<hybrid::byte_stream> open_scratch(std::string& why_not) override;
  hybrid::file_folder* folder() override { return &folder_; }
  std::string error_text() const override;
  std::uint64_t sharing_block_bytes(const hybrid::byte_stream&) override {
    return share_block_bytes;
  }
  bool share_blocks(hybrid::byte_stream& source, std::uint64_t source_offset, std::uint64_t offset,
                    std::uint64_t length) override;

 private:
  // The memory folder, with each operation counted by the stream.
  class counted_folder final : public hybrid::file_folder {
   public:
    explicit counted_folder(failing_stream& owner) : owner_(owner) {}
    std::unique_ptr<hybrid::byte_stream> make_file(const std::string& name,
                                                   const hybrid::byte_stream& like) override;
    std::unique_ptr<hybrid::byte_stream> open_file(const std::string& name, bool& missing) override;
    bool rename(const std::string& from, const std::string& to) override;
    bool remove(const std::string& name) override;
    bool sync() override;
    std::string error_text() const override { return failed_ ? "Injected failure" : ""; }

   private:
    bool fails_now();
    std::unique_ptr<hybrid::byte_stream> file(const std::string& name);
    failing_stream& owner_;
    bool failed_ = false;
  };

  bool next_fails();
  bool fails_now();
  void note(const std::string& entry);
  bool failed_ = false;
  failing_stream* counted_by_ = nullptr;  // a scratch stream's or a folder file's parent
  std::string journal_as_;                // a folder file's name: it journals in its parent's
  counted_folder folder_{*this};
};

// Bytes with a pattern that differs from block to block, so a misplaced block
// shows.
std::vector<std::uint8_t> pattern(std::size_t bytes, std::uint8_t seed);

struct map_entry {
  std::string type;
  std::string name;
  std::uint32_t first_block;
  std::uint32_t block_count;
};

// An HFS image: Driver Descriptor, then the entries with `map_blocks` as
// their map block count, then data up to `total_blocks` in a pattern.
std::vector<std::uint8_t> hfs_image(const std::vector<map_entry>& entries,
                                    std::uint32_t total_blocks);
// An ISO image stand-in of `bytes`: a system area of zeros, then (when there
// is room) a primary volume descriptor whose volume takes in the whole file
// and the set's terminator, and a pattern for the rest.
std::vector<std::uint8_t> iso_image(std::size_t bytes);
// `iso` with `bytes` of a pattern appended after its volume, as a run that
// was killed while it appended leaves it.
std::vector<std::uint8_t> with_bytes_after_volume(std::vector<std::uint8_t> iso, std::size_t bytes);
// Writes an ISO 9660 both-endian 32-bit number (little-endian, then big).
void put_iso_both_endian32(std::uint8_t* at, std::uint32_t value);

// A bare HFS ("BD") or HFS+ ("H+", "HX") volume of `bytes` in a pattern,
// whose header at byte 1024 says it spans `declared` bytes (0: the whole
// blocks of the file).
std::vector<std::uint8_t> bare_volume(const char* signature, std::size_t bytes,
                                      std::uint64_t declared = 0);

// Where a test's tool is looked for: only in the folders given.
inline platform::tool_places tool_places_in(std::string program_folder,
                                            std::string search_path = "") {
  platform::tool_places places;
  places.program_folder = std::move(program_folder);
  places.search_path = std::move(search_path);
  return places;
}

std::vector<std::uint8_t> slice(const std::vector<std::uint8_t>& bytes, std::size_t offset,
                                std::size_t count);

// A path in the system's folder for temporary files that no other test
// process uses (tests run in parallel processes); nothing is created there.
std::string unique_temp_path(const std::string& stem);

// While it lives, an HFS image target's new file is made the named way
// (NAME.XXXXXXXXN.part) where Linux would make it unnamed: both are tested.
struct named_new_files {
  explicit named_new_files(bool named) { set(named); }
  ~named_new_files() { set(false); }
  static void set(bool named) {
#ifndef _WIN32
    named ? setenv("ZELVORANT_TEST_NO_TMPFILE", "1", 1) : unsetenv("ZELVORANT_TEST_NO_TMPFILE");
#else
    (void)named;
#endif
  }
};

}  // namespace test
