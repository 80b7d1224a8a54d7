// Every multi-byte field of an Apple partition map is big-endian. Fields are
// read and written one by one through these helpers, never by laying a struct
// over a buffer, so the code is right on any host and any alignment. The few
// ISO 9660 fields the program reads have their little-endian readers here too.
#pragma once

#include <cstdint>

namespace hybrid {

inline std::uint16_t get_be16(const std::uint8_t* at) {
  return static_cast<std::uint16_t>((at[0] << 8) | at[1]);
}

inline std::uint32_t get_be32(const std::uint8_t* at) {
  return (std::uint32_t{at[0]} << 24) | (std::uint32_t{at[1]} << 16) | (std::uint32_t{at[2]} << 8) |
         std::uint32_t{at[3]};
}

inline void put_be16(std::uint8_t* at, std::uint16_t value) {
  at[0] = static_cast<std::uint8_t>(value >> 8);
  at[1] = static_cast<std::uint8_t>(value);
}

inline void put_be32(std::uint8_t* at, std::uint32_t value) {
  at[0] = static_cast<std::uint8_t>(value >> 24);
  at[1] = static_cast<std::uint8_t>(value >> 16);
  at[2] = static_cast<std::uint8_t>(value >> 8);
  at[3] = static_cast<std::uint8_t>(value);
}

// ISO 9660 records its numbers both ways, the little-endian copy first; the
// ISO image checks read both copies and believe them only when they agree.
inline std::uint16_t get_le16(const std::uint8_t* at) {
  return static_cast<std::uint16_t>(at[0] | (at[1] << 8));
}

inline std::uint32_t get_le32(const std::uint8_t* at) {
  return std::uint32_t{at[0]} | (std::uint32_t{at[1]} << 8) | (std::uint32_t{at[2]} << 16) |
         (std::uint32_t{at[3]} << 24);
}

// Byte exchanges between host order and disk order on the little-endian hosts
// the program runs on; kept for the exported routines that speak in them.
inline std::uint16_t swap16(std::uint16_t value) {
  return static_cast<std::uint16_t>((value << 8) | (value >> 8));
}

inline std::uint32_t swap32(std::uint32_t value) {
  return (value << 24) | ((value << 8) & 0x00FF0000u) | ((value >> 8) & 0x0000FF00u) |
         (value >> 24);
}

}  // namespace hybrid
