// --info on a device: the volume of a SCSI disk or CD-ROM, read through the
// same block readers as the device jobs, described like an image file.
#pragma once

#include <string>

#include "hybrid/image_info.h"
#include "hybrid/refusal.h"

namespace hybrid {

// Describes the device a specifier names ("AHT0" a disk, "CHT0" a CD-ROM),
// as long as READ CAPACITY says it is. Refused: a floppy or an unknown
// specifier, a device that does not answer, a failed read (named).
refusal describe_device(const std::string& specifier, image_info& info);

}  // namespace hybrid
