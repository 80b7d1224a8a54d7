// The three jobs. Each returns how it ended and says nothing itself: the
// dispatch tells the user. Unless a failure says otherwise, an ISO image
// target that the job did not complete is byte-identical to what it was.
#pragma once

#include <string>

#include "hybrid/io/byte_stream.h"
#include "hybrid/job_outcome.h"
#include "hybrid/questions.h"
#include "hybrid/refusal.h"

namespace hybrid {

// Above this many bytes the two files together no longer fit on a CD-ROM.
constexpr std::uint64_t cdrom_capacity_bytes = 660000000;

// Makes the ISO image a Mac/PC hybrid in place with the HFS partition(s) of
// an HFS image file: an Apple-partitioned image, or a bare HFS or HFS+ volume.
job_outcome hybridize_from_file(byte_stream& hfs_image, byte_stream& iso_image, questions& ask);

// Makes the ISO image a hybrid with the HFS volume of a device.
job_outcome hybridize_from_device(const std::string& device_specifier, byte_stream& iso_image,
                                  questions& ask);

// Copies the HFS volume of a device into an HFS image file. The stream is a
// new file: unless completed it holds nothing of use and must not replace anything.
job_outcome extract_to_hfs_image(const std::string& device_specifier, byte_stream& hfs_image,
                                 questions& ask);
// Copies the HFS volume of an image file into an HFS image file, as
// extract_to_hfs_image copies a disk's: the whole volume when the map lists
// one HFS partition (or the user chooses all), a chosen one behind a fresh
// map; a bare volume behind a fresh map. The source is only read.
job_outcome extract_from_image_file(byte_stream& source, byte_stream& hfs_image, questions& ask);
// What extract_to_hfs_image answers a specifier that names no device it can
// read; asked before the HFS image target is touched.
refusal check_extract_specifier(const std::string& device_specifier);

// Turns a hybrid whose partitions all lie behind its ISO 9660 volume back
// into the plain ISO image: cut where the appended data begin (and the
// padding to a whole block before them), the first 32,768 bytes zeroed.
job_outcome undo_hybrid(byte_stream& iso_image, questions& ask);

}  // namespace hybrid
