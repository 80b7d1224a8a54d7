// The bytes after the ISO 9660 volume that the user agreed to remove: the
// job is killed after each of its operations in turn, and the bytes must be
// somewhere at every point (in the image, in the file beside it, or gone
// with a finished hybrid); the next run, the job or --undo, must then end
// where an uninterrupted run ends, with nothing left beside the image.
#include "hybrid/tail_recovery.h"

#include <gtest/gtest.h>

#include <iomanip>
#include <iostream>
#include <map>

#include "file_job_runs.h"
#include "hybrid/io/removed_tail.h"
#include "hybrid/messages.h"
#include "test_support.h"

namespace {

using hybrid::memory_folder;
using test::iso_bytes;
using test::slice;
namespace text = hybrid::text;

constexpr std::size_t kept_tail_bytes = 5000;

// The image and the files beside it, as a run left them.
struct files {
  std::vector<std::uint8_t> iso;
  std::map<std::string, std::vector<std::uint8_t>> beside;
};

files files_of(hybrid::memory_stream& iso) {
  files state{iso.bytes(), {}};
  for (const auto& [name, bytes] : iso.shared_folder()->files) state.beside[name] = *bytes;
  return state;
}

std::shared_ptr<memory_folder> folder_of(const files& state) {
  auto folder = std::make_shared<memory_folder>();
  for (const auto& [name, bytes] : state.beside) {
    folder->files[name] = std::make_shared<std::vector<std::uint8_t>>(bytes);
  }
  return folder;
}

std::string kept_name(const std::vector<std::uint8_t>& iso) {
  hybrid::memory_stream stream("cd.iso", iso);
  std::uint32_t fingerprint = 0;
  EXPECT_TRUE(hybrid::volume_fingerprint(stream, fingerprint));
  return hybrid::kept_tail_names_for("cd.iso", iso_bytes, fingerprint).complete;
}

struct job_result {
  int result = -1;
  files after;
  std::vector<std::string> notices;
};

// Runs the file job (every question answered OK) or --undo on `state`;
// `dead_after` kills it after that operation.
job_result run_on(const files& state, bool undo, long dead_after = 0, bool rehearse = false) {
  test::failing_stream iso("cd.iso", state.iso);
  iso.share_folder(folder_of(state));
  iso.dead_after = dead_after;
  hybrid::memory_stream hfs("hfs.img", test::hfs_image(test::one_partition, 164));
  test::scripted_questions ask;
  ask.warning_answers = {true, true};
  ask.rehearse = rehearse;
  job_result run;
  run.result = test::told(
      undo ? hybrid::undo_hybrid(iso, ask) : hybrid::hybridize_from_file(hfs, iso, ask), ask);
  run.after = files_of(iso);
  run.notices = ask.notices;
  return run;
}

const char* state_name(int state) {
  static const char* const names[] = {
      "nothing written yet",  "incomplete copy, image whole", "complete copy, image whole",
      "copy kept, image cut", "hybrid finished, copy left",   "hybrid finished, copy gone",
  };
  return names[state];
}

TEST(TailRecovery, AKillAtAnyPointLosesNothingAndTheNextRunFinishes) {
  const auto original = test::with_bytes_after_volume(test::iso_image(iso_bytes), kept_tail_bytes);
  const auto tail = slice(original, iso_bytes, kept_tail_bytes);
  const auto plain = slice(original, 0, iso_bytes);
  const std::string kept = kept_name(original);
  const std::string incomplete = kept + ".incomplete";

  test::failing_stream counting("cd.iso", original);
  {
    hybrid::memory_stream hfs("hfs.img", test::hfs_image(test::one_partition, 164));
    test::scripted_questions ask;
    ask.warning_answers = {true};
    ASSERT_EQ(test::told(hybrid::hybridize_from_file(hfs, counting, ask), ask), 1);
  }
  const auto hybrid_image = counting.bytes();
  EXPECT_TRUE(counting.shared_folder()->files.empty());
  // Before the cut: the copy is made under its incomplete name, synced,
  // renamed and the folder synced; it goes only after the map's sync.
  const auto& journal = counting.journal;
  const auto at = [&](const std::string& entry) {
    return std::find(journal.begin(), journal.end(), entry) - journal.begin();
  };
  EXPECT_LT(at(incomplete + ": sync"), at("rename " + incomplete + " > " + kept));
  EXPECT_LT(at("rename " + incomplete + " > " + kept), at("sync folder"));
  EXPECT_LT(at("sync folder"), at("truncate@" + std::to_string(iso_bytes)));
  EXPECT_EQ(journal[journal.size() - 2], "remove " + kept);
  EXPECT_EQ(journal.back(), "sync folder");

  std::map<int, int> seen;
  for (long point = 1; point <= counting.operations; ++point) {
    SCOPED_TRACE("killed after operation " + std::to_string(point));
    const files killed = run_on({original, {}}, false, point).after;
    const bool whole = killed.iso == original, finished = killed.iso == hybrid_image;
    const bool copy = killed.beside.count(kept) != 0,
               partial = killed.beside.count(incomplete) != 0;
    // The bytes are in the image, or every one of them in the copy, or
    // the hybrid is finished and they were the user's to lose.
    ASSERT_TRUE(whole || finished || (copy && killed.beside.at(kept) == tail));
    const int state = whole ? (copy ? 2 : partial ? 1 : 0) : finished ? (copy ? 4 : 5) : 3;
    ++seen[state];

    // The job again: the hybrid an uninterrupted run makes.
    const job_result again = run_on(killed, false);
    EXPECT_EQ(again.after.iso, hybrid_image);
    EXPECT_TRUE(again.after.beside.empty());
    EXPECT_EQ(again.result, finished ? 0 : 1);
    if (state == 3) {
      ASSERT_FALSE(again.notices.empty());
      EXPECT_EQ(again.notices[0], text::tail_put_back(kept, "cd.iso", kept_tail_bytes, iso_bytes));
    }
    // Or --undo: the plain image, with its bytes after the volume when the
    // hybrid was never finished.
    const job_result undone = run_on(killed, true);
    EXPECT_EQ(undone.after.iso, finished ? plain : original);
    EXPECT_TRUE(undone.after.beside.empty());
    EXPECT_EQ(undone.result, finished ? 1 : 0);
  }
  std::cout << "\nKilled while removing " << kept_tail_bytes << " bytes after the volume\n";
  for (const auto& [state, count] : seen) {
    std::cout << std::left << std::setw(32) << state_name(state) << std::right << std::setw(4)
              << count << " kill points\n";
  }
  EXPECT_EQ(seen.size(), 6u);  // every state was met
}

// What the next run finds beside the image, and what it does about it; the
// job is the file job, with every question answered OK.
TEST(TailRecovery, TheNextRunJudgesTheImageBeforeItWritesAByte) {
  const auto original = test::with_bytes_after_volume(test::iso_image(iso_bytes), kept_tail_bytes);
  const auto tail = slice(original, iso_bytes, kept_tail_bytes);
  const auto plain = slice(original, 0, iso_bytes);
  const std::string kept = kept_name(original);
  auto other_map = plain;  // another tool's hybrid: a map whose data are not ours
  other_map[0] = 'E';
  other_map[1] = 'R';
  auto renamed = plain;  // another image made under the same name
  renamed[32768 + 40] = 'X';
  const auto shorter = slice(plain, 0, iso_bytes - 2048);
  const std::string changed =
      text::tail_left_beside(kept, "cd.iso", iso_bytes, text::tail_image_changed);

  struct row {
    const char* what;
    files before;
    bool rehearse;
    int result;
    std::vector<std::string> notices;  // the first ones
    files after;                       // the image; beside it
  };
  const std::vector<row> rows = {
      {"cut, nothing appended",
       {plain, {{kept, tail}}},
       false,
       1,
       {text::tail_put_back(kept, "cd.iso", kept_tail_bytes, iso_bytes)},
       {{}, {}}},
      {"never cut", {original, {{kept, tail}}}, false, 1, {}, {{}, {}}},
      {"an incomplete copy",
       {original, {{kept + ".incomplete", slice(tail, 0, 100)}}},
       false,
       1,
       {},
       {{}, {}}},
      {"another tool's map",
       {other_map, {{kept, tail}}},
       false,
       0,
       {changed},
       {other_map, {{kept, tail}}}},
      {"shorter than its volume",
       {shorter, {{kept, tail}}},
       false,
       0,
       {changed},
       {shorter, {{kept, tail}}}},
      {"another image of that name", {renamed, {{kept, tail}}}, false, 1, {}, {{}, {{kept, tail}}}},
      {"a dry run",
       {plain, {{kept, tail}}},
       true,
       0,
       {text::tail_put_back_first(kept, "cd.iso", kept_tail_bytes)},
       {plain, {{kept, tail}}}},
      {"a dry run, never cut", {original, {{kept, tail}}}, true, 1, {}, {original, {{kept, tail}}}},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.what);
    const job_result run = run_on(r.before, false, 0, r.rehearse);
    EXPECT_EQ(run.result, r.result);
    ASSERT_GE(run.notices.size(), r.notices.size());
    for (std::size_t n = 0; n < r.notices.size(); ++n) EXPECT_EQ(run.notices[n], r.notices[n]);
    if (!r.after.iso.empty()) {
      EXPECT_EQ(run.after.iso, r.after.iso);
    }
    EXPECT_EQ(run.after.beside, r.after.beside);
  }
}

// A put-back that fails leaves the image cut where the killed run cut it and
// the bytes where they are; the run after it puts them back.
TEST(TailRecovery, APutBackThatFailsIsTriedAgainByTheNextRun) {
  const auto original = test::with_bytes_after_volume(test::iso_image(iso_bytes), kept_tail_bytes);
  const std::string kept = kept_name(original);
  const files cut{slice(original, 0, iso_bytes),
                  {{kept, slice(original, iso_bytes, kept_tail_bytes)}}};
  test::failing_stream iso("cd.iso", cut.iso);
  iso.share_folder(folder_of(cut));
  iso.size_limit = iso_bytes + 100;  // a full disk
  test::scripted_questions ask;
  EXPECT_EQ(test::told(hybrid::undo_hybrid(iso, ask), ask), 0);
  EXPECT_EQ(ask.notices, std::vector<std::string>{text::tail_not_put_back(kept, "cd.iso", iso_bytes,
                                                                          "Injected failure")});
  const files left = files_of(iso);
  EXPECT_EQ(left.iso, cut.iso);
  EXPECT_EQ(left.beside, cut.beside);

  const job_result next = run_on(left, true);
  EXPECT_EQ(next.after.iso, original);
  EXPECT_TRUE(next.after.beside.empty());
  EXPECT_EQ(next.notices, (std::vector<std::string>{
                              text::tail_put_back(kept, "cd.iso", kept_tail_bytes, iso_bytes),
                              text::undo_not_hybrid}));
}

}  // namespace
