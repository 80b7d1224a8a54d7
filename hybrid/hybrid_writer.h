// Writes a decided hybrid layout into the ISO image as one transaction: the
// runs are appended first and the map is written last, so until the very end
// the ISO image keeps its own head; any failure puts the image back byte for
// byte and ends the job with the reason.
#pragma once

#include <functional>
#include <string>

#include "hybrid/hybrid_layout.h"
#include "hybrid/io/byte_stream.h"
#include "hybrid/io/iso_transaction.h"
#include "hybrid/job_outcome.h"
#include "hybrid/questions.h"
#include "hybrid/refusal.h"

namespace hybrid {

// Appends one run at the ISO image's current position; a refusal carries the
// message for the user. `done` is the number of bytes of runs appended
// before this one (for progress).
using run_copier = std::function<refusal(const append_run& run, std::uint64_t done)>;

// Looks, once the data are appended and just before the map is written,
// whether the job may still go on (the HFS file it copied from has not
// changed); a refusal rolls the image back.
using map_check = std::function<refusal()>;

// Puts the ISO image back: the failure `what`, with the image as it was or
// not restored. The job and --undo end every failure after their first
// write here.
job_outcome roll_back_failure(iso_transaction& transaction, const std::string& what);

job_outcome write_hybrid(byte_stream& iso, const hybrid_layout& layout, questions& ask,
                         const run_copier& copy_run, const map_check& before_map = {});

}  // namespace hybrid
