// The bytes a job removed after the ISO 9660 volume wait in a named file
// beside the image until the job is final (hybrid/io/removed_tail.h). A run
// that was killed, or lost its power, leaves that file behind; the next run
// on the image (either hybrid job, or --undo) looks for it first, by the
// name the image's volume end and fingerprint give, and judges the image:
//
// - an incomplete file: the image was never cut; the file goes;
// - the image holds the bytes still (never cut, or already put back): the
//   file goes;
// - the image is the finished hybrid (a map whose data begin where the
//   bytes were cut, all inside the file): the job completed, and the bytes
//   the user agreed to remove go;
// - the image is a plain ISO image, cut, perhaps with part of the appended
//   data: the bytes are put back (a notice says so), and the job goes on;
// - anything else: nothing is written, and the user is told where the
//   bytes are.
#pragma once

#include "hybrid/io/byte_stream.h"
#include "hybrid/job_outcome.h"
#include "hybrid/questions.h"

namespace hybrid {

// Answers nothing when the job may go on; a dry run writes nothing, and
// stops where it would have put bytes back.
job_stop recover_removed_tail(byte_stream& iso, questions& ask);

}  // namespace hybrid
