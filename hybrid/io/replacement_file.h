// An HFS image target is replaced only by a complete image. The job writes
// into a new file next to the target; when the job completes, that file goes
// to the disk and is renamed over the target in one step. Until then a file
// that stood at the target's path is untouched (and locked against other
// jobs), and on any other ending the new file is removed.
//
// Nobody else reads the new file while it is written: it is its owner's
// alone, and gets the old file's access rights (or a new file's usual ones)
// only once its bytes are on the disk. Nothing of it outlives a kill where
// the system can make a file with no name (Linux): it is named only at the
// end, for the rename. Elsewhere it has a name of its own kind from the
// start, NAME.XXXXXXXXN.part, locked while it is written; the next run in
// its folder removes such a file once no process holds it.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "hybrid/io/file_stream.h"

namespace hybrid {

class replacement_file {
 public:
  enum class opened { ok, in_use, failed };

  // `target` as the user gave it; the new file's stream carries that name,
  // so that messages name the file the user knows.
  explicit replacement_file(std::string target);
  ~replacement_file();  // removes the new file unless it was put in place
  replacement_file(const replacement_file&) = delete;
  replacement_file& operator=(const replacement_file&) = delete;

  // Locks an existing target, removes what earlier runs left in its folder
  // and makes the new file. `failed` when the target is not a regular file
  // or cannot be opened for writing, or when no file can be made in its
  // folder; `in_use` when another job holds it.
  opened open();
  // The new file; valid after open() answered ok.
  byte_stream& stream() { return *fresh_; }
  // Puts the new file on the disk and in the target's place. False when it
  // could not (error_text says why): the target is then as it was.
  bool commit();
  // Why commit() or a failed open() failed, when the system said.
  const std::string& error_text() const { return error_; }
  // True while the new file has no name in the folder.
  bool unnamed() const { return unnamed_; }

 private:
  std::string target_;      // as given
  std::string place_;       // the file that is replaced: the target, through a symbolic link
  std::string fresh_path_;  // empty while the new file has no name
  std::unique_ptr<file_stream> old_;  // the existing target, locked
  std::unique_ptr<file_stream> fresh_;
  std::string error_;
  unsigned usual_mode_ = 0;
  bool unnamed_ = false;
  bool committed_ = false;
};

// A new file's name, as a leaf: NAME.XXXXXXXXN.part.
bool is_new_file_name(const std::string& leaf);
// Removes the new files that runs which ended before their rename (killed,
// or lost with the power) left in `folder`, all but those another process
// holds; how many it removed.
std::size_t remove_leftover_new_files(const std::string& folder);

}  // namespace hybrid
