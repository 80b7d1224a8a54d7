// What a bulk copy tells while it runs, and how it learns that it should
// stop. The jobs' questions answer it; the streams layer knows nothing else
// of a front end.
#pragma once

#include <cstdint>

namespace hybrid {

class copy_progress {
 public:
  virtual ~copy_progress() = default;

  // Progress of the bulk copy; a front end may show it or not.
  virtual void copy_started(std::uint64_t /*total_bytes*/) {}
  virtual void copy_advanced(std::uint64_t /*bytes_done*/) {}
  virtual void copy_ended() {}
  // True once the user asked to stop (an interrupt on a terminal). The copy
  // looks between chunks, and the job then puts the ISO image back.
  virtual bool stop_requested() { return false; }
};

}  // namespace hybrid
