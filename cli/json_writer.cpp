#include "cli/json_writer.h"

#include <cstdio>

namespace cli {
namespace {

// The length of the UTF-8 sequence at `at`, or 0 when it is not one.
std::size_t utf8_length(const std::string& text, std::size_t at) {
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

}  // namespace

void json_writer::before_value() {
  if (after_key_) {
    after_key_ = false;
    return;
  }
  if (!first_.empty()) {
    if (!first_.back()) out_ += ',';
    first_.back() = false;
  }
}

json_writer& json_writer::begin_object() {
  before_value();
  out_ += '{';
  first_.push_back(true);
  return *this;
}

json_writer& json_writer::end_object() {
  out_ += '}';
  first_.pop_back();
  return *this;
}

json_writer& json_writer::begin_array() {
  before_value();
  out_ += '[';
  first_.push_back(true);
  return *this;
}

json_writer& json_writer::end_array() {
  out_ += ']';
  first_.pop_back();
  return *this;
}

json_writer& json_writer::key(const std::string& name) {
  before_value();
  write_string(name);
  out_ += ':';
  after_key_ = true;
  return *this;
}

json_writer& json_writer::value(const std::string& text) {
  before_value();
  write_string(text);
  return *this;
}

json_writer& json_writer::value(std::uint64_t number) {
  before_value();
  out_ += std::to_string(number);
  return *this;
}

json_writer& json_writer::value(std::int64_t number) {
  before_value();
  out_ += std::to_string(number);
  return *this;
}

json_writer& json_writer::value(bool truth) {
  before_value();
  out_ += truth ? "true" : "false";
  return *this;
}

json_writer& json_writer::null() {
  before_value();
  out_ += "null";
  return *this;
}

void json_writer::write_string(const std::string& text) {
  out_ += '"';
  for (std::size_t i = 0; i < text.size();) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte == '"' || byte == '\\') {
      out_ += '\\';
      out_ += static_cast<char>(byte);
      ++i;
    } else if (byte < 0x20 || byte == 0x7F) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
      out_ += escaped;
      ++i;
    } else if (byte < 0x80) {
      out_ += static_cast<char>(byte);
      ++i;
    } else if (const std::size_t length = utf8_length(text, i); length != 0) {
      out_.append(text, i, length);
      i += length;
    } else {
      out_ += "\\ufffd";
      ++i;
    }
  }
  out_ += '"';
}

}  // namespace cli
