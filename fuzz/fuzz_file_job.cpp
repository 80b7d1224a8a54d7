// The file job on an HFS image made of the fuzz input: a refusal leaves the
// ISO image byte-identical, a success leaves a hybrid whose map agrees with
// its bytes.
#include <cstddef>
#include <cstdint>

#include "fuzz_support.h"
#include "hybrid/io/memory_stream.h"
#include "hybrid/jobs.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const std::uint8_t answers = data[0];
  // ISO images of 32,768 bytes up to a few blocks more, odd lengths included.
  const std::size_t iso_bytes = hybrid::map_area_bytes + data[1] * 7u;
  std::vector<std::uint8_t> iso_before(iso_bytes);
  for (std::size_t i = 0; i < iso_bytes; ++i) iso_before[i] = static_cast<std::uint8_t>(i * 31 + 7);
  hybrid::memory_stream iso{"cd.iso", iso_before};
  hybrid::memory_stream hfs{"hfs.img", std::vector<std::uint8_t>(data + 2, data + size)};
  fuzz::answering_user user(answers);
  const hybrid::job_outcome outcome = hybrid::hybridize_from_file(hfs, iso, user);
  const int result = outcome.code();
  if (result == 0) {
    fuzz::check(iso.bytes() == iso_before, "a refused job changed the ISO image");
    fuzz::check(!outcome.text().empty() || ((answers >> 1) & 3) == 0 || (answers & 1) == 0,
                "a refusal without a word");
  } else {
    fuzz::check(result == 1, "a job result other than 0 or 1");
    fuzz::check_hybrid(iso.bytes(), iso_before);
  }
  return 0;
}
