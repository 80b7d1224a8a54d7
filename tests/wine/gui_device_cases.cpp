// Floppy drives, the device picker and jobs on devices. The devices are those
// of the test WNASPI32.DLL, as run_gui_tests.sh attaches them:
//
//   host 0: disks at targets 3 (one.hfs) and 4 (two.hfs)
//   host 1: a CD-ROM at target 2 (one.hfs), which the disk picker leaves out
//   host 2: a disk at target 6 (one.hfs)
//
// each host adapter naming itself "TEST ASPI HOST n". The floppy cases rely
// on the drive letters the script gives the Wine prefix.
#include <array>
#include <cstdio>
#include <string>

#include "tests/wine/gui_cases.h"

namespace gui {
namespace {

constexpr const char* vendor = "ZELVRANT";
// INQUIRY pads its texts with blanks, and the rows show them as they come.
constexpr const char* disk_product = "SIM DISK        ";
constexpr const char* revision = "0.9 ";

void choose(HWND main, int kind, const std::string& expected) {
  click(main, kind);
  wait_until([&] { return is_checked(main, kind); }, message_timeout_ms);
  check(is_checked(main, kind), expected + ": the device kind is not checked");
}

// ---- floppy -------------------------------------------------------------------

HWND open_floppy_dialog(program& app, const std::string& what) {
  click(app.main, id_browse_floppy);
  HWND dialog = wait_titled(app.pid(), floppy_caption, message_timeout_ms);
  check(dialog != nullptr, what + ": the drive dialog did not appear; box 602 holds \"" +
                               item_text(app.main, id_edit_floppy) + "\"; drives " +
                               std::to_string(GetLogicalDrives()));
  return dialog;
}

// Both drives: the dialog asks, and only a drive button writes the box.
void floppy_choice(const context&, program& app) {
  choose(app.main, id_floppy, "floppy");
  HWND dialog = open_floppy_dialog(app, "two drives");
  if (dialog == nullptr) return;
  check(GetWindow(dialog, GW_OWNER) == app.main,
        "the drive dialog is not owned by the main window");
  RECT main_rect{};
  GetWindowRect(app.main, &main_rect);
  centred_on(dialog, main_rect, "the drive dialog is not centred over the main window");
  check_text(item_text(dialog, id_drive_a), "Drive A", "button 101");
  check_text(item_text(dialog, id_drive_b), "Drive B", "button 102");
  check_text(item_text(dialog, id_floppy_cancel), "Cancel", "button 107");
  DWORD_PTR default_id = 0;
  SendMessageTimeoutA(dialog, DM_GETDEFID, 0, 0, SMTO_NORMAL, message_timeout_ms, &default_id);
  check(HIWORD(default_id) == DC_HASDEFID && LOWORD(default_id) == id_floppy_cancel,
        "Cancel is not the default button");
  click(dialog, id_drive_a);
  check(wait_gone(dialog, message_timeout_ms), "Drive A does not close the dialog");
  wait_until([&] { return item_text(app.main, id_edit_floppy) == "A:"; }, message_timeout_ms);
  check_text(item_text(app.main, id_edit_floppy), "A:", "box 602 after Drive A");

  dialog = open_floppy_dialog(app, "Drive B");
  if (dialog == nullptr) return;
  click(dialog, id_drive_b);
  check(wait_gone(dialog, message_timeout_ms), "Drive B does not close the dialog");
  wait_until([&] { return item_text(app.main, id_edit_floppy) == "B:"; }, message_timeout_ms);
  check_text(item_text(app.main, id_edit_floppy), "B:", "box 602 after Drive B");

  struct way {
    void (*act)(HWND);
    const char* what;
  };
  static constexpr way cancels[] = {
      {[](HWND d) { click(d, id_floppy_cancel); }, "Cancel"},
      {[](HWND d) { command(d, IDCANCEL); }, "Escape"},
      {[](HWND d) { close_box(d); }, "the close box"},
  };
  for (const way& w : cancels) {
    dialog = open_floppy_dialog(app, w.what);
    if (dialog == nullptr) return;
    w.act(dialog);
    check(wait_gone(dialog, message_timeout_ms),
          std::string(w.what) + " does not close the dialog");
    settle(app.main);
    check_text(item_text(app.main, id_edit_floppy), "B:", std::string("box 602 after ") + w.what);
  }
  no_box(app.pid(), app.main, "floppy dialog");
}

// One drive letter or none: "A:" without a question.
void floppy_no_choice(const context&, program& app) {
  choose(app.main, id_floppy, "floppy");
  set_item_text(app.main, id_edit_floppy, "typed");
  click(app.main, id_browse_floppy);
  wait_until([&] { return item_text(app.main, id_edit_floppy) == "A:"; }, message_timeout_ms);
  settle(app.main);
  check_text(item_text(app.main, id_edit_floppy), "A:", "box 602");
  check(find_titled(app.pid(), floppy_caption) == nullptr, "the drive dialog was shown");
}

// No CD-ROM drive letter: the CD-ROM's Browse empties its box.
void cdrom_browse_none(const context&, program& app) {
  choose(app.main, id_cdrom, "CD-ROM");
  set_item_text(app.main, id_edit_cdrom, "C120");
  click(app.main, id_browse_cdrom);
  wait_until([&] { return item_text(app.main, id_edit_cdrom).empty(); }, message_timeout_ms);
  settle(app.main);
  check_text(item_text(app.main, id_edit_cdrom), "", "box 604");
  check(find_titled(app.pid(), device_caption) == nullptr, "the device dialog was shown");
  no_box(app.pid(), app.main, "CD-ROM Browse");
}

// One CD-ROM drive letter: the first CD-ROM that ASPI reports, without a
// dialog.
void cdrom_browse_one(const context&, program& app) {
  choose(app.main, id_cdrom, "CD-ROM");
  set_item_text(app.main, id_edit_cdrom, "");
  click(app.main, id_browse_cdrom);
  wait_until([&] { return item_text(app.main, id_edit_cdrom) == "C120"; }, job_timeout_ms);
  settle(app.main);
  check_text(item_text(app.main, id_edit_cdrom), "C120", "box 604");
  check(find_titled(app.pid(), device_caption) == nullptr, "the device dialog was shown");
  no_box(app.pid(), app.main, "CD-ROM Browse");
}

// Two CD-ROM drive letters: the device dialog for CD-ROMs. Host adapter 0
// has none and is passed over; host 1 has one, which comes up chosen.
void cdrom_browse_dialog(const context&, program& app) {
  choose(app.main, id_cdrom, "CD-ROM");
  click(app.main, id_browse_cdrom);
  HWND dialog = wait_titled(app.pid(), device_caption, job_timeout_ms);
  if (!check(dialog != nullptr, "two CD-ROM drives: the device dialog did not appear")) return;
  const std::string driver = "TEST ASPI HOST 1";
  wait_until([&] { return item_text(dialog, id_dev_driver) == driver; }, message_timeout_ms);
  settle(dialog);
  check_text(item_text(dialog, id_dev_driver), driver, "driver text");
  for (int k = 0; k < 8; ++k) {
    check(is_enabled(dialog, 300 + k) == (k == 2), "row " + std::to_string(k) + " enabled state");
  }
  check_text(item_text(dialog, 402), vendor, "row 2 vendor");
  check_text(item_text(dialog, 502), "SIM CD-ROM      ", "row 2 product");
  check(is_checked(dialog, 302), "the only CD-ROM is not chosen");
  click(dialog, id_dev_ok);
  check(wait_gone(dialog, job_timeout_ms), "OK does not close the dialog");
  wait_until([&] { return item_text(app.main, id_edit_cdrom) == "C120"; }, message_timeout_ms);
  check_text(item_text(app.main, id_edit_cdrom), "C120", "box 604");
}

// ---- the device dialog ------------------------------------------------------

HWND open_device_dialog(program& app, const std::string& what) {
  click(app.main, id_browse_scsi);
  HWND dialog = wait_titled(app.pid(), device_caption, job_timeout_ms);
  check(dialog != nullptr, what + ": the device dialog did not appear");
  return dialog;
}

// The rows show exactly the disks at `targets` of host adapter `host`.
void expect_rows(HWND dialog, int host, const std::vector<int>& targets, const std::string& what) {
  const std::string driver = "TEST ASPI HOST " + std::to_string(host);
  wait_until([&] { return item_text(dialog, id_dev_driver) == driver; }, message_timeout_ms);
  settle(dialog);
  check_text(item_text(dialog, id_dev_driver), driver, what + ": driver text");
  for (int k = 0; k < 8; ++k) {
    bool listed = false;
    for (int t : targets) listed = listed || t == k;
    const std::string row = what + ": row " + std::to_string(k);
    check_text(item_text(dialog, 300 + k), std::to_string(k) + " ", row + " radio text");
    check(is_enabled(dialog, 300 + k) == listed, row + (listed ? " is disabled" : " is enabled"));
    check_text(item_text(dialog, 400 + k), listed ? vendor : "", row + " vendor");
    check_text(item_text(dialog, 500 + k), listed ? disk_product : "", row + " product");
    check_text(item_text(dialog, 600 + k), listed ? revision : "", row + " revision");
  }
}

void expect_host_buttons(HWND dialog, bool next, bool preceding, const std::string& what) {
  check(is_enabled(dialog, id_dev_next) == next,
        what + (next ? ": Next Host is disabled" : ": Next Host is enabled"));
  check(is_enabled(dialog, id_dev_preceding) == preceding,
        what + (preceding ? ": Preceding Host is disabled" : ": Preceding Host is enabled"));
}

std::string checked_row(HWND dialog) {
  std::string rows;
  for (int k = 0; k < 8; ++k) {
    if (is_checked(dialog, 300 + k)) rows += std::to_string(k);
  }
  return rows;
}

void device_dialog(const context&, program& app) {
  choose(app.main, id_scsi, "SCSI");
  HWND dialog = open_device_dialog(app, "first");
  if (dialog == nullptr) return;
  check(GetWindow(dialog, GW_OWNER) == app.main,
        "the device dialog is not owned by the main window");
  centred_on(dialog, screen_rect(), "the device dialog is not centred on the screen");
  check_text(item_text(dialog, id_dev_next), "Next Host", "button 309");
  check_text(item_text(dialog, id_dev_preceding), "Preceding Host", "button 310");
  check_text(item_text(dialog, id_dev_ok), "OK", "button 204");
  check_text(item_text(dialog, id_dev_cancel), "Cancel", "button 205");
  expect_rows(dialog, 0, {3, 4}, "host 0");
  check_text(checked_row(dialog), "", "host 0 with two disks: checked rows");
  expect_host_buttons(dialog, true, false, "host 0");

  // OK with no target chosen only beeps.
  click(dialog, id_dev_ok);
  settle(dialog);
  Sleep(200);
  check(IsWindow(dialog) != 0 && IsWindowVisible(dialog) != 0,
        "OK without a target closed the dialog");
  no_box(app.pid(), app.main, "OK without a target");

  click(dialog, 304);
  wait_until([&] { return is_checked(dialog, 304); }, message_timeout_ms);
  check_text(checked_row(dialog), "4", "after clicking row 4");
  click(dialog, id_dev_ok);
  check(wait_gone(dialog, job_timeout_ms), "OK with row 4 does not close the dialog");
  wait_until([&] { return item_text(app.main, id_edit_scsi) == "A040"; }, message_timeout_ms);
  check_text(item_text(app.main, id_edit_scsi), "A040", "box 603 after host 0 target 4");

  // Next Host passes over host 1, whose only device is a CD-ROM; host 2 has
  // one disk, which comes up chosen.
  dialog = open_device_dialog(app, "second");
  if (dialog == nullptr) return;
  click(dialog, id_dev_next);
  expect_rows(dialog, 2, {6}, "Next Host");
  check_text(checked_row(dialog), "6", "host 2 with one disk: checked rows");
  expect_host_buttons(dialog, false, true, "host 2");

  click(dialog, id_dev_preceding);
  expect_rows(dialog, 0, {3, 4}, "Preceding Host");
  expect_host_buttons(dialog, true, false, "back on host 0");

  click(dialog, id_dev_next);
  expect_rows(dialog, 2, {6}, "Next Host again");
  check_text(checked_row(dialog), "6", "host 2 again: checked rows");
  click(dialog, id_dev_ok);
  check(wait_gone(dialog, job_timeout_ms), "OK on host 2 does not close the dialog");
  wait_until([&] { return item_text(app.main, id_edit_scsi) == "A260"; }, message_timeout_ms);
  check_text(item_text(app.main, id_edit_scsi), "A260", "box 603 after host 2 target 6");

  // Cancel, Escape and the close box leave the box as it was.
  struct way {
    void (*act)(HWND);
    const char* what;
  };
  static constexpr way cancels[] = {
      {[](HWND d) {
         click(d, 303);
         click(d, id_dev_cancel);
       },
       "Cancel"},
      {[](HWND d) {
         click(d, 303);
         command(d, IDCANCEL);
       },
       "Escape"},
      {[](HWND d) {
         click(d, 303);
         close_box(d);
       },
       "the close box"},
  };
  for (const way& w : cancels) {
    dialog = open_device_dialog(app, w.what);
    if (dialog == nullptr) return;
    w.act(dialog);
    check(wait_gone(dialog, message_timeout_ms),
          std::string(w.what) + " does not close the dialog");
    settle(app.main);
    check_text(item_text(app.main, id_edit_scsi), "A260", std::string("box 603 after ") + w.what);
  }
  no_box(app.pid(), app.main, "device dialog");
}

// ---- jobs on devices ---------------------------------------------------------

void run_to_completion(program& app, const std::string& what) {
  click(app.main, id_start);
  HWND box = wait_box(app.pid(), job_timeout_ms);
  if (!check(box != nullptr, what + ": no message after Start")) return;
  check_text(item_text(app.main, id_status), hybrid::text::working,
             what + ": status line during the job");
  expect_box(app.pid(), hybrid::text::completed, app.main, what);
  wait_until([&] { return item_text(app.main, id_status) == hybrid::text::idle; },
             message_timeout_ms);
  check_text(item_text(app.main, id_status), hybrid::text::idle, what + ": status line afterwards");
}

void device_jobs(const context& data, program& app) {
  // A hybrid from the disk at host 0, target 3.
  choose(app.main, id_scsi, "SCSI");
  set_item_text(app.main, id_edit_scsi, "A030");
  copy_file(data.path("plain.iso"), data.path("device.iso"));
  set_item_text(app.main, id_edit_iso, data.path("device.iso"));
  run_to_completion(app, "hybrid from a SCSI disk");

  // Its volume copied into an HFS image file.
  click(app.main, id_hfs);
  set_item_text(app.main, id_edit_hfs, data.path("extract.hfs"));
  run_to_completion(app, "HFS image from a SCSI disk");

  // A hybrid from the CD-ROM at host 1, target 2.
  choose(app.main, id_cdrom, "CD-ROM");
  click(app.main, id_iso);
  set_item_text(app.main, id_edit_cdrom, "C120");
  copy_file(data.path("plain.iso"), data.path("cdrom.iso"));
  set_item_text(app.main, id_edit_iso, data.path("cdrom.iso"));
  run_to_completion(app, "hybrid from a CD-ROM");

  // Two partitions on the disk at host 0, target 4: the dialog asks.
  choose(app.main, id_scsi, "SCSI");
  set_item_text(app.main, id_edit_scsi, "A040");
  copy_file(data.path("plain.iso"), data.path("devall.iso"));
  set_item_text(app.main, id_edit_iso, data.path("devall.iso"));
  click(app.main, id_start);
  HWND dialog = wait_titled(app.pid(), partition_caption, job_timeout_ms);
  if (!check(dialog != nullptr, "two partitions on a disk: no partition dialog")) return;
  check_text(item_text(dialog, 400), "Alpha", "row 0 of the disk");
  check_text(item_text(dialog, 401), "Beta", "row 1 of the disk");
  click(dialog, id_part_all);
  wait_until([&] { return is_checked(dialog, id_part_all); }, message_timeout_ms);
  click(dialog, id_part_ok);
  wait_gone(dialog, message_timeout_ms);
  expect_box(app.pid(), hybrid::text::completed, app.main, "all partitions of a disk");
}

// ---- a slow drive: the window during a job -----------------------------------
//
// These cases run with every request of the bus taking 400 ms, so a job on
// the disk at host 0, target 3 (13 transfers) lasts some seconds.
constexpr unsigned slow_request_ms = 400;

// Starts the job on the slow disk and waits until the copy shows its share.
bool start_slow_job(program& app, const std::string& what) {
  choose(app.main, id_scsi, "SCSI");
  set_item_text(app.main, id_edit_scsi, "A030");
  click(app.main, id_start);
  return check(wait_until([&] { return status_percent(app.main) >= 0; }, job_timeout_ms),
               what + ": the status line shows no share; it reads \"" +
                   item_text(app.main, id_status) + "\"");
}

// How long the main window takes to answer a sent message, in ms; `limit`
// when it did not answer within that.
DWORD answer_time(HWND main, DWORD limit) {
  std::array<char, 256> text{};
  DWORD_PTR copied = 0;
  const DWORD sent = GetTickCount();
  const bool answered =
      SendMessageTimeoutA(main, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()),
                          SMTO_NORMAL, limit, &copied) != 0;
  return answered ? GetTickCount() - sent : limit;
}

// The window reads its messages while the job copies: it answers within a
// second, as Windows requires before it calls a window "Not Responding".
void answers_within_a_second(HWND main, const std::string& what) {
  const DWORD took = answer_time(main, 1000);
  check(took < 1000, what + ": the main window did not answer within a second");
}

LRESULT sent_answer(HWND window, UINT message, WPARAM wparam, DWORD limit_ms) {
  DWORD_PTR result = 0xBAD;
  if (SendMessageTimeoutA(window, message, wparam, 0, SMTO_NORMAL, limit_ms, &result) == 0) {
    return 0xBAD;
  }
  return static_cast<LRESULT>(result);
}

// During the job: progress that grows, a refused Start, radio buttons and
// Help that do nothing; Exit/Cancel answered Cancel lets the job complete.
void slow_device_job(const context& data, program& app) {
  copy_file(data.path("plain.iso"), data.path("slow.iso"));
  set_item_text(app.main, id_edit_iso, data.path("slow.iso"));
  if (!start_slow_job(app, "slow job")) return;
  answers_within_a_second(app.main, "slow job");
  const int first = status_percent(app.main);
  check(wait_until([&] { return status_percent(app.main) > first; }, job_timeout_ms),
        "slow job: the share stayed at " + std::to_string(first) + "%");
  answers_within_a_second(app.main, "slow job, later");

  click(app.main, id_start);
  expect_box(app.pid(), hybrid::text::job_under_way, app.main, "Start during the slow job");
  click(app.main, id_hfs);
  click(app.main, id_floppy);
  click(app.main, id_help);
  click(app.main, id_browse_iso);
  no_box(app.pid(), app.main, "radio buttons, Help and Browse during the slow job");
  check(is_checked(app.main, id_iso) && !is_checked(app.main, id_hfs) &&
            is_checked(app.main, id_scsi) && !is_checked(app.main, id_floppy),
        "a radio button changed during the slow job");
  check(find_dialog(app.pid(), [&](HWND w) { return w != app.main; }) == nullptr,
        "a dialog opened during the slow job: " + windows_of(app.pid()));

  command(app.main, id_exit);
  expect_box(app.pid(), hybrid::text::stop_question_iso, app.main,
             "Exit/Cancel during the slow job", IDCANCEL);
  expect_box(app.pid(), hybrid::text::completed, app.main, "slow job after Cancel");
  wait_until([&] { return item_text(app.main, id_status) == hybrid::text::idle; },
             message_timeout_ms);
  check_text(item_text(app.main, id_status), hybrid::text::idle,
             "slow job: status line afterwards");
  check(app.running(), "the program ended after the slow job");
}

// The close box during the job, answered OK: the copy stops, the ISO image
// is put back byte for byte, and the program runs on until Exit.
void slow_device_stop(const context& data, program& app) {
  copy_file(data.path("plain.iso"), data.path("stopped.iso"));
  set_item_text(app.main, id_edit_iso, data.path("stopped.iso"));
  if (!start_slow_job(app, "stopped job")) return;
  wait_until([&] { return status_percent(app.main) > 0; }, job_timeout_ms);
  close_box(app.main);
  expect_box(app.pid(), hybrid::text::stop_question_iso, app.main, "close box during the slow job",
             IDOK);
  expect_box(app.pid(), stopped_iso(), nullptr, "slow job stopped");
  wait_until([&] { return item_text(app.main, id_status) == hybrid::text::idle; },
             message_timeout_ms);
  check_text(item_text(app.main, id_status), hybrid::text::idle,
             "stopped job: status line afterwards");
  check(read_file(data.path("stopped.iso")) == read_file(data.path("plain.iso")),
        "the stopped job changed the ISO image");
  check(app.running() && settle(app.main), "the program does not run on after the stop");
  command(app.main, id_exit);
  DWORD code = 1;
  check(app.wait_exit(message_timeout_ms, code) && code == 0,
        "Exit after the stopped job did not end the program");
}

// The same two answers for an HFS image target: Cancel lets the image be
// written, OK (here Escape) writes no file at all.
void slow_extract(const context& data, program& app) {
  click(app.main, id_hfs);
  set_item_text(app.main, id_edit_hfs, data.path("slow.hfs"));
  if (!start_slow_job(app, "slow extraction")) return;
  command(app.main, IDCANCEL);
  expect_box(app.pid(), hybrid::text::stop_question_hfs, app.main,
             "Escape during the slow extraction", IDCANCEL);
  expect_box(app.pid(), hybrid::text::completed, app.main, "slow extraction after Cancel");
  check(exists(data.path("slow.hfs")), "the completed extraction wrote no slow.hfs");

  set_item_text(app.main, id_edit_hfs, data.path("stopped.hfs"));
  wait_until([&] { return item_text(app.main, id_status) == hybrid::text::idle; },
             message_timeout_ms);
  if (!start_slow_job(app, "stopped extraction")) return;
  command(app.main, id_exit);
  expect_box(app.pid(), hybrid::text::stop_question_hfs, app.main,
             "Exit/Cancel during the slow extraction", IDOK);
  expect_box(app.pid(), stopped_hfs(), nullptr, "slow extraction stopped");
  wait_until([&] { return item_text(app.main, id_status) == hybrid::text::idle; },
             message_timeout_ms);
  check(!exists(data.path("stopped.hfs")), "the stopped extraction wrote stopped.hfs");
  check(app.running(), "the program ended after the stopped extraction");
}

// ---- a drive that hangs inside a synchronous ASPI library ---------------------
//
// The test WNASPI32.DLL carries every request out inside SendASPI32Command
// and holds the job's first copy transfer there for 70 s.
constexpr unsigned hung_request_ms = 70000;

// The window answers while the library holds the transfer, and the stop
// reaches the job at once: the held request is given up, the ISO image put
// back.
void hung_device_stop(const context& data, program& app) {
  copy_file(data.path("plain.iso"), data.path("hung.iso"));
  set_item_text(app.main, id_edit_iso, data.path("hung.iso"));
  if (!start_slow_job(app, "hung drive")) return;
  Sleep(300);
  const DWORD took = answer_time(app.main, 1000);
  std::printf("hung drive: the main window answered in %lu ms\n", took);
  check(took < 1000, "hung drive: the main window did not answer within a second");
  const DWORD asked = GetTickCount();
  close_box(app.main);
  expect_box(app.pid(), hybrid::text::stop_question_iso, app.main,
             "close box during the hung request", IDOK);
  expect_box(app.pid(), stopped_iso(), nullptr, "hung drive stopped");
  check(GetTickCount() - asked < 10000, "hung drive: the stop took more than 10 s");
  check(read_file(data.path("hung.iso")) == read_file(data.path("plain.iso")),
        "the stopped job on the hung drive changed the ISO image");
}

// Not a test: the main window's answer time while the library holds the
// transfer, five times a second apart (waiting up to 80 s for each).
void bench_hung_device(const context& data, program& app) {
  copy_file(data.path("plain.iso"), data.path("bench-hung.iso"));
  set_item_text(app.main, id_edit_iso, data.path("bench-hung.iso"));
  if (!start_slow_job(app, "bench hung drive")) return;
  Sleep(1000);
  for (int probe = 1; probe <= 5; ++probe) {
    std::printf("answer_ms %d %lu\n", probe, answer_time(app.main, 80000));
    std::fflush(stdout);
    Sleep(1000);
  }
}

// ---- the end of the session --------------------------------------------------

// Windows asks before it ends the session: yes outside a job, no during
// one. If it ends the session anyway, the job has rolled back by the time
// the handler returns.
void end_session(const context& data, program& app) {
  check(sent_answer(app.main, WM_QUERYENDSESSION, 0, message_timeout_ms) == TRUE,
        "WM_QUERYENDSESSION outside a job was not answered TRUE");
  const std::string plain = read_file(data.path("plain.iso"));
  copy_file(data.path("plain.iso"), data.path("ending.iso"));
  set_item_text(app.main, id_edit_iso, data.path("ending.iso"));
  if (!start_slow_job(app, "session end")) return;
  wait_until([&] { return status_percent(app.main) > 0; }, job_timeout_ms);
  check(sent_answer(app.main, WM_QUERYENDSESSION, 0, message_timeout_ms) == FALSE,
        "WM_QUERYENDSESSION during a job was not answered FALSE");
  check(read_file(data.path("ending.iso")) != plain, "nothing was appended before the end");
  check(sent_answer(app.main, WM_ENDSESSION, TRUE, job_timeout_ms) != 0xBAD,
        "WM_ENDSESSION during a job was not answered");
  check(read_file(data.path("ending.iso")) == plain,
        "the ISO image was not put back when WM_ENDSESSION returned");
  no_box(app.pid(), app.main, "after the end of the session");
  check(sent_answer(app.main, WM_QUERYENDSESSION, 0, message_timeout_ms) == TRUE,
        "WM_QUERYENDSESSION after the job was not answered TRUE");
}

// The floppy in drive A (a 1.44 MB HFS volume behind the prefix's raw drive
// link), imaged by dskgrab.exe and copied into an HFS image file.
void floppy_job(const context& data, program& app) {
  choose(app.main, id_floppy, "floppy");
  HWND dialog = open_floppy_dialog(app, "floppy job");
  if (dialog == nullptr) return;
  click(dialog, id_drive_a);
  wait_gone(dialog, message_timeout_ms);
  wait_until([&] { return item_text(app.main, id_edit_floppy) == "A:"; }, message_timeout_ms);
  click(app.main, id_hfs);
  set_item_text(app.main, id_edit_hfs, data.path("floppy.hfs"));
  run_to_completion(app, "HFS image from the floppy");
  // A floppy is no source for a hybrid: the job says so itself.
  click(app.main, id_iso);
  copy_file(data.path("plain.iso"), data.path("floppy.iso"));
  set_item_text(app.main, id_edit_iso, data.path("floppy.iso"));
  click(app.main, id_start);
  HWND box = wait_box(app.pid(), job_timeout_ms);
  if (check(box != nullptr, "hybrid from a floppy: no message")) {
    check(GetWindow(box, GW_OWNER) == nullptr, "hybrid from a floppy: the job's box has an owner");
    check(item_text(box, message_text_id) != hybrid::text::completed,
          "hybrid from a floppy completed");
    dismiss(box, IDOK);
  }
  wait_until([&] { return item_text(app.main, id_status) == hybrid::text::idle; }, job_timeout_ms);
  no_box(app.pid(), app.main, "hybrid from a floppy");
  check(read_file(data.path("floppy.iso")) == read_file(data.path("plain.iso")),
        "the refused floppy hybrid changed the ISO image");
}

// With no ASPI layer at all the program starts, runs file jobs and survives
// the device picker.
void no_aspi(const context& data, program& app) {
  check(is_checked(app.main, id_file) && is_checked(app.main, id_iso), "start-up choices");
  copy_file(data.path("plain.iso"), data.path("noaspi.iso"));
  set_item_text(app.main, id_edit_file, data.path("one.hfs"));
  set_item_text(app.main, id_edit_iso, data.path("noaspi.iso"));
  run_to_completion(app, "file job without ASPI");

  // No host adapter at all: a box says so, and the box 603 is left alone.
  choose(app.main, id_scsi, "SCSI");
  set_item_text(app.main, id_edit_scsi, "A030");
  click(app.main, id_browse_scsi);
  expect_box(app.pid(), hybrid::text::no_host_adapter, app.main, "SCSI Browse without ASPI");
  check(find_dialog(app.pid(), [&](HWND w) { return w != app.main; }) == nullptr,
        "a dialog is left after the SCSI Browse without ASPI: " + windows_of(app.pid()));
  check_text(item_text(app.main, id_edit_scsi), "A030", "box 603 after Browse without ASPI");
  check(settle(app.main), "the main window does not answer after the device picker");
  check(app.running(), "the program ended after the device picker");
}

}  // namespace

void add_device_cases(std::vector<test_case>& cases) {
  cases.push_back({"floppy_choice", floppy_choice});
  cases.push_back({"floppy_no_choice", floppy_no_choice});
  cases.push_back({"cdrom_browse_none", cdrom_browse_none});
  cases.push_back({"cdrom_browse_one", cdrom_browse_one});
  cases.push_back({"cdrom_browse_dialog", cdrom_browse_dialog});
  cases.push_back({"floppy_job", floppy_job});
  cases.push_back({"device_dialog", device_dialog});
  cases.push_back({"device_jobs", device_jobs});
  cases.push_back({"no_aspi", no_aspi});
  cases.push_back({"slow_device_job", slow_device_job, slow_request_ms});
  cases.push_back({"slow_device_stop", slow_device_stop, slow_request_ms});
  cases.push_back({"slow_extract", slow_extract, slow_request_ms});
  cases.push_back({"hung_device_stop", hung_device_stop, 0, hung_request_ms});
  cases.push_back({"bench_hung_device", bench_hung_device, 0, hung_request_ms});
  cases.push_back({"end_session", end_session, slow_request_ms});
}

}  // namespace gui
