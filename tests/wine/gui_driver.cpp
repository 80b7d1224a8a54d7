// Drives zelvorant.exe as a user would, from a second process: it finds the
// windows by their captions, presses buttons by posting BM_CLICK or
// WM_COMMAND (never a blocking send that could wait on a modal box), reads
// check marks, enabled states and texts, and reads and dismisses the message
// boxes. Each case starts the program afresh and prints one PASS or FAIL
// line; the exit status is non-zero when any case failed.
//
//   gui_driver.exe PROGRAM DATA_DIR CASE...
//
// DATA_DIR holds the images that run_gui_tests.sh prepares (see there); the
// results that need hfsutils and isoinfo are written next to them and checked
// on the Linux side afterwards.
#include <windows.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "tests/wine/gui_cases.h"

namespace gui {

namespace {
int case_failures = 0;
}  // namespace

void fail(const std::string& what) {
  ++case_failures;
  std::printf("  fail: %s\n", what.c_str());
  std::fflush(stdout);
}

bool check(bool condition, const std::string& what) {
  if (!condition) fail(what);
  return condition;
}

bool check_text(const std::string& actual, const std::string& expected, const std::string& what) {
  return check(actual == expected,
               what + ": \"" + escaped(actual) + "\", expected \"" + escaped(expected) + "\"");
}

std::string escaped(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else {
      out += c;
    }
  }
  return out;
}

bool wait_until(const std::function<bool()>& condition, DWORD timeout_ms) {
  const DWORD start = GetTickCount();
  for (;;) {
    if (condition()) return true;
    if (GetTickCount() - start >= timeout_ms) return false;
    Sleep(20);
  }
}

bool settle(HWND window) {
  DWORD_PTR ignored = 0;
  return SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_NORMAL, message_timeout_ms, &ignored) != 0;
}

std::string text_of(HWND window) {
  if (window == nullptr) return "<no window>";
  std::array<char, 1024> buffer{};
  DWORD_PTR copied = 0;
  if (SendMessageTimeoutA(window, WM_GETTEXT, buffer.size(),
                          reinterpret_cast<LPARAM>(buffer.data()), SMTO_NORMAL, message_timeout_ms,
                          &copied) == 0) {
    return "<no answer>";
  }
  return std::string(buffer.data(), std::strlen(buffer.data()));
}

std::string item_text(HWND dialog, int id) { return text_of(GetDlgItem(dialog, id)); }

int status_percent(HWND main) {
  const std::string status = item_text(main, id_status);
  const std::string lead = std::string(hybrid::text::working) + " ";
  const std::size_t sign = status.find('%');
  if (status.rfind(lead, 0) != 0 || sign == std::string::npos || sign <= lead.size()) return -1;
  return std::atoi(status.substr(lead.size(), sign - lead.size()).c_str());
}

bool set_item_text(HWND dialog, int id, const std::string& text) {
  DWORD_PTR ignored = 0;
  return SendMessageTimeoutA(GetDlgItem(dialog, id), WM_SETTEXT, 0,
                             reinterpret_cast<LPARAM>(text.c_str()), SMTO_NORMAL,
                             message_timeout_ms, &ignored) != 0;
}

bool is_checked(HWND dialog, int id) {
  DWORD_PTR state = 0;
  if (SendMessageTimeoutA(GetDlgItem(dialog, id), BM_GETCHECK, 0, 0, SMTO_NORMAL,
                          message_timeout_ms, &state) == 0) {
    return false;
  }
  return state == BST_CHECKED;
}

bool is_enabled(HWND dialog, int id) {
  HWND item = GetDlgItem(dialog, id);
  return item != nullptr && IsWindowEnabled(item) != 0;
}

void click(HWND dialog, int id) { PostMessageA(GetDlgItem(dialog, id), BM_CLICK, 0, 0); }

void command(HWND dialog, int id) {
  PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

void close_box(HWND dialog) { PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0); }

namespace {

struct window_search {
  DWORD pid;
  std::function<bool(HWND)> wanted;
  HWND found;
};

BOOL CALLBACK visit(HWND window, LPARAM data) {
  auto& search = *reinterpret_cast<window_search*>(data);
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  if (pid != search.pid || IsWindowVisible(window) == 0) return TRUE;
  std::array<char, 64> class_name{};
  GetClassNameA(window, class_name.data(), static_cast<int>(class_name.size()));
  if (std::strcmp(class_name.data(), "#32770") != 0) return TRUE;
  if (!search.wanted(window)) return TRUE;
  search.found = window;
  return FALSE;
}

}  // namespace

std::string caption_of(HWND window) {
  std::array<char, 256> buffer{};
  GetWindowTextA(window, buffer.data(), static_cast<int>(buffer.size()));
  return buffer.data();
}

HWND find_dialog(DWORD pid, const std::function<bool(HWND)>& wanted) {
  window_search search{pid, wanted, nullptr};
  EnumWindows(visit, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

namespace {

struct window_list {
  DWORD pid;
  std::string text;
};

BOOL CALLBACK list_window(HWND window, LPARAM data) {
  auto& list = *reinterpret_cast<window_list*>(data);
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  if (pid != list.pid || IsWindowVisible(window) == 0) return TRUE;
  std::array<char, 64> class_name{};
  GetClassNameA(window, class_name.data(), static_cast<int>(class_name.size()));
  if (!list.text.empty()) list.text += ", ";
  list.text += std::string(class_name.data()) + " \"" + caption_of(window) + "\"";
  return TRUE;
}

}  // namespace

std::string windows_of(DWORD pid) {
  window_list list{pid, {}};
  EnumWindows(list_window, reinterpret_cast<LPARAM>(&list));
  return list.text.empty() ? "no visible window" : list.text;
}

HWND find_box(DWORD pid) {
  return find_dialog(pid,
                     [](HWND window) { return caption_of(window) == hybrid::text::program_title; });
}

HWND find_titled(DWORD pid, const std::string& caption) {
  return find_dialog(pid, [&](HWND window) { return caption_of(window) == caption; });
}

HWND wait_box(DWORD pid, DWORD timeout_ms) {
  HWND box = nullptr;
  wait_until([&] { return (box = find_box(pid)) != nullptr; }, timeout_ms);
  return box;
}

HWND wait_titled(DWORD pid, const std::string& caption, DWORD timeout_ms) {
  HWND dialog = nullptr;
  wait_until([&] { return (dialog = find_titled(pid, caption)) != nullptr; }, timeout_ms);
  if (dialog == nullptr) {
    std::printf("  (waited for \"%s\"; the program shows: %s)\n", caption.c_str(),
                windows_of(pid).c_str());
  }
  return dialog;
}

bool wait_gone(HWND window, DWORD timeout_ms) {
  return wait_until([&] { return IsWindow(window) == 0 || IsWindowVisible(window) == 0; },
                    timeout_ms);
}

bool expect_box(DWORD pid, const std::string& text, HWND owner, const std::string& what,
                int button) {
  HWND box = wait_box(pid, job_timeout_ms);
  if (!check(box != nullptr,
             what + ": no message box appeared (expected \"" + escaped(text) + "\")")) {
    return false;
  }
  bool good = check_text(item_text(box, message_text_id), text, what + ": message");
  good = check(caption_of(box) == hybrid::text::program_title,
               what + ": caption \"" + caption_of(box) + "\"") &&
         good;
  HWND actual_owner = GetWindow(box, GW_OWNER);
  good = check(actual_owner == owner,
               what + ": the box's owner is " +
                   (actual_owner == nullptr ? "none" : caption_of(actual_owner)) + ", expected " +
                   (owner == nullptr ? "none" : caption_of(owner))) &&
         good;
  dismiss(box, button);
  return good;
}

void dismiss(HWND box, int button) {
  PostMessageA(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), 0);
  if (!wait_gone(box, message_timeout_ms)) fail("a message box did not go away");
}

bool no_box(DWORD pid, HWND main, const std::string& what) {
  settle(main);
  Sleep(150);
  HWND box = find_box(pid);
  if (box == nullptr) return true;
  fail(what + ": unexpected message box \"" + escaped(item_text(box, message_text_id)) + "\"");
  dismiss(box, IDOK);
  return false;
}

bool centred_on(HWND window, const RECT& reference, const std::string& what) {
  RECT rect{};
  GetWindowRect(window, &rect);
  const long width = rect.right - rect.left;
  const long height = rect.bottom - rect.top;
  long x = reference.left + (reference.right - reference.left - width) / 2;
  long y = reference.top + (reference.bottom - reference.top - height) / 2;
  const long screen_w = GetSystemMetrics(SM_CXSCREEN);
  const long screen_h = GetSystemMetrics(SM_CYSCREEN);
  if (x < 0) {
    x = 0;
  } else if (x + width > screen_w) {
    x = screen_w - width;
  }
  if (y < 0) {
    y = 0;
  } else if (y + height > screen_h) {
    y = screen_h - height;
  }
  return check(std::labs(rect.left - x) <= 1 && std::labs(rect.top - y) <= 1,
               what + ": at " + std::to_string(rect.left) + "," + std::to_string(rect.top) +
                   ", expected " + std::to_string(x) + "," + std::to_string(y));
}

RECT screen_rect() {
  return RECT{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
}

// ---- the program ------------------------------------------------------------

bool program::start(const std::string& exe, const std::string& folder) {
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  std::string command_line = "\"" + exe + "\"";
  if (CreateProcessA(exe.c_str(), command_line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                     folder.c_str(), &startup, &process) == 0) {
    fail("cannot start " + exe + " (error " + std::to_string(GetLastError()) + ")");
    return false;
  }
  const DWORD id = process.dwProcessId;
  const bool shown = wait_until(
      [&] {
        main = find_titled(id, main_caption);
        return main != nullptr;
      },
      start_timeout_ms);
  if (!check(shown, std::string("no window captioned \"") + main_caption + "\" appeared")) {
    stop();
    return false;
  }
  settle(main);
  return true;
}

bool program::running() const {
  return process.hProcess != nullptr && WaitForSingleObject(process.hProcess, 0) == WAIT_TIMEOUT;
}

bool program::wait_exit(DWORD timeout_ms, DWORD& code) {
  if (WaitForSingleObject(process.hProcess, timeout_ms) != WAIT_OBJECT_0) return false;
  GetExitCodeProcess(process.hProcess, &code);
  return true;
}

void program::stop() {
  if (process.hProcess == nullptr) return;
  if (running()) {
    // Whatever a failed case left open goes first, then the program as a
    // user would end it; what still runs after that is ended by force.
    for (int round = 0; round < 5; ++round) {
      HWND other = find_dialog(pid(), [&](HWND window) { return window != main; });
      if (other == nullptr) break;
      PostMessageA(other, WM_COMMAND, IDCANCEL, 0);
      wait_gone(other, 1000);
    }
    command(main, id_exit);
    DWORD code = 0;
    if (!wait_exit(3000, code)) TerminateProcess(process.hProcess, 1);
    WaitForSingleObject(process.hProcess, 3000);
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  process = PROCESS_INFORMATION{};
  main = nullptr;
}

// ---- files ------------------------------------------------------------------

std::string read_file(const std::string& path) {
  std::string bytes;
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return bytes;
  std::array<char, 65536> chunk{};
  std::size_t got = 0;
  while ((got = std::fread(chunk.data(), 1, chunk.size(), file)) > 0)
    bytes.append(chunk.data(), got);
  std::fclose(file);
  return bytes;
}

bool exists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool copy_file(const std::string& from, const std::string& to) {
  return check(CopyFileA(from.c_str(), to.c_str(), FALSE) != 0,
               "cannot copy " + from + " to " + to);
}

}  // namespace gui

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: gui_driver PROGRAM DATA_DIR CASE...\ncases:");
    for (const auto& c : gui::all_cases()) std::fprintf(stderr, " %s", c.name);
    std::fprintf(stderr, "\n");
    return 2;
  }
  gui::context context{argv[1], argv[2]};
  int passed = 0;
  int failed = 0;
  for (int i = 3; i < argc; ++i) {
    const std::string name = argv[i];
    const gui::test_case* found = nullptr;
    for (const auto& c : gui::all_cases()) {
      if (name == c.name) found = &c;
    }
    if (found == nullptr) {
      std::printf("FAIL %s: no such case\n", name.c_str());
      ++failed;
      continue;
    }
    gui::case_failures = 0;
    const DWORD started = GetTickCount();
    std::printf("---- %s\n", name.c_str());
    std::fflush(stdout);
    gui::program app;
    const std::string delay = std::to_string(found->device_delay_ms);
    SetEnvironmentVariableA("ZELVORANT_TEST_DELAY_MS",
                            found->device_delay_ms != 0 ? delay.c_str() : nullptr);
    const std::string hold = std::to_string(found->device_hold_ms);
    SetEnvironmentVariableA("ZELVORANT_TEST_SYNC_MS",
                            found->device_hold_ms != 0 ? hold.c_str() : nullptr);
    if (app.start(context.program, context.data)) {
      found->run(context, app);
      app.stop();
    }
    const double seconds = (GetTickCount() - started) / 1000.0;
    if (gui::case_failures == 0) {
      std::printf("PASS %s (%.1f s)\n", name.c_str(), seconds);
      ++passed;
    } else {
      std::printf("FAIL %s (%.1f s)\n", name.c_str(), seconds);
      ++failed;
    }
    std::fflush(stdout);
  }
  std::printf("gui_driver: %d passed, %d failed\n", passed, failed);
  return failed == 0 ? 0 : 1;
}
