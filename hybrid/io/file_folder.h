// The folder a file lies in, as far as a job keeps files of its own beside
// the file (bytes it removed from it, until the job has completed): on the
// same disk, named after it, where the user finds them. Names are paths, as
// byte_stream::name() gives them. The dispatch's files answer with the
// system's folder, memory streams with one held in memory.
#pragma once

#include <memory>
#include <string>

namespace hybrid {

class byte_stream;

class file_folder {
 public:
  virtual ~file_folder() = default;

  // A new, empty file for reading and writing, never one that exists, with
  // the access rights of `like` where the system has them; null when it
  // could not be made (error_text says why).
  virtual std::unique_ptr<byte_stream> make_file(const std::string& name,
                                                 const byte_stream& like) = 0;
  // A file that exists, for reading; null when it could not be opened, with
  // `missing` true when there is no such file.
  virtual std::unique_ptr<byte_stream> open_file(const std::string& name, bool& missing) = 0;
  // Renames a closed file, never over another one.
  virtual bool rename(const std::string& from, const std::string& to) = 0;
  virtual bool remove(const std::string& name) = 0;
  // Waits until the folder's names (a new file, a rename, a removal) are on
  // the disk.
  virtual bool sync() = 0;
  // The system's text for the last failure.
  virtual std::string error_text() const = 0;
};

}  // namespace hybrid
