// The command line as a table: one record per option, saying how it is
// spelled, whether it takes a value, what it does to the options being
// gathered, and what --help says of it. The parser and --help (and through
// help2man the man page) read the same records, so an option cannot be
// accepted without being listed, nor listed without being accepted.
//
// The program's own table is in options.cpp, beside the rules between
// options and the texts they refuse with.
#pragma once

#include <optional>
#include <span>
#include <string>

#include "cli/options.h"

namespace cli {

// What the options have gathered so far; the rules between them (one
// source, --quiet or --verbose) are checked once the line is read.
struct parse_state {
  options parsed;
  bool have_source = false;
  bool have_target = false;
  bool quiet = false;
  bool verbose = false;
  // The usage error is about sources and targets: the jobs are listed after it.
  bool list_jobs = false;
};

// How an option takes its value: --opt VALUE or --opt=VALUE.
enum class value_rule {
  none,      // --opt alone: --opt=VALUE is a usage error
  ignored,   // --opt alone, but a value after '=' is let pass unread
  required,  // --opt VALUE or --opt=VALUE; a missing one is a usage error
  optional,  // --opt=VALUE, or the next word when the entry's `next_is_value` says so
};

// What the parser does after a handler.
enum class handled {
  next,     // on to the next word
  stop,     // the line is settled (--help, --version): nothing after it is read
  refused,  // a usage error, whose reason the handler gave
};

using option_handler = handled (*)(parse_state& state, const std::optional<std::string>& value,
                                   std::string& error);

struct option_entry {
  const char* name;        // "--yes"
  const char* short_name;  // "-y", or nullptr
  value_rule value;
  // For value_rule::optional: whether the word after the option is its value.
  bool (*next_is_value)(const std::string& word);
  option_handler handle;
  // --help: the heading the option is listed under (a new heading starts
  // a section), the value as the user writes it (" PATH"), and the
  // description, whose lines each start in the description column.
  const char* section;
  const char* value_help;
  const char* help;
};

// A word of the command line that names an option: --name=value as well as
// --name value. Only a long name is split at '='.
struct option_word {
  std::string name;
  std::optional<std::string> value;
};
option_word split_option(const std::string& word);

// The entry spelled `name` (long or short), or nullptr.
const option_entry* find_option(std::span<const option_entry> table, const std::string& name);

// The options' part of --help: the sections in table order, each option's
// names and value, then its description from the description column on.
std::string option_help(std::span<const option_entry> table);

// zelvorant-cli's own options, in the order --help lists them.
std::span<const option_entry> program_options();

}  // namespace cli
