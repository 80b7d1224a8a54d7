#include <windows.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/idle.h"
#include "platform/process.h"
#include "platform/wide_path_win32.h"
#include "platform/win32_errors.h"

namespace platform {
namespace {

// What a console program's exit code is when Ctrl-C or Ctrl-Break ended it
// (STATUS_CONTROL_C_EXIT).
constexpr DWORD ended_by_ctrl_c = 0xC000013Au;
// Reported as the signal an interrupt is on other systems, so that the
// message reads the same.
constexpr int interrupt_signal = 2;

struct handle_closer {
  HANDLE handle;
  ~handle_closer() {
    if (handle != nullptr) CloseHandle(handle);
  }
};

std::string first_word(const std::string& line) {
  const std::size_t start = line.find_first_not_of(" \t");
  if (start == std::string::npos) return {};
  return line.substr(start, line.find_first_of(" \t", start) - start);
}

bool is_file(const std::string& path) {
  const DWORD attributes = GetFileAttributesW(wide_path(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool has_folders(const std::string& list) {
  return list.find_first_not_of(';') != std::string::npos;
}

// Empty when the tool is nowhere to be found. The folders are searched as
// CreateProcessA searches them for a command line without an application
// name; the current folder is the program's, which the tool's scratch folder
// never is.
std::string find_tool(const std::string& name, const tool_places& places) {
  if (name.find_first_of("\\/:") != std::string::npos) return name;
  if (!places.program_folder.empty() && is_file(places.program_folder + "\\" + name)) {
    return places.program_folder + "\\" + name;
  }
  std::string folders;
  for (const std::string* list :
       {&places.current_folder, &places.system_folders, &places.search_path}) {
    if (!has_folders(*list)) continue;
    if (!folders.empty()) folders += ';';
    folders += *list;
  }
  if (folders.empty()) return {};
  // SearchPathA answers the size it needs when the buffer is too small.
  std::vector<char> found(MAX_PATH);
  for (;;) {
    const DWORD length = SearchPathA(folders.c_str(), name.c_str(), nullptr,
                                     static_cast<DWORD>(found.size()), found.data(), nullptr);
    if (length == 0) return {};
    if (length < found.size()) return std::string(found.data(), length);
    found.resize(length + 1);
  }
}

// The program's own path, however long: GetModuleFileNameA cuts the name
// short (and says so only by filling the buffer) when it does not fit.
std::string module_path() {
  std::vector<char> self(MAX_PATH);
  while (self.size() <= 3 * 32768) {
    const DWORD length = GetModuleFileNameA(nullptr, self.data(), static_cast<DWORD>(self.size()));
    if (length == 0) return {};
    if (length < self.size()) return std::string(self.data(), length);
    self.resize(self.size() * 2);
  }
  return {};
}

// A folder the system names; it answers the size it needs when the buffer
// is too small (a user's folder in UTF-8 may pass MAX_PATH bytes).
template <typename Length>
std::string folder_from(Length (*ask)(Length, LPSTR)) {
  std::vector<char> folder(MAX_PATH);
  Length length = ask(static_cast<Length>(folder.size()), folder.data());
  if (length >= folder.size()) {
    folder.resize(length + 1);
    length = ask(static_cast<Length>(folder.size()), folder.data());
  }
  return length > 0 && length < folder.size() ? std::string(folder.data(), length) : std::string{};
}

UINT system_folder(UINT size, LPSTR buffer) { return GetSystemDirectoryA(buffer, size); }
UINT windows_folder(UINT size, LPSTR buffer) { return GetWindowsDirectoryA(buffer, size); }
DWORD current_folder(DWORD size, LPSTR buffer) { return GetCurrentDirectoryA(size, buffer); }

tool_run not_started(std::string why) {
  tool_run run;
  if (why.empty() || why.back() != '.') why += '.';
  run.error_text = std::move(why);
  return run;
}

// The floppy tool runs for a minute or more: with an idle hook installed
// (the Windows program) the wait wakes for every message that arrives and
// lets the hook read them, so the window never stops answering.
bool wait_for_tool(HANDLE process) {
  if (!idle_hook_installed()) return WaitForSingleObject(process, INFINITE) == WAIT_OBJECT_0;
  for (;;) {
    const DWORD woken = MsgWaitForMultipleObjects(1, &process, FALSE, INFINITE, QS_ALLINPUT);
    if (woken == WAIT_OBJECT_0) return true;
    if (woken != WAIT_OBJECT_0 + 1) return false;
    // The tool is not stopped halfway through a floppy: the job looks at
    // the stop once it has ended.
    static_cast<void>(run_idle_hook());
  }
}

}  // namespace

tool_places default_tool_places() {
  tool_places places;
  const std::string self = module_path();
  const std::size_t slash = self.find_last_of("\\/");
  if (slash != std::string::npos) places.program_folder = self.substr(0, slash);
  if (const char* path = std::getenv("PATH")) places.search_path = path;
  places.current_folder = folder_from(current_folder);
  const std::string system = folder_from(system_folder);
  const std::string windows = folder_from(windows_folder);
  places.system_folders = system;
  if (!windows.empty()) places.system_folders += ";" + windows + "\\System;" + windows;
  return places;
}

tool_run run_tool(const std::string& command_line, const std::string& working_directory,
                  const tool_places& places) {
  const std::string name = first_word(command_line);
  if (name.empty()) return not_started("The command line is empty.");
  const std::string path = find_tool(name, places);
  if (path.empty()) {
    return not_started("No program named " + name +
                       " was found next to this program, in the current folder, in the system's "
                       "folders or on the search path.");
  }
  // CreateProcessA may write into the command line, so it gets a copy.
  std::vector<char> line(command_line.begin(), command_line.end());
  line.push_back('\0');
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_HIDE;
  PROCESS_INFORMATION process{};
  if (!CreateProcessA(path.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      working_directory.c_str(), &startup, &process)) {
    return not_started("Cannot run " + path + " in " + working_directory + ": " +
                       last_win32_error_text());
  }
  const handle_closer thread{process.hThread}, tool{process.hProcess};
  if (!wait_for_tool(process.hProcess)) {
    return not_started("Cannot wait for " + path + ": " + last_win32_error_text());
  }
  DWORD exit_code = 0;
  if (!GetExitCodeProcess(process.hProcess, &exit_code)) {
    return not_started("Cannot learn how " + path + " ended: " + last_win32_error_text());
  }
  tool_run run;
  if (exit_code == ended_by_ctrl_c) {
    run.result = tool_run::outcome::killed;
    run.exit_code = interrupt_signal;
  } else {
    run.result = tool_run::outcome::exited;
    run.exit_code = static_cast<int>(exit_code);
  }
  return run;
}

bool make_private_folder(std::string& path, std::string& error) {
  // A user name in any script can make the folder's name longer in UTF-8
  // bytes than MAX_PATH characters; GetTempPathA answers the size it needs.
  std::vector<char> base(MAX_PATH + 1);
  DWORD length = GetTempPathA(static_cast<DWORD>(base.size()), base.data());
  if (length >= base.size()) {
    base.resize(length + 1);
    length = GetTempPathA(static_cast<DWORD>(base.size()), base.data());
  }
  if (length == 0 || length >= base.size()) {
    error = "Cannot find the folder for temporary files: " + last_win32_error_text() + ".";
    return false;
  }
  std::string folder(base.data(), length);
  if (folder.back() != '\\' && folder.back() != '/') folder += '\\';
  // The process id and the tick count make a name that another run is
  // unlikely to hold; the counter steps past one that does.
  const std::string stem = folder + "zelvorant-" + std::to_string(GetCurrentProcessId()) + "-" +
                           std::to_string(GetTickCount()) + "-";
  for (unsigned attempt = 0; attempt < 1000; ++attempt) {
    const std::string candidate = stem + std::to_string(attempt);
    if (CreateDirectoryA(candidate.c_str(), nullptr)) {
      path = candidate;
      return true;
    }
    if (GetLastError() != ERROR_ALREADY_EXISTS) break;
  }
  error = "Cannot make a folder in " + folder.substr(0, folder.size() - 1) + ": " +
          last_win32_error_text() + ".";
  return false;
}

}  // namespace platform
