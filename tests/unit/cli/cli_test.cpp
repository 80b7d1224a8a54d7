#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <iterator>
#include <set>
#include <sstream>
#include <string>

#include "cli/device_list.h"
#include "cli/image_report.h"
#include "cli/json_writer.h"
#include "cli/options.h"
#include "cli/terminal_questions.h"
#include "fake_bus.h"
#include "hybrid/hybrid_layout.h"
#include "hybrid/io/memory_stream.h"
#include "hybrid/messages.h"
#include "hybrid/printable.h"
#include "json_check.h"
#include "test_support.h"

namespace {

namespace text = hybrid::text;

std::optional<cli::options> parse(std::vector<std::string> args, std::string* error = nullptr) {
  std::string ignored;
  return cli::parse_options(args, error ? *error : ignored);
}

TEST(CliOptions, BuildTheRequestTheMainWindowWould) {
  auto file_job =
      parse({"--from-file", "vol.img", "--to-iso", "cd.iso", "--partition", "all", "--yes"});
  ASSERT_TRUE(file_job);
  EXPECT_EQ(file_job->request.source, hybrid::source_kind::file);
  EXPECT_EQ(file_job->request.source_path, "vol.img");
  EXPECT_EQ(file_job->request.target, hybrid::target_kind::iso_image);
  EXPECT_EQ(file_job->request.target_path, "cd.iso");
  EXPECT_EQ(file_job->answers.partition, hybrid::choice_all);
  EXPECT_TRUE(file_job->answers.yes);

  auto drive_job = parse({"--to-hfs-image", "out.img", "--from-drive", "C130"});
  ASSERT_TRUE(drive_job);
  EXPECT_EQ(drive_job->request.source, hybrid::source_kind::drive);
  EXPECT_EQ(drive_job->request.device, hybrid::device_kind::cdrom);
  EXPECT_EQ(drive_job->request.device_text, "C130");
  EXPECT_EQ(drive_job->request.target, hybrid::target_kind::hfs_image);
  EXPECT_FALSE(drive_job->answers.partition);

  EXPECT_EQ(cli::device_kind_of("A:"), hybrid::device_kind::floppy);
  EXPECT_EQ(cli::device_kind_of("B:"), hybrid::device_kind::floppy);
  EXPECT_EQ(cli::device_kind_of("A050"), hybrid::device_kind::scsi);
  EXPECT_EQ(parse({"--partition", "3", "--from-file", "a", "--to-iso", "b"})->answers.partition, 3);
  EXPECT_EQ(parse({"--version"})->what, cli::options::action::version);
  EXPECT_EQ(parse({"--from-file", "a", "--help"})->what, cli::options::action::help);
}

// --opt=value is --opt value; a value is taken as it is, '=' and all, and
// the words after -- are no options.
TEST(CliOptions, ValuesAfterAnEqualsSignAndTheEndOfTheOptions) {
  auto joined =
      parse({"--from-file=vol=1.img", "--to-iso=cd.iso", "--partition=Games", "-q", "--dry-run"});
  ASSERT_TRUE(joined);
  EXPECT_EQ(joined->request.source_path, "vol=1.img");
  EXPECT_EQ(joined->request.target_path, "cd.iso");
  EXPECT_EQ(joined->answers.partition_name, "Games");
  EXPECT_FALSE(joined->answers.partition);
  EXPECT_TRUE(joined->dry_run);
  EXPECT_EQ(joined->talk, cli::verbosity::quiet);

  auto dashed = parse({"--from-file", "--odd name", "--to-iso", "-", "--verbose", "--"});
  ASSERT_TRUE(dashed);
  EXPECT_EQ(dashed->request.source_path, "--odd name");
  EXPECT_EQ(dashed->request.target_path, "-");
  EXPECT_EQ(dashed->talk, cli::verbosity::verbose);
  EXPECT_EQ(parse({"--from-file", "a", "--to-iso", "b"})->talk, cli::verbosity::normal);

  auto undo = parse({"--undo=cd.iso", "--yes"});
  ASSERT_TRUE(undo);
  EXPECT_EQ(undo->what, cli::options::action::undo);
  EXPECT_EQ(undo->request.target_path, "cd.iso");
  EXPECT_EQ(parse({"--list-devices=cdrom"})->list_filter, 5);
  // After --, even --help is a word, not an option.
  std::string error;
  EXPECT_FALSE(parse({"--", "--help"}, &error));
  EXPECT_EQ(error, text::unexpected_argument("--help"));
}

TEST(CliOptions, UsageErrorsSayWhy) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{}, text::no_source},
      {{"--from-file", "a"}, text::no_target},
      {{"--from-file", "a", "--from-drive", "A050", "--to-iso", "b"}, text::one_source},
      {{"--from-file", "a", "--to-iso", "b", "--to-hfs-image", "c"}, text::one_target},
      {{"--undo", "a", "--to-iso", "b"}, text::one_target},
      {{"--undo", "a", "--from-file", "b"}, text::undo_no_source},
      {{"--undo", "a", "--dry-run"}, text::undo_no_dry_run},
      {{"--yes=no"}, text::takes_no_value("--yes")},
      {{"--from-file", "a", "--to-iso", "b", "--", "c"}, text::unexpected_argument("c")},
      {{"--from-file", "a", "cd.iso"}, text::unexpected_argument("cd.iso")},
      {{"--quiet", "--verbose", "--from-file", "a", "--to-iso", "b"}, text::quiet_or_verbose},
      {{"--list-devices=tape"}, text::list_devices_kind},
      {{"--from-file"}, text::needs_value("--from-file")},
      {{"--partition", "8"}, text::partition_value},
      {{"--partition", "-1"}, text::partition_value},
      {{"--partition="}, text::partition_value},
      {{"--frobnicate"}, text::unknown_option("--frobnicate")},
      {{"--attach"}, text::needs_value("--attach")},
      {{"--attach", "disk:0:9=d.img", "--from-file", "a", "--to-iso", "b"},
       text::attach_refused("target '9' in 'disk:0:9=d.img' is not 0 to 7")},
      {{"--list-devices", "--from-drive", "A050"}, text::list_devices_alone},
      {{"--info", "a.iso", "--to-iso", "b"}, text::info_no_target},
      {{"--info"}, text::info_one_image},
      {{"--info", "a.iso", "--from-drive", "C030"}, text::info_one_image},
      {{"--json", "--from-file", "a", "--to-iso", "b"}, text::json_needs_info},
  };
  // Sources and targets that make no job: the jobs are listed after the reason.
  const std::vector<std::string> pairs = {text::no_source, text::no_target, text::one_source,
                                          text::one_target, text::undo_no_source};
  const std::string jobs = "\n" + text::jobs_that_work({});
  for (const auto& [args, message] : cases) {
    std::string error;
    EXPECT_FALSE(parse(args, &error));
    const bool pair = std::find(pairs.begin(), pairs.end(), message) != pairs.end();
    EXPECT_EQ(error.substr(0, error.find(jobs)), message);
    EXPECT_EQ(error.find(jobs) == message.size(), pair) << error;
  }
}

// --yes answers every question; each of the others one kind alone, and
// --media the size the capacity question measures against.
TEST(CliOptions, EachQuestionHasAnAnswerOfItsOwn) {
  using kind = hybrid::warning_kind;
  const struct {
    const char* option;
    kind answered;
  } answers[] = {
      {"--accept-size", kind::capacity},
      {"--overwrite-system-area", kind::system_area},
      {"--remove-after-volume", kind::bytes_after_volume},
      {"--zero-system-area", kind::undo_system_area},
      {"--remove-after-data", kind::undo_bytes_after},
  };
  for (const auto& a : answers) {
    const auto parsed = parse({a.option, "--undo", "cd.iso"});
    ASSERT_TRUE(parsed) << a.option;
    EXPECT_EQ(parsed->answers.approved, std::set<kind>{a.answered});
    EXPECT_FALSE(parsed->answers.yes);
    EXPECT_STREQ(cli::answer_option(a.answered), a.option);
  }
  const std::pair<const char*, std::uint64_t> media[] = {
      {"cd74", 681984000}, {"cd80", 737280000}, {"dvd", 4700372992}, {"none", UINT64_MAX}};
  for (const auto& [name, bytes] : media) {
    EXPECT_EQ(parse({"--media", name, "--undo", "cd.iso"})->answers.medium_bytes, bytes) << name;
  }
  EXPECT_FALSE(parse({"--undo", "cd.iso"})->answers.medium_bytes);
}

TEST(CliOptions, AttachIsRepeatableAndKeepsItsOrder) {
  auto attached = parse({"--attach", "cdrom:1:3=cd.iso", "--from-drive", "C130", "--attach",
                         "disk:0:5=disk.img", "--to-hfs-image", "out.img"});
  ASSERT_TRUE(attached);
  ASSERT_EQ(attached->attached.size(), 2u);
  EXPECT_EQ(attached->attached[0].kind, scsi::sim_device::kind::cdrom);
  EXPECT_EQ(attached->attached[0].host, 1);
  EXPECT_EQ(attached->attached[0].target, 3);
  EXPECT_EQ(attached->attached[0].path, "cd.iso");
  EXPECT_EQ(attached->attached[1].kind, scsi::sim_device::kind::disk);
  EXPECT_EQ(attached->attached[1].path, "disk.img");
  EXPECT_TRUE(parse({"--from-file", "a", "--to-iso", "b"})->attached.empty());
}

// A terminal stand-in: what the user types, and what the program printed.
struct terminal {
  explicit terminal(const std::string& typed) {
    in = std::tmpfile();
    std::fputs(typed.c_str(), in);
    std::rewind(in);
    err = std::tmpfile();
  }
  ~terminal() {
    std::fclose(in);
    std::fclose(err);
  }
  std::string printed() {
    std::rewind(err);
    std::string text;
    for (int c; (c = std::fgetc(err)) != EOF;) text.push_back(static_cast<char>(c));
    return text;
  }
  std::FILE* in;
  std::FILE* err;
};

hybrid::partition_list two_listed_partitions() {
  hybrid::partition_list list;
  hybrid::clear_partition_list(list);
  std::snprintf(list[0].name, sizeof list[0].name, "%s", "System");
  list[0].block_count = 100;
  std::snprintf(list[1].name, sizeof list[1].name, "%s", "Games");
  list[1].block_count = 0;
  return list;
}

// --partition NAME: the one row with exactly that name; none or several
// cancel with the rows listed, also when --quiet kept the list back.
TEST(TerminalQuestions, PartitionByName) {
  hybrid::partition_list twins = two_listed_partitions();
  std::snprintf(twins[2].name, sizeof twins[2].name, "%s", "Games");
  twins[2].block_count = 5;
  const struct {
    const char* name;
    hybrid::partition_list list;
    bool quiet;
    int row;
    std::string printed;  // empty: nothing
  } cases[] = {
      {"Games", two_listed_partitions(), false, 1, ""},
      {"Games", two_listed_partitions(), true, 1, ""},
      {"games", two_listed_partitions(), false, hybrid::choice_cancelled,
       text::partition_name_refused(0, "games") + "\n"},
      {"Nope", two_listed_partitions(), true, hybrid::choice_cancelled, "1 Games"},
      {"Games", twins, false, hybrid::choice_cancelled,
       text::partition_name_refused(2, "Games") + "\n"},
  };
  for (const auto& c : cases) {
    terminal t("");
    cli::preset_answers answers;
    answers.partition_name = c.name;
    cli::terminal_questions ask(answers, t.in, t.err, true, false, c.quiet);
    EXPECT_EQ(ask.choose_partition(c.list), c.row) << c.name;
    const std::string printed = t.printed();
    if (c.printed.empty()) {
      EXPECT_EQ(printed, "");
    } else {
      EXPECT_NE(printed.find(c.printed), std::string::npos) << printed;
    }
  }
}

// --quiet: a question answered from the options is not shown; one answered
// Cancel is, as it is why nothing was done.
TEST(TerminalQuestions, QuietShowsOnlyWhatStoppedTheJob) {
  terminal t("");
  cli::preset_answers answers;
  answers.yes = true;
  cli::terminal_questions ok(answers, t.in, t.err, false, false, true);
  EXPECT_TRUE(ok.warning("Too big."));
  EXPECT_EQ(t.printed(), "");
  cli::terminal_questions cancel({}, t.in, t.err, false, false, true);
  EXPECT_FALSE(cancel.warning("Too big."));
  EXPECT_EQ(t.printed(), std::string("Too big.\n") + text::answered_cancel + "\n");
}

TEST(TerminalQuestions, PresetAnswersAndCancelWhenNobodyIsThere) {
  {
    terminal t("");
    cli::terminal_questions ask({}, t.in, t.err, false, false);
    EXPECT_FALSE(ask.warning("Too big."));
    EXPECT_EQ(ask.choose_partition(two_listed_partitions()), hybrid::choice_cancelled);
    const std::string printed = t.printed();
    EXPECT_NE(printed.find(std::string("Too big.\n") + text::answered_cancel + "\n"),
              std::string::npos);
    EXPECT_NE(printed.find("0 System"), std::string::npos);
    EXPECT_NE(printed.find("1 Games"), std::string::npos);
    EXPECT_NE(printed.find(" 0.1\n"), std::string::npos);  // 100 blocks in MB
    EXPECT_NE(printed.find(text::partition_unanswered(1)), std::string::npos);
  }
  {
    terminal t("");
    cli::preset_answers answers;
    answers.yes = true;
    answers.partition = 1;
    cli::terminal_questions ask(answers, t.in, t.err, false, false);
    EXPECT_TRUE(ask.warning("Too big."));
    EXPECT_EQ(ask.choose_partition(two_listed_partitions()), 1);
  }
  {
    terminal t("");
    cli::preset_answers answers;
    answers.partition = 2;  // only rows 0 and 1 are offered
    cli::terminal_questions ask(answers, t.in, t.err, false, false);
    EXPECT_EQ(ask.choose_partition(two_listed_partitions()), hybrid::choice_cancelled);
    EXPECT_NE(t.printed().find(text::no_such_partition(2)), std::string::npos);
  }
}

// The menu shows each volume's name and size; --partition NAME takes a
// volume's name when no partition carries it.
TEST(TerminalQuestions, MenuNamesTheVolumes) {
  hybrid::partition_list list = two_listed_partitions();
  list[0].block_count = 2880;  // 1,474,560 bytes
  const hybrid::volume_names volumes = {"Demo Mac", "Games"};
  {
    terminal t("");
    cli::terminal_questions ask({}, t.in, t.err, false, false);
    EXPECT_EQ(ask.choose_partition_named(list, volumes), hybrid::choice_cancelled);
    // Each row: the row, the partition's name, the volume's, the size in MB.
    std::istringstream printed(t.printed());
    std::vector<std::vector<std::string>> rows;
    for (std::string line; std::getline(printed, line);) {
      std::istringstream words(line);
      rows.emplace_back(std::istream_iterator<std::string>(words),
                        std::istream_iterator<std::string>());
    }
    ASSERT_GE(rows.size(), 4u);
    EXPECT_EQ(rows[2], (std::vector<std::string>{"0", "System", "Demo", "Mac", "1.5"}));
    EXPECT_EQ(rows[3], (std::vector<std::string>{"1", "Games", "Games", "0.0"}));
  }
  const struct {
    const char* name;
    hybrid::volume_names volumes;
    int row;
  } by_name[] = {
      {"Demo Mac", volumes, 0},
      {"Games", {"Games", "Other"}, 1},  // the partition's own name first
      {"Same", {"Same", "Same"}, hybrid::choice_cancelled},
  };
  for (const auto& c : by_name) {
    terminal t("");
    cli::preset_answers answers;
    answers.partition_name = c.name;
    cli::terminal_questions ask(answers, t.in, t.err, false, false);
    EXPECT_EQ(ask.choose_partition_named(list, c.volumes), c.row) << c.name;
    EXPECT_EQ(t.printed().empty(), c.row != hybrid::choice_cancelled) << c.name;
  }
}

// Each question is answered by --yes or by its own option; a person at the
// prompt answers o/ok/y/yes or c/cancel/n/no, and the end of input cancels.
TEST(TerminalQuestions, AnswersOfEachKind) {
  using kind = hybrid::warning_kind;
  cli::preset_answers size_only;
  size_only.approved = {kind::capacity};
  terminal preset("");
  cli::terminal_questions ask(size_only, preset.in, preset.err, false, false);
  EXPECT_TRUE(ask.warning_about(kind::capacity, "Too big."));
  EXPECT_FALSE(ask.warning_about(kind::system_area, "Boot record."));
  EXPECT_EQ(preset.printed(), "Too big.\n" + text::answered_ok_by("--accept-size") +
                                  "\nBoot record.\n" +
                                  text::answered_cancel_for("--overwrite-system-area") + "\n");

  const std::pair<const char*, bool> typed[] = {
      {"y\n", true},   {"YES\n", true}, {"Ok\n", true},   {"n\n", false},
      {"No\n", false}, {"c\n", false},  {"?\ny\n", true}, {"", false},
  };
  for (const auto& [line, ok] : typed) {
    terminal t(line);
    cli::terminal_questions person({}, t.in, t.err, true, false);
    EXPECT_EQ(person.warning_about(kind::capacity, "Too big."), ok) << line;
    const bool no_input = t.printed().find(text::answered_no_input) != std::string::npos;
    EXPECT_EQ(no_input, *line == '\0') << line;
  }
}

TEST(TerminalQuestions, AsksAtThePromptUntilAnswered) {
  terminal t("maybe\no\n\n9\nall\n1\n");
  cli::terminal_questions ask({}, t.in, t.err, true, false);
  EXPECT_TRUE(ask.warning("Too big."));
  EXPECT_EQ(ask.choose_partition(two_listed_partitions()), hybrid::choice_all);
  EXPECT_EQ(ask.choose_partition(two_listed_partitions()), 1);
  EXPECT_NE(t.printed().find(text::no_partition_chosen), std::string::npos);

  terminal closed("");  // the input ends: Cancel
  cli::terminal_questions gone({}, closed.in, closed.err, true, false);
  EXPECT_FALSE(gone.warning("Too big."));
  EXPECT_EQ(gone.choose_partition(two_listed_partitions()), hybrid::choice_cancelled);
}

// Untrusted text reaches the terminal with a stand-in for each control
// character; valid UTF-8, and the bytes of a Mac name shown as they are, stay.
TEST(Printable, ControlCharactersGetAStandIn) {
  using hybrid::line_breaks;
  const struct {
    std::string text;
    line_breaks breaks;
    std::string shown;
  } cases[] = {
      {"Red\x1b[31m\x07", line_breaks::replace, "Red?[31m?"},
      {"over\rwritten\x7f", line_breaks::replace, "over?written?"},
      {std::string("nul\0tab\t", 8), line_breaks::replace, "nul?tab?"},
      {"two\nlines", line_breaks::replace, "two?lines"},
      {"two\nlines\r\n", line_breaks::keep, "two\nlines?\n"},
      {"csi \x9b"
       "31m",
       line_breaks::replace, "csi ?31m"},                              // a C1 byte alone
      {"\xc2\x9b\xc2\x85", line_breaks::replace, "??"},                // C1 as UTF-8
      {"\xc3\x84pfel caf\xc3\xa9 \xe2\x82\xac", line_breaks::replace,  // U+00C4 ends in 0x84
       "\xc3\x84pfel caf\xc3\xa9 \xe2\x82\xac"},
      {"\x80pfel B\x9f"
       "cher \xa5 \xca",
       line_breaks::replace, "?pfel B?cher \xa5 \xca"},  // Mac Roman bytes
      {"cut \xe2\x82", line_breaks::replace, "cut \xe2?"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(hybrid::printable(c.text, c.breaks), c.shown) << c.text;
  }
}

// Every terminal outlet shows a hostile name without its control
// characters, and keeps the line breaks of its own text.
TEST(TerminalOutput, NamesReadFromImagesAndDevicesCarryNoControlCharacters) {
  const std::string hostile = "Red\x1b[31m\x07\r\x7f\x9b";
  const std::string shown = "Red?[31m????";
  hybrid::partition_list list = two_listed_partitions();
  std::snprintf(list[0].name, sizeof list[0].name, "%s", hostile.c_str());

  hybrid::image_info info;
  info.length = 200 * 512;
  info.iso = {true, hostile, 10, 2048, 10 * 2048, false, false, false};
  info.map = true;
  hybrid::map_entry_info hfs;
  hfs.type = "Apple_HFS", hfs.name = hostile, hfs.hfs = true, hfs.first_block = 64;
  hfs.block_count = 100, hfs.volume.found = hybrid::hfs_volume_info::kind::hfs;
  hfs.volume.name = hostile;
  info.entries = {hfs};
  info.problems.push_back({"x", "The partition \"" + hostile + "\" is odd."});

  const auto at_terminal = [](const std::function<void(cli::terminal_questions&)>& run,
                              cli::preset_answers answers = {}) {
    terminal t("");
    cli::terminal_questions ask(std::move(answers), t.in, t.err, false, false);
    ask.plan_to(t.err);
    run(ask);
    return t.printed();
  };
  cli::preset_answers by_name;
  by_name.partition_name = hostile;
  test::fake_bus bus;
  test::fake_device device = test::device_of({}, true);
  device.vendor = "\x1b[2J\x07";
  device.product = hostile;
  bus.devices[{0, 3}] = device;
  bus.manager_id = "\x1b]0;title\x07";
  test::bus_scope scope(bus);
  hybrid::memory_stream source{
      "source.img",
      test::hfs_image({{"Apple_partition_map", "Apple", 1, 63}, {"Apple_HFS", hostile, 64, 8}},
                      72)};
  hybrid::hybrid_layout merged;
  ASSERT_FALSE(hybrid::layout_merged_map(source, 40960, 72 * 512, merged));
  const std::string report = cli::info_text(info, "cd.iso");
  const std::string devices = cli::device_list_text(-1, {"/dev/sg\x1b"
                                                         "1: no"});

  const struct {
    const char* what;
    std::string printed;
    std::string contains;
  } outlets[] = {
      {"partition menu", at_terminal([&](auto& ask) { ask.choose_partition(list); }),
       "0 " + shown + " "},
      {"--partition NAME",
       at_terminal([&](auto& ask) { ask.choose_partition(two_listed_partitions()); }, by_name),
       text::partition_name_refused(0, shown)},
      {"question",
       at_terminal([&](auto& ask) { ask.warning("Take \"" + hostile + "\"?\nGo on?"); }),
       "Take \"" + shown + "\"?\nGo on?\n" + text::answered_cancel},
      {"message", at_terminal([&](auto& ask) { ask.notice(hostile + "\nAborting..."); }),
       shown + "\nAborting...\n"},
      {"--dry-run plan", at_terminal([&](auto& ask) { ask.show_plan(merged, 40960); }),
       "Apple_HFS  \"" + shown + "\"\n"},
      {"--info", cli::info_text(info, "cd\x1b.iso"),
       "cd?.iso: 102400 bytes\nISO 9660: \"" + shown + "\""},
      {"--info entry", report, "Apple_HFS \"" + shown + "\"\n       volume: HFS \"" + shown + "\""},
      {"--info problem", report, "  - The partition \"" + shown + "\""},
      {"--list-devices header", devices, "Driver: ?]0;title?\n"},
      {"--list-devices row", devices, " 3 ?[2J?    " + shown},
      {"--list-devices reason", devices, "\n/dev/sg?1: no\n"},
  };
  for (const auto& o : outlets) {
    SCOPED_TRACE(o.what);
    EXPECT_NE(o.printed.find(o.contains), std::string::npos) << o.printed;
    EXPECT_EQ(hybrid::printable(o.printed, hybrid::line_breaks::keep), o.printed);
  }
}

}  // namespace

TEST(CliOptions, ListDevicesTakesAnOptionalKind) {
  const std::vector<std::pair<std::vector<std::string>, int>> cases = {
      {{"--list-devices"}, -1},
      {{"--list-devices", "disk"}, -2},
      {{"--attach", "cdrom:0:1=c.img", "--list-devices", "cdrom"}, 5},
  };
  for (const auto& [args, filter] : cases) {
    std::string error;
    const auto parsed = cli::parse_options(args, error);
    ASSERT_TRUE(parsed) << error;
    EXPECT_EQ(parsed->what, cli::options::action::list_devices);
    EXPECT_EQ(parsed->list_filter, filter);
  }
}

TEST(CliOptions, InfoTakesAnImageOrADevice) {
  const struct {
    std::vector<std::string> args;
    std::string path, device;
    bool json;
  } cases[] = {
      {{"--info", "cd.iso"}, "cd.iso", "", false},
      {{"--json", "--info", "cd.iso"}, "cd.iso", "", true},
      {{"--info", "--from-file", "vol.img"}, "vol.img", "", false},
      {{"--attach", "cdrom:0:3=cd.iso", "--info", "--from-drive", "C030", "--json"},
       "",
       "C030",
       true},
  };
  for (const auto& c : cases) {
    std::string error;
    const auto parsed = cli::parse_options(c.args, error);
    ASSERT_TRUE(parsed) << error;
    EXPECT_EQ(parsed->what, cli::options::action::info);
    EXPECT_EQ(parsed->info_path, c.path);
    EXPECT_EQ(parsed->request.device_text, c.device);
    EXPECT_EQ(parsed->json, c.json);
  }
}

// Names come from untrusted bytes: whatever they hold, the JSON is valid
// and says the same.
TEST(JsonWriter, AnyTextIsValidJson) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"plain", "\"plain\""},
      {"quote \" back\\slash", "\"quote \\\" back\\\\slash\""},
      {"line\nbreak\x1b[2J\x7f", "\"line\\u000abreak\\u001b[2J\\u007f\""},
      {"caf\xc3\xa9 \xe2\x84\xa2", "\"caf\xc3\xa9 \xe2\x84\xa2\""},
      {"bad \xff\xc3 \xed\xa0\x80", "\"bad \\ufffd\\ufffd \\ufffd\\ufffd\\ufffd\""},
      {"csi \x9b"
       "31m \x07",
       "\"csi \\ufffd31m \\u0007\""},
  };
  for (const auto& [text, expected] : cases) {
    cli::json_writer json;
    json.value(text);
    EXPECT_EQ(json.text(), expected);
    EXPECT_TRUE(test::valid_json(json.text())) << json.text();
  }
  cli::json_writer nested;
  nested.begin_object().key("a").begin_array().value(1).value(true).null().end_array();
  nested.key("b").begin_object().end_object().end_object();
  EXPECT_EQ(nested.text(), "{\"a\":[1,true,null],\"b\":{}}");
  for (const char* broken : {"{\"a\":1,}", "[1 2]", "\"\x01\"", "{\"a\"}", "01", "[] []"}) {
    EXPECT_FALSE(test::valid_json(broken)) << broken;
  }
}

// Each region in proportion to its bytes, the small ones still seen.
TEST(ImageReport, LayoutIsDrawnToScale) {
  hybrid::image_info info;
  info.length = 1000 * 512;
  info.iso = {true, "CD", 200, 2048, 200 * 2048, false, false, false};
  info.system_area.apple_map = info.map = true;
  hybrid::map_entry_info own, hfs;
  own.type = "Apple_partition_map", own.first_block = 1, own.block_count = 63;
  hfs.type = "Apple_HFS", hfs.hfs = true, hfs.first_block = 800, hfs.block_count = 100;
  hfs.volume.found = hybrid::hfs_volume_info::kind::hfs, hfs.volume.name = "Uno";
  info.entries = {own, hfs};
  const std::string picture = cli::layout_picture(info, 72);
  EXPECT_EQ(picture.size(), 74u);
  EXPECT_EQ(picture, "[map |ISO 9660 ..........................................|HFS Uno|tail ..]");
  EXPECT_NE(cli::info_text(info, "cd.iso").find("Layout: " + picture), std::string::npos);
  EXPECT_TRUE(test::valid_json(cli::info_json(info, "cd\n.iso")));
}

// Found by fuzzing: a reason quoting an argument with a line break ran over
// two lines, and could carry escape sequences to the terminal.
TEST(CliOptions, ReasonsNeverCarryControlCharacters) {
  std::string error;
  EXPECT_FALSE(cli::parse_options({"--\345f\n--to-i\033[2J"}, error));
  EXPECT_EQ(error, "unknown option '--\345f?--to-i?[2J'");
}
