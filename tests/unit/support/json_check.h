// A strict JSON checker for the tests and the fuzz target of --info --json:
// true when `text` is exactly one JSON value (RFC 8259), with whitespace
// around it. Strings must be valid UTF-8 without raw control characters.
#pragma once

#include <cctype>
#include <cstddef>
#include <string>

namespace test {

class json_checker {
 public:
  explicit json_checker(const std::string& text) : s_(text) {}
  bool valid() {
    skip_space();
    if (!value(0)) return false;
    skip_space();
    return at_ == s_.size();
  }

 private:
  bool value(int depth) {
    if (depth > 64 || at_ >= s_.size()) return false;
    switch (s_[at_]) {
      case '{':
        return object(depth);
      case '[':
        return array(depth);
      case '"':
        return string();
      case 't':
        return word("true");
      case 'f':
        return word("false");
      case 'n':
        return word("null");
      default:
        return number();
    }
  }
  bool object(int depth) {
    ++at_;
    skip_space();
    if (peek() == '}') return advance();
    for (;;) {
      skip_space();
      if (!string()) return false;
      skip_space();
      if (peek() != ':') return false;
      ++at_;
      skip_space();
      if (!value(depth + 1)) return false;
      skip_space();
      if (peek() == '}') return advance();
      if (peek() != ',') return false;
      ++at_;
    }
  }
  bool array(int depth) {
    ++at_;
    skip_space();
    if (peek() == ']') return advance();
    for (;;) {
      skip_space();
      if (!value(depth + 1)) return false;
      skip_space();
      if (peek() == ']') return advance();
      if (peek() != ',') return false;
      ++at_;
    }
  }
  bool string() {
    if (peek() != '"') return false;
    ++at_;
    while (at_ < s_.size()) {
      const auto c = static_cast<unsigned char>(s_[at_]);
      if (c == '"') return advance();
      if (c < 0x20) return false;
      if (c == '\\') {
        ++at_;
        const char e = peek();
        if (e == 'u') {
          for (std::size_t i = 1; i <= 4; ++i) {
            if (at_ + i >= s_.size() || !std::isxdigit(static_cast<unsigned char>(s_[at_ + i])))
              return false;
          }
          at_ += 5;
        } else if (std::string("\"\\/bfnrt").find(e) != std::string::npos && e != 0) {
          ++at_;
        } else {
          return false;
        }
      } else if (c < 0x80) {
        ++at_;
      } else if (!utf8()) {
        return false;
      }
    }
    return false;
  }
  bool utf8() {
    const auto lead = static_cast<unsigned char>(s_[at_]);
    std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 ? 2 : 0;
    if (length == 0 || lead > 0xF4 || at_ + length > s_.size()) return false;
    unsigned code = lead & (0x3Fu >> (length - 1));
    for (std::size_t i = 1; i < length; ++i) {
      const auto next = static_cast<unsigned char>(s_[at_ + i]);
      if ((next & 0xC0) != 0x80) return false;
      code = (code << 6) | (next & 0x3Fu);
    }
    const unsigned least = length == 2 ? 0x80 : length == 3 ? 0x800 : 0x10000;
    if (code < least || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
    at_ += length;
    return true;
  }
  bool number() {
    const std::size_t start = at_;
    if (peek() == '-') ++at_;
    if (peek() == '0') {
      ++at_;
    } else if (!digits()) {
      return false;
    }
    if (peek() == '.') {
      ++at_;
      if (!digits()) return false;
    }
    if (peek() == 'e' || peek() == 'E') {
      ++at_;
      if (peek() == '+' || peek() == '-') ++at_;
      if (!digits()) return false;
    }
    return at_ > start;
  }
  bool digits() {
    const std::size_t start = at_;
    while (peek() >= '0' && peek() <= '9') ++at_;
    return at_ > start;
  }
  bool word(const char* w) {
    const std::string expected(w);
    if (s_.compare(at_, expected.size(), expected) != 0) return false;
    at_ += expected.size();
    return true;
  }
  void skip_space() {
    while (peek() == ' ' || peek() == '\n' || peek() == '\t' || peek() == '\r') ++at_;
  }
  bool advance() {
    ++at_;
    return true;
  }
  char peek() const { return at_ < s_.size() ? s_[at_] : '\0'; }

  const std::string& s_;
  std::size_t at_ = 0;
};

inline bool valid_json(const std::string& text) { return json_checker(text).valid(); }

}  // namespace test
