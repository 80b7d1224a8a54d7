#include "cli/json_writer.h"

#include <cstdio>

#include "hybrid/printable.h"

namespace cli {

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
    } else if (const std::size_t length = hybrid::utf8_sequence_length(text, i); length != 0) {
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
