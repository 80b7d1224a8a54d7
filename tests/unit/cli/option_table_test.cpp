#include "cli/option_table.h"

#include <gtest/gtest.h>

#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace {

// Each spelling the command line has ever taken, and each mistake, with
// what becomes of it: "" for accepted, else the reason given.
TEST(OptionTable, EverySpellingKeepsItsMeaning) {
  const struct {
    std::vector<std::string> args;
    std::string error;
  } cases[] = {
      {{"-h"}, ""},
      {{"--help", "--frobnicate"}, ""},  // nothing after --help is read
      {{"--frobnicate", "--help"}, "unknown option '--frobnicate'"},
      {{"--help=me"}, "--help takes no value"},
      {{"--version=1"}, "--version takes no value"},
      {{"--dry-run=yes"}, "--dry-run takes no value"},
      {{"--quiet=1"}, "--quiet takes no value"},
      {{"--verbose="}, "--verbose takes no value"},
      // Short names are never split at '='.
      {{"-y=x"}, "unknown option '-y=x'"},
      {{"-q=1"}, "unknown option '-q=1'"},
      {{"-x"}, "unknown option '-x'"},
      {{"-"}, "unknown option '-'"},
      {{"--=x"}, "unknown option '--'"},
      {{"--yes", "--", "--"}, "unexpected argument '--': give paths with their options"},
      {{"--info=a.iso", "--json=anything"}, ""},
      {{"--info", "a.iso", "--json", "x"},
       "unexpected argument 'x': give paths with their options"},
      {{"--info", "-", "--from-file", "a"}, "unknown option '-'"},
      {{"--list-devices=", "--yes"}, "--list-devices takes disk or cdrom"},
      {{"--list-devices", "tape"}, "unexpected argument 'tape': give paths with their options"},
      {{"--list-devices", "--json"}, ""},
      // A value is the next word, whatever it looks like.
      {{"--from-file", "--", "--to-iso", "-q"}, ""},
      {{"--to-iso", "b", "--from-drive"}, "--from-drive needs a value"},
      {{"--to-iso=", "--from-file="}, ""},
      {{"--undo"}, "--undo needs a value"},
      {{"--partition=all", "-y", "-q", "--from-file=a", "--to-hfs-image", "b"}, ""},
      // Short options without a value join in one word.
      {{"-yq", "--from-file=a", "--to-iso=b"}, ""},
      {{"-qyh"}, ""},
      {{"-yx"}, "unknown option '-yx'"},
      {{"-yq=1"}, "unknown option '-yq=1'"},
      {{"--", "-yq"}, "unexpected argument '-yq': give paths with their options"},
      {{"--media", "cd80", "--accept-size", "--undo", "a"}, ""},
      {{"--media=cd90"}, "--media takes cd74, cd80, dvd or none"},
  };
  for (const auto& c : cases) {
    std::string error;
    const auto parsed = cli::parse_options(c.args, error);
    EXPECT_EQ(parsed.has_value(), c.error.empty()) << c.args.front() << ": " << error;
    EXPECT_EQ(error, c.error) << c.args.front();
  }
}

cli::handled ignore(cli::parse_state&, const std::optional<std::string>&, std::string&) {
  return cli::handled::next;
}

// Sections start where their heading changes; a description starts in
// column 25, below names too long to leave it two spaces (help2man reads
// one space as part of the option).
TEST(OptionTable, HelpLinesLineUpInTheDescriptionColumn) {
  const cli::option_entry table[] = {
      {"--one", nullptr, cli::value_rule::none, nullptr, ignore, "First:", "", "the first\nof all"},
      {"--two", "-t", cli::value_rule::required, nullptr, ignore, "First:", " TWO", "second"},
      {"--three", nullptr, cli::value_rule::required, nullptr, ignore, "Then:", " 12345678901234",
       "fills the column"},
      {"--four", nullptr, cli::value_rule::required, nullptr, ignore, "Then:", " 1234567890123456",
       "too long"},
  };
  EXPECT_EQ(cli::option_help(table),
            "First:\n"
            "  --one                  the first\n"
            "                         of all\n"
            "  -t, --two TWO          second\n"
            "Then:\n"
            "  --three 12345678901234\n"
            "                         fills the column\n"
            "  --four 1234567890123456\n"
            "                         too long\n");
}

// --help, and so the man page that help2man makes of it, lists every
// option by all its names, in help2man's shape: option lines indented, the
// description in one column, no line wider than a terminal.
TEST(OptionTable, HelpListsEveryOptionForTheManPage) {
  const std::string help = cli::usage_text();
  for (const cli::option_entry& entry : cli::program_options()) {
    std::string names = "\n  ";
    if (entry.short_name != nullptr) names += std::string(entry.short_name) + ", ";
    names += std::string(entry.name) + entry.value_help;
    const std::size_t at = help.find(names);
    ASSERT_NE(at, std::string::npos) << entry.name;
    const std::string after = help.substr(at + names.size(), 2);
    EXPECT_TRUE(after[0] == '\n' || after == "  ") << entry.name << " runs into its text";
    EXPECT_EQ(cli::find_option(cli::program_options(), entry.name), &entry);
    if (entry.short_name != nullptr) {
      EXPECT_EQ(cli::find_option(cli::program_options(), entry.short_name), &entry);
    }
    EXPECT_EQ(entry.value == cli::value_rule::optional, entry.next_is_value != nullptr)
        << entry.name;
  }
  std::istringstream lines(help);
  for (std::string line; std::getline(lines, line);) {
    EXPECT_LE(line.size(), 79u) << line;
  }
}

}  // namespace
