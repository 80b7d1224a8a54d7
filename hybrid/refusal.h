// What a check, a layout or a copy answers: either nothing stands in the
// way, or the message that tells the user why the job stops there. An empty
// string used to mean success, and a check whose answer was dropped let the
// job go on; this type is made on purpose and cannot be ignored.
#pragma once

#include <string>
#include <utility>

namespace hybrid {

class [[nodiscard]] refusal {
 public:
  // Nothing refused.
  refusal() = default;
  // Refused, for the reason the user is told.
  static refusal because(std::string text) { return refusal(std::move(text)); }

  // True when something was refused.
  explicit operator bool() const { return refused_; }
  const std::string& text() const { return text_; }

 private:
  explicit refusal(std::string text) : refused_(true), text_(std::move(text)) {}

  bool refused_ = false;
  std::string text_;
};

// Nothing refused; reads better than `return {};` at the end of a check.
inline refusal accepted() { return {}; }

}  // namespace hybrid
