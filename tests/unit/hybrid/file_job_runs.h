// The file job on images held in memory: the set-up that its own tests and
// the tests of --undo (which turns its hybrids back) share.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "hybrid/jobs.h"
#include "test_support.h"

namespace test {

constexpr std::size_t iso_blocks = 80;  // a 40,960-byte ISO image stand-in
constexpr std::size_t iso_bytes = iso_blocks * 512;

inline const std::vector<map_entry> one_partition = {{"Apple_partition_map", "Apple", 1, 63},
                                                     {"Apple_HFS", "MacOS", 64, 100}};
inline const std::vector<map_entry> two_partitions = {{"Apple_partition_map", "Apple", 1, 63},
                                                      {"Apple_HFS", "First", 64, 30},
                                                      {"Apple_Free", "", 94, 6},
                                                      {"Apple_HFS", "Second", 100, 20}};

struct job_run {
  std::vector<std::uint8_t> iso;
  std::vector<std::uint8_t> hfs;
  scripted_questions ask;
  int result = -1;
};

// Runs the job on the run's images; `iso` then holds what it left.
inline void run(job_run& job) {
  hybrid::memory_stream hfs("hfs.img", job.hfs);
  hybrid::memory_stream iso("cd.iso", job.iso);
  job.result = test::told(hybrid::hybridize_from_file(hfs, iso, job.ask), job.ask);
  job.iso = iso.bytes();
}

}  // namespace test
