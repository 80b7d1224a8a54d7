// Running a helper program, such as the floppy imaging tool, and waiting for
// it. The build picks the implementation (process_posix.cpp or
// process_win32.cpp).
#pragma once

#include <string>

namespace platform {

struct tool_run {
  enum class outcome { exited, could_not_start, killed };
  outcome result = outcome::could_not_start;
  // exited: the tool's exit code; killed: the signal that ended it.
  int exit_code = 0;
  // could_not_start: why, in the system's words; a sentence.
  std::string error_text;
};

// Where a tool is looked for. Windows looks as it does for the program a
// command line names: the folder of the program itself, where the tools
// shipped with it live; the program's current folder (the user's, never the
// tool's scratch folder); the system's folders; then each folder of a search
// path. The other systems look next to the program, then in the installation's
// own folder for the tools only the program runs, then on the search path,
// and never in a current folder: a file of the tool's name in whatever folder
// the user stands in must not be what runs. Lists of folders are in PATH's
// format. An empty member is skipped (in a search path it would mean the
// current folder).
struct tool_places {
  std::string program_folder;
  std::string search_path;
  // Windows only.
  std::string current_folder;
  std::string system_folders;
  // Not Windows.
  std::string tools_folder;
};

// The running program's folder and the PATH of the environment; on Windows
// also its current folder and the system's folders (System32, System and the
// Windows folder), elsewhere the installation's folder for the tools, found
// from the program's folder as the installation lays them out (where the
// system does not tell the program's path: where the build was configured to
// install them).
tool_places default_tool_places();

// Runs a command line written for the Windows tool ("name.exe /X /Y ..."):
// the first word names the tool, the others are its arguments, split on
// blanks. The tool starts in `working_directory`, reads nothing and shows
// nothing but its error messages; the call waits until it has ended.
tool_run run_tool(const std::string& command_line, const std::string& working_directory,
                  const tool_places& places = default_tool_places());

// Makes a new, empty folder that only this user may enter, in the system's
// folder for temporary files. Returns false and says why in `error` (a
// sentence).
bool make_private_folder(std::string& path, std::string& error);

}  // namespace platform
