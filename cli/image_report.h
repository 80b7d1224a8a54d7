// --info's two forms of the same facts: text for people, one JSON object
// for scripts; and the layout drawn to scale on one line.
#pragma once

#include <cstddef>
#include <string>

#include "hybrid/image_info.h"

namespace cli {

// The text shows control characters in names as printable() does.
std::string info_text(const hybrid::image_info& info, const std::string& name);
std::string info_json(const hybrid::image_info& info, const std::string& name);

// `[map|ISO 9660 ....|HFS Uno ...|tail]`: each region in proportion to its
// bytes, at least one character, `width` characters between the brackets
// (more when there are more regions than that).
std::string layout_picture(const hybrid::image_info& info, std::size_t width = 72);

}  // namespace cli
