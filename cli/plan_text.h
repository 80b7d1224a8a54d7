// What --dry-run prints: the plan a job made, in the numbers the user can
// check afterwards (partx numbers the map's entries from 1, in 512-byte
// sectors; the final size is the file's length).
#pragma once

#include <cstdint>
#include <string>

#include "hybrid/hybrid_layout.h"
#include "hybrid/questions.h"

namespace cli {

// `iso_length` is the ISO image's length as the job found it.
std::string plan_text(const hybrid::hybrid_layout& layout, std::uint64_t iso_length);
std::string plan_text(const hybrid::extract_plan& plan);

}  // namespace cli
