// Jobs from HFS image files started from the main window: a whole hybrid,
// the partition dialog in all its answers, and a second Start while a job
// waits for the user.
//
// two.hfs holds two Apple_HFS partitions, "Alpha" (1600 blocks) and "Beta"
// (2048 blocks); run_gui_tests.sh makes it and reads the results back.
#include <algorithm>
#include <cstdio>
#include <string>

#include "tests/wine/gui_cases.h"

namespace gui {
namespace {

struct row {
  const char* name;
  const char* blocks;
};
constexpr row two_partitions[] = {{"Alpha", "1600"}, {"Beta", "2048"}};

// Fills the boxes for a job from SOURCE into a fresh copy of plain.iso named
// TARGET and presses Start.
void start_file_job(const context& data, program& app, const std::string& source,
                    const std::string& target) {
  copy_file(data.path("plain.iso"), data.path(target));
  set_item_text(app.main, id_edit_file, data.path(source));
  set_item_text(app.main, id_edit_iso, data.path(target));
  click(app.main, id_start);
}

// The completion box, read while the status line still says the job runs.
bool expect_completion(program& app, const std::string& what) {
  HWND box = wait_box(app.pid(), job_timeout_ms);
  if (!check(box != nullptr, what + ": no completion message")) return false;
  check_text(item_text(app.main, id_status), hybrid::text::working,
             what + ": status line while the completion message is shown");
  const bool good = expect_box(app.pid(), hybrid::text::completed, app.main, what);
  wait_until([&] { return item_text(app.main, id_status) == hybrid::text::idle; },
             message_timeout_ms);
  check_text(item_text(app.main, id_status), hybrid::text::idle, what + ": status line afterwards");
  return good;
}

// After a job that ended without completing: no box, the idle status.
void expect_no_completion(program& app, const std::string& what) {
  wait_until([&] { return item_text(app.main, id_status) == hybrid::text::idle; }, job_timeout_ms);
  no_box(app.pid(), app.main, what);
  check_text(item_text(app.main, id_status), hybrid::text::idle, what + ": status line");
}

HWND wait_partition_dialog(program& app, const std::string& what) {
  HWND dialog = wait_titled(app.pid(), partition_caption, job_timeout_ms);
  check(dialog != nullptr, what + ": the partition dialog did not appear");
  return dialog;
}

void file_hybrid(const context& data, program& app) {
  start_file_job(data, app, "one.hfs", "file.iso");
  if (!expect_completion(app, "one partition")) return;
  check(find_titled(app.pid(), partition_caption) == nullptr,
        "a partition dialog was shown for one partition");
  check_text(item_text(app.main, id_edit_file), data.path("one.hfs"), "box 601 after the job");
  check_text(item_text(app.main, id_edit_iso), data.path("file.iso"), "box 605 after the job");
  const std::string hybrid = read_file(data.path("file.iso"));
  check(hybrid.size() == read_file(data.path("plain.iso")).size() + 1600 * 512,
        "the hybrid image is " + std::to_string(hybrid.size()) + " bytes");
  check(hybrid.compare(0, 2, "ER") == 0,
        "the hybrid image does not begin with a Driver Descriptor");

  // Start again on the same files: the job refuses in a box of its own.
  click(app.main, id_start);
  expect_box(app.pid(), hybrid::text::already_hybrid, nullptr, "second run on the hybrid");
  expect_no_completion(app, "second run on the hybrid");
  check(read_file(data.path("file.iso")) == hybrid, "the refused second run changed the image");
}

// big.hfs holds a partition of 128 MB: the status line shows the share
// copied before the completion box, and run_gui_tests.sh reads big.iso back.
void big_file_job(const context& data, program& app) {
  start_file_job(data, app, "big.hfs", "big.iso");
  int shown = -1;
  wait_until(
      [&] {
        shown = std::max(shown, status_percent(app.main));
        return shown >= 0 || find_box(app.pid()) != nullptr;
      },
      job_timeout_ms);
  check(shown >= 0, "large file job: the status line showed no share");
  expect_completion(app, "large file job");
}

// Not a test: bench/gui_pump.sh times the file job from bench.hfs into a
// fresh copy of bench-plain.iso, from Start to the completion box.
void bench_file_job(const context& data, program& app) {
  copy_file(data.path("bench-plain.iso"), data.path("bench.iso"));
  set_item_text(app.main, id_edit_file, data.path("bench.hfs"));
  set_item_text(app.main, id_edit_iso, data.path("bench.iso"));
  const DWORD started = GetTickCount();
  click(app.main, id_start);
  HWND box = wait_box(app.pid(), 600000);
  const DWORD took = GetTickCount() - started;
  if (check(box != nullptr, "bench: no completion box") &&
      check_text(item_text(box, message_text_id), hybrid::text::completed,
                 "bench: the job's message")) {
    std::printf("bench_seconds %.3f\n", took / 1000.0);
  }
  if (box != nullptr) dismiss(box, IDOK);
}

void partition_rows(HWND dialog) {
  check(GetWindow(dialog, GW_OWNER) == nullptr, "the partition dialog has an owner");
  centred_on(dialog, screen_rect(), "the partition dialog is not centred on the screen");
  for (int i = 0; i < 8; ++i) {
    const std::string row = "row " + std::to_string(i);
    const bool listed = i < 2;
    check_text(item_text(dialog, 300 + i), std::to_string(i) + " ", row + " radio text");
    check(is_enabled(dialog, 300 + i) == listed,
          row + (listed ? " is disabled" : " is enabled without a partition"));
    check(!is_checked(dialog, 300 + i), row + " is marked at the start");
    check_text(item_text(dialog, 400 + i), listed ? two_partitions[i].name : "", row + " name");
    check_text(item_text(dialog, 600 + i), listed ? two_partitions[i].blocks : "", row + " blocks");
  }
  check_text(item_text(dialog, id_part_all), "All partitions", "check box 999");
  check(!is_checked(dialog, id_part_all), "\"All partitions\" is ticked at the start");
  check_text(item_text(dialog, id_part_ok), "OK", "button 111");
  check_text(item_text(dialog, id_part_cancel), "Cancel", "button 107");
}

void partition_dialog(const context& data, program& app) {
  const std::string plain = read_file(data.path("plain.iso"));
  start_file_job(data, app, "two.hfs", "cancel.iso");
  HWND dialog = wait_partition_dialog(app, "two partitions");
  if (dialog == nullptr) return;
  check_text(item_text(app.main, id_status), hybrid::text::working, "status line under the dialog");
  partition_rows(dialog);

  // OK with nothing chosen: a message owned by the dialog, which stays.
  click(dialog, id_part_ok);
  expect_box(app.pid(), hybrid::text::no_partition_chosen, dialog, "OK without a choice");
  settle(dialog);
  check(IsWindow(dialog) != 0 && IsWindowVisible(dialog) != 0,
        "the dialog closed after OK without a choice");

  click(dialog, id_part_cancel);
  check(wait_gone(dialog, message_timeout_ms), "Cancel does not close the dialog");
  expect_no_completion(app, "Cancel");

  // Escape and the close box cancel as well.
  click(app.main, id_start);
  dialog = wait_partition_dialog(app, "Escape");
  if (dialog == nullptr) return;
  command(dialog, IDCANCEL);
  check(wait_gone(dialog, message_timeout_ms), "Escape does not close the dialog");
  expect_no_completion(app, "Escape");

  click(app.main, id_start);
  dialog = wait_partition_dialog(app, "close box");
  if (dialog == nullptr) return;
  close_box(dialog);
  check(wait_gone(dialog, message_timeout_ms), "the close box does not close the dialog");
  expect_no_completion(app, "close box");

  check(read_file(data.path("cancel.iso")) == plain, "a cancelled job changed the ISO image");
}

// Rows 0 then 1, "All partitions" ticked and unticked: row 1 is taken.
void partition_row(const context& data, program& app) {
  start_file_job(data, app, "two.hfs", "chosen.iso");
  HWND dialog = wait_partition_dialog(app, "row 1");
  if (dialog == nullptr) return;
  click(dialog, 300);
  wait_until([&] { return is_checked(dialog, 300); }, message_timeout_ms);
  click(dialog, 301);
  wait_until([&] { return is_checked(dialog, 301); }, message_timeout_ms);
  settle(dialog);
  check(is_checked(dialog, 301) && !is_checked(dialog, 300), "row 1 alone is not marked");
  click(dialog, id_part_all);
  check(wait_until([&] { return is_checked(dialog, id_part_all); }, message_timeout_ms),
        "\"All partitions\" does not tick itself");
  click(dialog, id_part_all);
  check(wait_until([&] { return !is_checked(dialog, id_part_all); }, message_timeout_ms),
        "\"All partitions\" does not untick itself");
  click(dialog, id_part_ok);
  check(wait_gone(dialog, message_timeout_ms), "OK with row 1 does not close the dialog");
  expect_completion(app, "row 1");
}

// A row marked, then "All partitions": every partition is taken.
void partition_all(const context& data, program& app) {
  start_file_job(data, app, "two.hfs", "all.iso");
  HWND dialog = wait_partition_dialog(app, "all partitions");
  if (dialog == nullptr) return;
  click(dialog, 301);
  wait_until([&] { return is_checked(dialog, 301); }, message_timeout_ms);
  click(dialog, id_part_all);
  check(wait_until([&] { return is_checked(dialog, id_part_all); }, message_timeout_ms),
        "\"All partitions\" does not tick itself");
  click(dialog, id_part_ok);
  check(wait_gone(dialog, message_timeout_ms),
        "OK with \"All partitions\" does not close the dialog");
  expect_completion(app, "all partitions");
}

// While the partition dialog waits, the main window still takes Start; it
// must not start a second job.
void second_start(const context& data, program& app) {
  const std::string plain = read_file(data.path("plain.iso"));
  start_file_job(data, app, "two.hfs", "second.iso");
  HWND dialog = wait_partition_dialog(app, "first job");
  if (dialog == nullptr) return;
  click(app.main, id_start);
  expect_box(app.pid(), hybrid::text::job_under_way, app.main, "second Start");
  settle(dialog);
  check(IsWindow(dialog) != 0 && IsWindowVisible(dialog) != 0,
        "the first job's dialog closed after the second Start");
  check(find_dialog(app.pid(),
                    [&](HWND w) { return w != dialog && caption_of(w) == partition_caption; }) ==
            nullptr,
        "a second partition dialog appeared");
  check_text(item_text(app.main, id_status), hybrid::text::working,
             "status line while the first job waits");
  click(dialog, id_part_cancel);
  check(wait_gone(dialog, message_timeout_ms), "Cancel does not close the dialog");
  expect_no_completion(app, "first job cancelled");
  check(read_file(data.path("second.iso")) == plain, "the ISO image changed");

  // Once the first job has ended, Start works again.
  click(app.main, id_start);
  dialog = wait_partition_dialog(app, "Start after the first job");
  if (dialog != nullptr) {
    click(dialog, id_part_cancel);
    wait_gone(dialog, message_timeout_ms);
    expect_no_completion(app, "the next job cancelled");
  }
}

// A folder named in letters outside any one ANSI code page, with a path past
// 260 characters: the program takes both (its code page is UTF-8, its
// manifest allows long paths), and the edit boxes hand them over whole.
// run_gui_tests.sh puts one.hfs and plain.iso there (Wine's CreateDirectoryA
// stops short of such paths) and reads the result back.
void file_names(const context& data, program& app) {
  std::string folder = data.path("Ünïcødé 日本");
  for (const char letter : {'d', 'e', 'f'}) folder += "\\" + std::string(90, letter);
  const std::string target = folder + "\\Ziel 日本.iso";
  check(target.size() > 300, "the test path is short");
  const std::string source = folder + "\\Quelle 日本.hfs";
  set_item_text(app.main, id_edit_file, source);
  set_item_text(app.main, id_edit_iso, target);
  check_text(item_text(app.main, id_edit_file), source, "box 601 before Start");
  check_text(item_text(app.main, id_edit_iso), target, "box 605 before Start");
  click(app.main, id_start);
  if (!expect_completion(app, "long path in any script")) return;
  check_text(item_text(app.main, id_edit_iso), target, "box 605 after the job");
  check(read_file(target).size() == read_file(data.path("plain.iso")).size() + 1600 * 512,
        "the hybrid at the long path has the wrong size");
}

}  // namespace

void add_job_cases(std::vector<test_case>& cases) {
  cases.push_back({"file_hybrid", file_hybrid});
  cases.push_back({"partition_dialog", partition_dialog});
  cases.push_back({"partition_row", partition_row});
  cases.push_back({"partition_all", partition_all});
  cases.push_back({"second_start", second_start});
  cases.push_back({"file_names", file_names});
  cases.push_back({"big_file_job", big_file_job});
  cases.push_back({"bench_file_job", bench_file_job});
}

}  // namespace gui
