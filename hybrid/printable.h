// Text that someone else wrote, made fit to show: partition and volume names,
// a device's INQUIRY data and file names are whatever bytes their makers put
// there, and an escape sequence among them would work on the user's terminal.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace hybrid {

// What a control character is shown as, wherever untrusted text is shown.
inline constexpr char control_stand_in = '?';

enum class line_breaks { replace, keep };

// `text` with every control character as control_stand_in: C0 (0x00-0x1F),
// DEL, and C1, whether UTF-8 encodes it (U+0080-U+009F) or it is a byte
// 0x80-0x9F outside any UTF-8 sequence (an 8-bit terminal takes 0x9B as
// CSI). Valid UTF-8 stays as it is, and so do the other bytes: a Mac name
// shown as its bytes keeps them. `keep` leaves the line breaks of a message
// of our own, which is the only place they belong.
std::string printable(std::string_view text, line_breaks breaks = line_breaks::replace);

// The length of the well-formed UTF-8 sequence that begins at `at`, or 0.
std::size_t utf8_sequence_length(std::string_view text, std::size_t at);

}  // namespace hybrid
