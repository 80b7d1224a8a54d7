// What the cases of the Wine GUI driver share: the program's captions and
// control ids as a user meets them, and the small helpers that find
// windows, press buttons and read what the program shows.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "hybrid/messages.h"

namespace gui {

// The dialogs' captions, from their templates. A message box's caption is
// hybrid::text::program_title, and every text the program shows comes from
// the same catalogue: the cases name it rather than copy it.
inline constexpr const char* main_caption = "Zelvorant - Utility to hybridate ISO 9660 images";
inline constexpr const char* partition_caption = "Select partition to open";
inline constexpr const char* floppy_caption = "Drive Selection";
inline constexpr const char* device_caption = "Device selection";

// What a stopped job says, by target.
inline std::string stopped_iso() {
  return hybrid::text::stopped + hybrid::text::iso_restored_suffix(true);
}
inline std::string stopped_hfs() {
  return hybrid::text::stopped + std::string(hybrid::text::hfs_image_kept_suffix);
}

// The main window's controls.
enum : int {
  id_help = 100,
  id_exit = 101,
  id_start = 102,
  id_status = 103,
  id_file = 201,
  id_drive = 202,
  id_floppy = 301,
  id_scsi = 302,
  id_cdrom = 303,
  id_iso = 401,
  id_hfs = 402,
  id_browse_file = 501,
  id_browse_floppy = 502,
  id_browse_scsi = 503,
  id_browse_cdrom = 504,
  id_browse_iso = 505,
  id_browse_hfs = 506,
  id_edit_file = 601,
  id_edit_floppy = 602,
  id_edit_scsi = 603,
  id_edit_cdrom = 604,
  id_edit_iso = 605,
  id_edit_hfs = 606,
};

// The partition dialog's controls: row i is 300 + i (radio), 400 + i (name)
// and 600 + i (block count).
enum : int { id_part_ok = 111, id_part_cancel = 107, id_part_all = 999 };
// The floppy dialog's.
enum : int { id_drive_a = 101, id_drive_b = 102, id_floppy_cancel = 107 };
// The device dialog's: row k is 300 + k (radio), 400 + k (vendor),
// 500 + k (product) and 600 + k (revision).
enum : int {
  id_dev_ok = 204,
  id_dev_cancel = 205,
  id_dev_driver = 308,
  id_dev_next = 309,
  id_dev_preceding = 310,
};
// The text of a message box.
inline constexpr int message_text_id = 0xFFFF;

inline constexpr DWORD message_timeout_ms = 5000;
inline constexpr DWORD job_timeout_ms = 20000;
inline constexpr DWORD start_timeout_ms = 30000;

// ---- reporting ----
void fail(const std::string& what);
bool check(bool condition, const std::string& what);
bool check_text(const std::string& actual, const std::string& expected, const std::string& what);
std::string escaped(const std::string& text);

// ---- waiting and reading ----
bool wait_until(const std::function<bool()>& condition, DWORD timeout_ms);
// Returns once the window's thread has taken a sent message, so that what it
// was doing before is over (unless a modal loop of its own took it).
bool settle(HWND window);
std::string text_of(HWND window);
std::string item_text(HWND dialog, int id);
bool set_item_text(HWND dialog, int id, const std::string& text);
bool is_checked(HWND dialog, int id);
bool is_enabled(HWND dialog, int id);
std::string caption_of(HWND window);

// The share done that the status line shows during a copy, or -1.
int status_percent(HWND main);

// ---- acting ----
void click(HWND dialog, int id);    // BM_CLICK posted to the control
void command(HWND dialog, int id);  // WM_COMMAND posted to the dialog
void close_box(HWND dialog);        // the close box: SC_CLOSE

// ---- windows of the program ----
HWND find_dialog(DWORD pid, const std::function<bool(HWND)>& wanted);
HWND find_box(DWORD pid);
// "class \"caption\", ..." of the visible top-level windows, for reports.
std::string windows_of(DWORD pid);
HWND find_titled(DWORD pid, const std::string& caption);
HWND wait_box(DWORD pid, DWORD timeout_ms);
HWND wait_titled(DWORD pid, const std::string& caption, DWORD timeout_ms);
bool wait_gone(HWND window, DWORD timeout_ms);
// Waits for a message box of the program, checks its text, caption and
// owner, and dismisses it with `button`.
bool expect_box(DWORD pid, const std::string& text, HWND owner, const std::string& what,
                int button = IDOK);
void dismiss(HWND box, int button);
// No message box is open once the main window has taken its messages.
bool no_box(DWORD pid, HWND main, const std::string& what);
bool centred_on(HWND window, const RECT& reference, const std::string& what);
RECT screen_rect();

// ---- files ----
std::string read_file(const std::string& path);
bool exists(const std::string& path);
bool copy_file(const std::string& from, const std::string& to);

struct program {
  PROCESS_INFORMATION process{};
  HWND main = nullptr;

  bool start(const std::string& exe, const std::string& folder);
  DWORD pid() const { return process.dwProcessId; }
  bool running() const;
  bool wait_exit(DWORD timeout_ms, DWORD& code);
  // Closes what is left open and ends the program, by force if need be.
  void stop();
};

struct context {
  std::string program;  // zelvorant.exe
  std::string data;     // the folder of images, without a trailing backslash
  std::string path(const std::string& name) const { return data + "\\" + name; }
};

struct test_case {
  const char* name;
  void (*run)(const context&, program&);
  // Every request of the test WNASPI32.DLL takes this long: a slow drive.
  unsigned device_delay_ms = 0;
  // The test WNASPI32.DLL is synchronous and holds a job's first copy
  // transfer this long inside SendASPI32Command: a drive that hangs.
  unsigned device_hold_ms = 0;
};

const std::vector<test_case>& all_cases();

// The cases, by group.
void add_main_window_cases(std::vector<test_case>& cases);
void add_job_cases(std::vector<test_case>& cases);
void add_device_cases(std::vector<test_case>& cases);
void add_poses(std::vector<test_case>& cases);

}  // namespace gui
