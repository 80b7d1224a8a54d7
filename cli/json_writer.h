// A small JSON writer for --info --json: objects, arrays, strings, numbers
// and booleans, with commas placed by the writer. Strings are escaped so the
// output is valid JSON whatever bytes a name holds: control characters as
// \u00XX, and bytes that are not UTF-8 as U+FFFD.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace cli {

class json_writer {
 public:
  json_writer& begin_object();
  json_writer& end_object();
  json_writer& begin_array();
  json_writer& end_array();
  // The next value's name, inside an object.
  json_writer& key(const std::string& name);
  json_writer& value(const std::string& text);
  json_writer& value(const char* text) { return value(std::string(text)); }
  json_writer& value(std::uint64_t number);
  json_writer& value(std::int64_t number);
  json_writer& value(int number) { return value(static_cast<std::int64_t>(number)); }
  json_writer& value(std::uint32_t number) { return value(static_cast<std::uint64_t>(number)); }
  json_writer& value(bool truth);
  json_writer& null();

  const std::string& text() const { return out_; }

 private:
  void before_value();
  void write_string(const std::string& text);
  std::string out_;
  std::vector<bool> first_;  // per open container: nothing written in it yet
  bool after_key_ = false;
};

}  // namespace cli
