#include "app/main_window_win32.h"

#include <commdlg.h>

#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "app/device_dialog_win32.h"
#include "app/dialog_helpers_win32.h"
#include "app/floppy_dialog_win32.h"
#include "app/job_progress.h"
#include "app/job_pump_win32.h"
#include "app/main_window_ids.h"
#include "app/main_window_rules.h"
#include "app/message_box_questions_win32.h"
#include "app/shell_win32.h"
#include "hybrid/job_dispatch.h"
#include "hybrid/messages.h"

namespace app {

HWND main_window = nullptr;

namespace {

// The chooser's request in the layout every Windows version accepts: the
// fields up to lpTemplateName, 76 bytes.
constexpr DWORD chooser_request_bytes = offsetof(OPENFILENAMEA, lpTemplateName) + sizeof(LPCSTR);
static_assert(chooser_request_bytes == 76);

// Room for the longest path the system takes (32,767 characters), in UTF-8,
// the program's code page: a chooser answer longer than the buffer is lost.
constexpr DWORD chooser_buffer = 3 * 32768;
constexpr int device_buffer = 32;
constexpr int type_cdrom = 5;

message_box_questions job_questions;

bool checked(HWND window, int button) { return IsDlgButtonChecked(window, button) == BST_CHECKED; }

// The marks are kept by the buttons themselves, so the window is the state.
window_choices read_choices(HWND window) {
  window_choices choices;
  if (checked(window, IDC_SOURCE_DRIVE)) choices.source = hybrid::source_kind::drive;
  if (checked(window, IDC_KIND_FLOPPY)) choices.device = hybrid::device_kind::floppy;
  if (checked(window, IDC_KIND_SCSI)) choices.device = hybrid::device_kind::scsi;
  if (checked(window, IDC_KIND_CDROM)) choices.device = hybrid::device_kind::cdrom;
  if (checked(window, IDC_TARGET_HFS)) choices.target = hybrid::target_kind::hfs_image;
  return choices;
}

void show_choices(HWND window, const window_choices& choices) {
  CheckRadioButton(window, IDC_SOURCE_FILE, IDC_SOURCE_DRIVE, source_button(choices));
  if (const int kind = device_button(choices); kind != 0) {
    CheckRadioButton(window, IDC_KIND_FLOPPY, IDC_KIND_CDROM, kind);
  }
  CheckRadioButton(window, IDC_TARGET_ISO, IDC_TARGET_HFS, target_button(choices));
  for (int browse = IDC_BROWSE_SOURCE_FILE; browse <= IDC_BROWSE_HFS; ++browse) {
    EnableWindow(GetDlgItem(window, browse), browse_enabled(choices, browse) ? TRUE : FALSE);
  }
}

// As long as the box holds: a path past 260 characters is an ordinary one
// when the system allows long paths. The length the box reports is only a
// first guess (Wine counts characters, not UTF-8 bytes), so a text that
// fills the buffer is read again into a larger one.
std::string edit_text(HWND window, int edit_box) {
  HWND box = GetDlgItem(window, edit_box);
  std::vector<char> text(static_cast<std::size_t>(GetWindowTextLengthA(box)) + 2);
  for (;;) {
    const int copied = GetWindowTextA(box, text.data(), static_cast<int>(text.size()));
    if (copied < 0 || static_cast<std::size_t>(copied) + 1 < text.size()) break;
    text.assign(text.size() * 2 + 256, '\0');
  }
  return text.data();
}

void open_window(HWND window) {
  main_window = window;
  center_window(window, nullptr);
  show_choices(window, window_choices{});
  set_status(hybrid::text::idle);
}

void dispatch(HWND window, const window_choices& choices) {
  const hybrid::job_request request =
      make_job_request(choices, [window](int edit_box) { return edit_text(window, edit_box); });
  // A file that cannot be opened is shown with the window's own text alone
  // (no show_open_failure).
  hybrid::dispatch_job(request, {show_message, set_status, &job_questions, {}, {}, {}, {}});
}

// The edit boxes take no typing while a job runs; their texts were read.
void lock_edit_boxes(HWND window, bool locked) {
  for (int box = IDC_EDIT_SOURCE_FILE; box <= IDC_EDIT_HFS; ++box) {
    SendDlgItemMessageA(window, box, EM_SETREADONLY, locked ? TRUE : FALSE, 0);
  }
}

// The reason Windows shows when the session is to end during a job (Vista
// and later; the program also runs where these calls do not exist).
using block_reason_create_entry = BOOL(WINAPI*)(HWND, LPCWSTR);
using block_reason_destroy_entry = BOOL(WINAPI*)(HWND);

template <typename Entry>
Entry user32_entry(const char* name) {
  const HMODULE user32 = GetModuleHandleA("user32.dll");
  const FARPROC found = user32 != nullptr ? GetProcAddress(user32, name) : nullptr;
  return reinterpret_cast<Entry>(reinterpret_cast<void (*)()>(found));
}

void block_shutdown(HWND window, hybrid::target_kind target) {
  static const auto create = user32_entry<block_reason_create_entry>("ShutdownBlockReasonCreate");
  if (create == nullptr) return;
  // The texts are ASCII: each character is its own UTF-16 unit.
  const std::string reason = shutdown_block_reason(target);
  const std::wstring wide(reason.begin(), reason.end());
  create(window, wide.c_str());
}

void unblock_shutdown(HWND window) {
  static const auto destroy =
      user32_entry<block_reason_destroy_entry>("ShutdownBlockReasonDestroy");
  if (destroy != nullptr) destroy(window);
}

void start_job(HWND window) {
  const window_choices choices = read_choices(window);
  job_questions.job_began(choices.target);
  block_shutdown(window, choices.target);
  lock_edit_boxes(window, true);
  run_pumped_job([&] { dispatch(window, choices); });
  lock_edit_boxes(window, false);
  unblock_shutdown(window);
  job_questions.job_ended();
}

// The session ends although the job asked Windows to wait: Windows ends the
// program once this handler returns, so the job stops and rolls back first.
void end_session_during_job() {
  job_questions.end_session();
  run_job_to_its_end();
}

// A dialog procedure answers through DWLP_MSGRESULT.
INT_PTR answer(HWND window, LONG_PTR result) {
  SetWindowLongPtrA(window, DWLP_MSGRESULT, result);
  return TRUE;
}

// A command that reaches the window while a job reads and writes (between
// its chunks, or while one of its own boxes, which have no owner, is open).
void on_command_during_job(HWND window, int control) {
  switch (command_during_job(control)) {
    case during_job::dispatch:
      // The dispatch refuses a second job.
      dispatch(window, read_choices(window));
      break;
    case during_job::ask_stop:
      if (message_box(window, stop_question(job_questions.target()), MB_OKCANCEL) == IDOK) {
        job_questions.request_stop();
      }
      break;
    case during_job::ignore:
      break;
  }
}

void pick_scsi_device(HWND window) {
  char specifier[device_buffer] = {};
  if (choose_device(scsi::filter_disks, specifier, window) >= 0) {
    SetDlgItemTextA(window, IDC_EDIT_SCSI, specifier);
  }
}

void pick_cdrom_device(HWND window) {
  std::string specifier;
  const bool write = browse_cdrom(
      specifier, [](std::string& out) { return scsi::find_cdrom(out); },
      [window](std::string& out) {
        char buffer[device_buffer] = {};
        const int result = choose_device(type_cdrom, buffer, window);
        out = buffer;
        return result;
      });
  if (write) SetDlgItemTextA(window, IDC_EDIT_CDROM, specifier.c_str());
}

bool on_command(HWND window, int control) {
  if (job_questions.job_running()) {
    on_command_during_job(window, control);
    return true;
  }
  if (window_choices choices = read_choices(window); apply_choice(choices, control)) {
    show_choices(window, choices);
    return true;
  }
  switch (control) {
    case IDC_BROWSE_SOURCE_FILE:
      browse_file(window, IDC_EDIT_SOURCE_FILE, "hfs", hybrid::text::open_file_title,
                  hybrid::text::hfs_filter);
      return true;
    case IDC_BROWSE_FLOPPY:
      choose_floppy(window, IDC_EDIT_FLOPPY);
      return true;
    case IDC_BROWSE_SCSI:
      pick_scsi_device(window);
      return true;
    case IDC_BROWSE_CDROM:
      pick_cdrom_device(window);
      return true;
    case IDC_BROWSE_ISO:
      browse_file(window, IDC_EDIT_ISO, "iso", hybrid::text::open_file_title,
                  hybrid::text::iso_filter);
      return true;
    case IDC_BROWSE_HFS:
      // The open dialog under another title: it asks nothing about
      // overwriting and takes a name that does not exist yet.
      browse_file(window, IDC_EDIT_HFS, "hfs", hybrid::text::save_file_title,
                  hybrid::text::hfs_filter);
      return true;
    case IDC_MAIN_START:
      start_job(window);
      return true;
    case IDC_MAIN_HELP:
      show_message(hybrid::text::help_text);
      return true;
    case IDC_MAIN_EXIT:
    case IDCANCEL:
      EndDialog(window, 0);
      return true;
    default:
      return false;
  }
}

}  // namespace

// Once the session ends, nobody is there to read a box.
void show_message(const std::string& text) {
  if (!job_questions.session_ending()) message_box(main_window, text, MB_OK);
}

void set_status(const std::string& text) {
  SetDlgItemTextA(main_window, IDC_MAIN_STATUS, text.c_str());
  UpdateWindow(GetDlgItem(main_window, IDC_MAIN_STATUS));
}

int browse_file(HWND owner, int edit_box, const char* default_extension, const char* title,
                const char* filter) {
  // The chooser opens with the filter's pattern as the file name.
  std::vector<char> file(chooser_buffer, '\0');
  std::memcpy(file.data(), filter + std::strlen(filter) + 1, 5);

  OPENFILENAMEA request{};
  request.lStructSize = chooser_request_bytes;
  request.hwndOwner = owner;
  request.hInstance = app_instance;
  request.lpstrFilter = filter;
  request.nFilterIndex = 0;
  request.lpstrFile = file.data();
  request.nMaxFile = chooser_buffer;
  request.lpstrTitle = title;
  // No OFN_NOCHANGEDIR: the chosen folder becomes the current one, against
  // which paths typed later are taken.
  request.Flags = OFN_EXPLORER | OFN_SHOWHELP;
  request.lpstrDefExt = default_extension;
  if (!GetOpenFileNameA(&request)) return 0;
  SendDlgItemMessageA(owner, edit_box, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(file.data()));
  return 1;
}

INT_PTR CALLBACK main_dialog_proc(HWND window, UINT message, WPARAM wparam, LPARAM /*lparam*/) {
  switch (message) {
    case WM_INITDIALOG:
      open_window(window);
      return TRUE;
    case WM_COMMAND:
      return on_command(window, command_control(wparam));
    case WM_QUERYENDSESSION:
      // During a job: not now (the reason was given when it began).
      return answer(window, job_questions.job_running() ? FALSE : TRUE);
    case WM_ENDSESSION:
      if (wparam != FALSE && job_questions.job_running()) end_session_during_job();
      return answer(window, 0);
    case WM_DESTROY:
      EndDialog(window, 0);
      PostQuitMessage(0);
      return FALSE;
    default:
      return FALSE;
  }
}

}  // namespace app
