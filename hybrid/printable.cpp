#include "hybrid/printable.h"

#include <cstdint>

namespace hybrid {

std::size_t utf8_sequence_length(std::string_view text, std::size_t at) {
  const auto lead = static_cast<unsigned char>(text[at]);
  std::size_t length = 0;
  std::uint32_t least = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, least = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, least = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, least = 0x10000;
  } else {
    return 0;
  }
  if (at + length > text.size()) return 0;
  std::uint32_t code = lead & (0x3Fu >> (length - 1));
  for (std::size_t i = 1; i < length; ++i) {
    const auto next = static_cast<unsigned char>(text[at + i]);
    if ((next & 0xC0) != 0x80) return 0;
    code = (code << 6) | (next & 0x3Fu);
  }
  if (code < least || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
  return length;
}

std::string printable(std::string_view text, line_breaks breaks) {
  std::string shown;
  shown.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte < 0x80) {
      const bool control = byte < 0x20 || byte == 0x7F;
      const bool kept = byte == '\n' && breaks == line_breaks::keep;
      shown += control && !kept ? control_stand_in : static_cast<char>(byte);
      ++i;
    } else if (const std::size_t length = utf8_sequence_length(text, i); length != 0) {
      // U+0080-U+009F is C2 80 to C2 9F.
      const bool c1 = byte == 0xC2 && static_cast<unsigned char>(text[i + 1]) < 0xA0;
      if (c1) {
        shown += control_stand_in;
      } else {
        shown.append(text, i, length);
      }
      i += length;
    } else {
      shown += byte < 0xA0 ? control_stand_in : static_cast<char>(byte);
      ++i;
    }
  }
  return shown;
}

}  // namespace hybrid
