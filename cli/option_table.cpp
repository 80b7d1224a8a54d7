#include "cli/option_table.h"

#include <string_view>

namespace cli {
namespace {

// Where every description starts. Names and a value that leave no room
// for two spaces before it get a line of their own: help2man, and so the
// man page, takes a single space for part of the option.
constexpr std::size_t description_column = 25;

}  // namespace

option_word split_option(const std::string& word) {
  const std::size_t equals = word.find('=');
  if (word.rfind("--", 0) != 0 || equals == std::string::npos) return {word, std::nullopt};
  return {word.substr(0, equals), word.substr(equals + 1)};
}

const option_entry* find_option(std::span<const option_entry> table, const std::string& name) {
  for (const option_entry& entry : table) {
    if (name == entry.name || (entry.short_name != nullptr && name == entry.short_name)) {
      return &entry;
    }
  }
  return nullptr;
}

std::string option_help(std::span<const option_entry> table) {
  std::string text;
  std::string_view section;
  for (const option_entry& entry : table) {
    if (entry.section != section) {
      section = entry.section;
      text.append(section).append("\n");
    }
    std::string names = "  ";
    if (entry.short_name != nullptr) names.append(entry.short_name).append(", ");
    names.append(entry.name).append(entry.value_help);
    text += names;
    if (names.size() + 2 <= description_column) {
      text.append(description_column - names.size(), ' ');
    } else {
      text.append("\n").append(description_column, ' ');
    }
    for (const char c : std::string_view(entry.help)) {
      text += c;
      if (c == '\n') text.append(description_column, ' ');
    }
    text += '\n';
  }
  return text;
}

}  // namespace cli
