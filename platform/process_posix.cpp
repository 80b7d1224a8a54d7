#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

#include "platform/file_ops.h"
#include "platform/process.h"
#include "platform/system_calls_posix.h"

namespace platform {
namespace {

class unique_fd {
 public:
  explicit unique_fd(int fd = -1) : fd_(fd) {}
  ~unique_fd() { reset(); }
  unique_fd(const unique_fd&) = delete;
  unique_fd& operator=(const unique_fd&) = delete;
  int get() const { return fd_; }
  void reset() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }

 private:
  int fd_;
};

// What the child reports through the pipe when it cannot become the tool.
// The pipe closes on a successful exec, so an empty read means the tool runs:
// that is how a tool that cannot start is told apart from one that exits 127.
struct child_failure {
  enum stage : int { enter_folder, redirect, exec } at;
  int error_number;
};

std::vector<std::string> split_words(const std::string& line) {
  std::vector<std::string> words;
  std::string word;
  for (const char c : line) {
    if (c == ' ' || c == '\t') {
      if (!word.empty()) words.push_back(std::move(word));
      word.clear();
    } else {
      word += c;
    }
  }
  if (!word.empty()) words.push_back(std::move(word));
  return words;
}

// The command lines name Windows programs; here the same tool has no suffix.
std::string without_exe(std::string name) {
  const std::size_t n = name.size();
  if (n > 4 && name[n - 4] == '.' && (name[n - 3] | 0x20) == 'e' && (name[n - 2] | 0x20) == 'x' &&
      (name[n - 1] | 0x20) == 'e') {
    name.resize(n - 4);
  }
  return name;
}

bool is_runnable(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && access(path.c_str(), X_OK) == 0;
}

// The first folder of `list` (PATH's format) that holds `name`, runnable.
std::string find_in(const std::string& list, const std::string& name) {
  std::size_t start = 0;
  while (start <= list.size()) {
    std::size_t end = list.find(':', start);
    if (end == std::string::npos) end = list.size();
    const std::string folder = list.substr(start, end - start);
    if (!folder.empty() && is_runnable(folder + "/" + name)) return folder + "/" + name;
    start = end + 1;
  }
  return {};
}

// Empty when the tool is nowhere to be found. Never in a current folder: not
// the user's, where anyone may have left a file of the tool's name, nor the
// tool's scratch folder, which is what an empty member of the search path
// would mean.
std::string find_tool(const std::string& name, const tool_places& places) {
  if (name.find('/') != std::string::npos) return name;
  for (const std::string* list : {&places.program_folder, &places.tools_folder}) {
    if (!list->empty() && is_runnable(*list + "/" + name)) return *list + "/" + name;
  }
  return find_in(places.search_path, name);
}

// Names the places looked in, in their order.
std::string not_found_text(const std::string& name, const tool_places& places) {
  std::vector<std::string> where;
  if (!places.program_folder.empty()) where.emplace_back("next to this program");
  if (!places.tools_folder.empty()) where.push_back("in " + places.tools_folder);
  where.emplace_back("on the search path");
  std::string text = "No program named " + name + " was found ";
  for (std::size_t i = 0; i < where.size(); ++i) {
    if (i > 0) text += i + 1 == where.size() ? " or " : ", ";
    text += where[i];
  }
  return text + ".";
}

// Only async-signal-safe calls between fork and exec.
[[noreturn]] void become_tool(const char* path, char* const argv[], const char* folder, int null_fd,
                              int report_fd) {
  child_failure failure{child_failure::enter_folder, 0};
  if (chdir(folder) != 0) {
    failure.error_number = errno;
  } else if (dup2(null_fd, STDIN_FILENO) < 0 || dup2(null_fd, STDOUT_FILENO) < 0) {
    failure = {child_failure::redirect, errno};
  } else {
    execv(path, argv);
    failure = {child_failure::exec, errno};
  }
  ssize_t ignored = write(report_fd, &failure, sizeof failure);
  (void)ignored;
  _exit(127);
}

bool wait_for(pid_t child, int& status) {
  while (waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) return false;
  }
  return true;
}

tool_run not_started(std::string why) {
  tool_run run;
  if (why.back() != '.') why += '.';
  run.error_text = std::move(why);
  return run;
}

std::string failure_text(const child_failure& failure, const std::string& path,
                         const std::string& folder) {
  const std::string reason = error_text(failure.error_number);
  switch (failure.at) {
    case child_failure::enter_folder:
      return "Cannot enter the folder " + folder + ": " + reason;
    case child_failure::redirect:
      return "Cannot redirect the standard input and output: " + reason;
    case child_failure::exec:
      break;
  }
  return "Cannot run " + path + ": " + reason;
}

}  // namespace

tool_places default_tool_places() {
  tool_places places;
  const std::string self = system_calls::own_program_path();
  if (!self.empty()) {
    const std::size_t slash = self.find_last_of('/');
    // The executable at the root keeps "/" as its folder. (Built as one
    // assignment: GCC 12 at -O3 warns falsely about an assignment of "/".)
    places.program_folder = self.substr(0, slash == 0 || slash == std::string::npos ? 1 : slash);
    // Where the installation put the tools, wherever it was installed: the
    // same tree serves `cmake --install` under one prefix and a package
    // under another.
    places.tools_folder =
        (std::filesystem::path(places.program_folder) / ZELVORANT_TOOLS_FROM_PROGRAM)
            .lexically_normal()
            .string();
  } else {
    places.tools_folder = ZELVORANT_TOOLS_FOLDER;
  }
  if (const char* path = std::getenv("PATH")) places.search_path = path;
  return places;
}

tool_run run_tool(const std::string& command_line, const std::string& working_directory,
                  const tool_places& places) {
  std::vector<std::string> words = split_words(command_line);
  if (words.empty()) return not_started("The command line is empty.");
  words[0] = without_exe(words[0]);
  const std::string path = find_tool(words[0], places);
  if (path.empty()) {
    return not_started(not_found_text(words[0], places));
  }
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);

  unique_fd null_fd(open("/dev/null", O_RDWR | O_CLOEXEC));
  if (null_fd.get() < 0) return not_started("Cannot open /dev/null: " + error_text(errno));
  int fds[2];
  if (system_calls::make_pipe(fds) != 0)
    return not_started("Cannot make a pipe: " + error_text(errno));
  unique_fd report_read(fds[0]), report_write(fds[1]);

  const pid_t child = fork();
  if (child < 0) return not_started("Cannot start a process: " + error_text(errno));
  if (child == 0) {
    become_tool(path.c_str(), argv.data(), working_directory.c_str(), null_fd.get(),
                report_write.get());
  }
  report_write.reset();

  child_failure failure{};
  ssize_t got = 0;
  do {
    got = read(report_read.get(), &failure, sizeof failure);
  } while (got < 0 && errno == EINTR);
  int status = 0;
  const bool waited = wait_for(child, status);
  if (got == static_cast<ssize_t>(sizeof failure)) {
    return not_started(failure_text(failure, path, working_directory));
  }
  if (!waited) return not_started("Cannot wait for " + path + ": " + error_text(errno));

  tool_run run;
  if (WIFEXITED(status)) {
    run.result = tool_run::outcome::exited;
    run.exit_code = WEXITSTATUS(status);
  } else {
    run.result = tool_run::outcome::killed;
    run.exit_code = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  }
  return run;
}

bool make_private_folder(std::string& path, std::string& error) {
  const char* base = std::getenv("TMPDIR");
  if (base == nullptr || *base == '\0') base = "/tmp";
  std::string pattern = std::string(base) + "/zelvorant-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) {
    error = "Cannot make a folder in " + std::string(base) + ": " + error_text(errno) + ".";
    return false;
  }
  path = std::move(pattern);
  return true;
}

}  // namespace platform
