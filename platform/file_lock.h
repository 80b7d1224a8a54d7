// A file a job works on is locked against every other job, in this process
// or another, from the moment it is opened until it is closed: two jobs on
// one ISO image would append over each other, and a source rewritten while
// it is copied gives a hybrid that is neither. The build picks
// file_lock_posix.cpp or file_lock_win32.cpp.
#pragma once

#include <cstdio>
#include <string>

namespace platform {

enum class file_lock {
  none,       // as the standard library opens files
  shared,     // a source: other jobs may read it as well, none may write it
  exclusive,  // a target: no other job may open it, to read or to write
};

enum class open_outcome { opened, in_use, failed };

// Opens `path` with a standard library mode ("rb", "r+b", "w+b"; "w+bx"
// creates a new file and fails when the name is taken) and takes `lock`.
// `file` is null unless the outcome is `opened`; on `failed` errno says why.
// The lock ends when the file is closed. A file system that cannot lock at
// all (some network shares) opens the file without a lock rather than
// refusing every job on it.
open_outcome open_file(const std::string& path, const char* mode, file_lock lock, std::FILE*& file);

}  // namespace platform
