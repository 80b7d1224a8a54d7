#include "app/main_window_rules.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <vector>

#include "app/main_window_ids.h"
#include "hybrid/messages.h"

namespace {

using app::window_choices;

const std::vector<int> radios = {IDC_SOURCE_FILE, IDC_SOURCE_DRIVE, IDC_KIND_FLOPPY, IDC_KIND_SCSI,
                                 IDC_KIND_CDROM,  IDC_TARGET_ISO,   IDC_TARGET_HFS};
const std::vector<int> browse_buttons = {IDC_BROWSE_SOURCE_FILE, IDC_BROWSE_FLOPPY, IDC_BROWSE_SCSI,
                                         IDC_BROWSE_CDROM,       IDC_BROWSE_ISO,    IDC_BROWSE_HFS};

std::set<int> enabled(const window_choices& choices) {
  std::set<int> on;
  for (int b : browse_buttons) {
    if (app::browse_enabled(choices, b)) on.insert(b);
  }
  return on;
}

window_choices after(std::initializer_list<int> clicks) {
  window_choices choices;
  for (int control : clicks) EXPECT_TRUE(app::apply_choice(choices, control));
  return choices;
}

TEST(MainWindowRules, StartsWithFileSourceIsoTargetAndNoDeviceKind) {
  const window_choices start;
  EXPECT_EQ(app::source_button(start), IDC_SOURCE_FILE);
  EXPECT_EQ(app::device_button(start), 0);
  EXPECT_EQ(app::target_button(start), IDC_TARGET_ISO);
  EXPECT_EQ(enabled(start), (std::set<int>{IDC_BROWSE_SOURCE_FILE, IDC_BROWSE_ISO}));
}

TEST(MainWindowRules, DeviceKindChecksTheDriveAndEnablesOnlyItsBrowse) {
  const std::map<int, int> browse_of = {{IDC_KIND_FLOPPY, IDC_BROWSE_FLOPPY},
                                        {IDC_KIND_SCSI, IDC_BROWSE_SCSI},
                                        {IDC_KIND_CDROM, IDC_BROWSE_CDROM}};
  for (const auto& [kind, browse] : browse_of) {
    const window_choices c = after({kind});
    EXPECT_EQ(app::source_button(c), IDC_SOURCE_DRIVE) << kind;
    EXPECT_EQ(app::device_button(c), kind);
    EXPECT_EQ(enabled(c), (std::set<int>{browse, IDC_BROWSE_ISO})) << kind;
  }
  // Another kind takes the mark over.
  EXPECT_EQ(app::device_button(after({IDC_KIND_FLOPPY, IDC_KIND_CDROM})), IDC_KIND_CDROM);
}

TEST(MainWindowRules, FileSourceKeepsTheDeviceKindForTheWayBack) {
  window_choices c = after({IDC_KIND_SCSI, IDC_SOURCE_FILE});
  EXPECT_EQ(app::device_button(c), IDC_KIND_SCSI);
  EXPECT_EQ(enabled(c), (std::set<int>{IDC_BROWSE_SOURCE_FILE, IDC_BROWSE_ISO}));
  ASSERT_TRUE(app::apply_choice(c, IDC_SOURCE_DRIVE));
  EXPECT_EQ(enabled(c), (std::set<int>{IDC_BROWSE_SCSI, IDC_BROWSE_ISO}));
}

TEST(MainWindowRules, DriveWithoutAKindEnablesNoDeviceBrowse) {
  EXPECT_EQ(enabled(after({IDC_SOURCE_DRIVE})), std::set<int>{IDC_BROWSE_ISO});
}

TEST(MainWindowRules, TargetsSwapTheirBrowseButtons) {
  EXPECT_EQ(enabled(after({IDC_TARGET_HFS})),
            (std::set<int>{IDC_BROWSE_SOURCE_FILE, IDC_BROWSE_HFS}));
  EXPECT_EQ(enabled(after({IDC_TARGET_HFS, IDC_TARGET_ISO})),
            (std::set<int>{IDC_BROWSE_SOURCE_FILE, IDC_BROWSE_ISO}));
}

TEST(MainWindowRules, OtherControlsAreNoChoice) {
  for (int control : {IDC_MAIN_START, IDC_BROWSE_SCSI, IDC_EDIT_ISO, 2, 0}) {
    window_choices c;
    EXPECT_FALSE(app::apply_choice(c, control)) << control;
    EXPECT_EQ(app::source_button(c), IDC_SOURCE_FILE);
  }
}

// The window's enabling written as a list of actions per click, step by step;
// whatever order the user clicks in, the rule must land on the same buttons.
struct action_table {
  std::map<int, bool> on{{IDC_BROWSE_SOURCE_FILE, true}, {IDC_BROWSE_FLOPPY, false},
                         {IDC_BROWSE_SCSI, false},       {IDC_BROWSE_CDROM, false},
                         {IDC_BROWSE_ISO, true},         {IDC_BROWSE_HFS, false}};
  int kind = 0;

  void click(int control) {
    switch (control) {
      case IDC_SOURCE_FILE:
        on[501] = true;
        on[502] = on[503] = on[504] = false;
        break;
      case IDC_SOURCE_DRIVE:
        on[501] = false;
        if (kind == IDC_KIND_FLOPPY) on[502] = true;
        if (kind == IDC_KIND_SCSI) on[503] = true;
        if (kind == IDC_KIND_CDROM) on[504] = true;
        break;
      case IDC_KIND_FLOPPY:
      case IDC_KIND_SCSI:
      case IDC_KIND_CDROM:
        kind = control;
        on[501] = false;
        on[502] = control == IDC_KIND_FLOPPY;
        on[503] = control == IDC_KIND_SCSI;
        on[504] = control == IDC_KIND_CDROM;
        break;
      case IDC_TARGET_ISO:
        on[505] = true;
        on[506] = false;
        break;
      case IDC_TARGET_HFS:
        on[505] = false;
        on[506] = true;
        break;
    }
  }
  std::set<int> enabled() const {
    std::set<int> out;
    for (const auto& [button, state] : on) {
      if (state) out.insert(button);
    }
    return out;
  }
};

TEST(MainWindowRules, AgreesWithTheActionTableForEveryFourClicks) {
  const std::size_t n = radios.size();
  for (std::size_t code = 0; code < n * n * n * n; ++code) {
    window_choices c;
    action_table table;
    std::size_t rest = code;
    for (int step = 0; step < 4; ++step, rest /= n) {
      const int control = radios[rest % n];
      app::apply_choice(c, control);
      table.click(control);
      ASSERT_EQ(enabled(c), table.enabled()) << "sequence " << code << " step " << step;
    }
  }
}

// Which edit boxes a request reads, and what it reads from them.
struct edit_boxes {
  std::map<int, std::string> text;
  std::vector<int> read;
  std::function<std::string(int)> reader() {
    return [this](int box) {
      read.push_back(box);
      return text[box];
    };
  }
};

TEST(JobRequest, FileSourceReadsOnlyTheSourceAndTargetBoxes) {
  edit_boxes boxes;
  boxes.text = {{IDC_EDIT_SOURCE_FILE, "in.hfs"},
                {IDC_EDIT_ISO, "cd.iso"},
                {IDC_EDIT_HFS, "out.hfs"},
                {IDC_EDIT_SCSI, "A010"}};
  // A device kind left marked under the file source is not looked at.
  const hybrid::job_request r =
      app::make_job_request(after({IDC_KIND_SCSI, IDC_SOURCE_FILE}), boxes.reader());
  EXPECT_EQ(r.source, hybrid::source_kind::file);
  EXPECT_EQ(r.source_path, "in.hfs");
  EXPECT_EQ(r.device_text, "");
  EXPECT_EQ(r.target, hybrid::target_kind::iso_image);
  EXPECT_EQ(r.target_path, "cd.iso");
  EXPECT_EQ(boxes.read, (std::vector<int>{IDC_EDIT_SOURCE_FILE, IDC_EDIT_ISO}));
}

TEST(JobRequest, DriveSourceReadsTheMarkedKindsBox) {
  edit_boxes boxes;
  boxes.text = {{IDC_EDIT_FLOPPY, "B:"},
                {IDC_EDIT_SCSI, "A020"},
                {IDC_EDIT_CDROM, "C150"},
                {IDC_EDIT_HFS, "out.hfs"}};
  const hybrid::job_request r =
      app::make_job_request(after({IDC_KIND_CDROM, IDC_TARGET_HFS}), boxes.reader());
  EXPECT_EQ(r.source, hybrid::source_kind::drive);
  EXPECT_EQ(r.device, hybrid::device_kind::cdrom);
  EXPECT_EQ(r.device_text, "C150");
  EXPECT_EQ(r.source_path, "");
  EXPECT_EQ(r.target, hybrid::target_kind::hfs_image);
  EXPECT_EQ(r.target_path, "out.hfs");
  EXPECT_EQ(boxes.read, (std::vector<int>{IDC_EDIT_CDROM, IDC_EDIT_HFS}));
}

TEST(JobRequest, DriveWithoutAKindNamesNoDevice) {
  edit_boxes boxes;
  boxes.text = {{IDC_EDIT_FLOPPY, "A:"}, {IDC_EDIT_ISO, "cd.iso"}};
  const hybrid::job_request r = app::make_job_request(after({IDC_SOURCE_DRIVE}), boxes.reader());
  EXPECT_EQ(r.device, hybrid::device_kind::none);
  EXPECT_EQ(r.device_text, "");
  EXPECT_EQ(boxes.read, std::vector<int>{IDC_EDIT_ISO});
}

// A specifier is cut to its buffer; a path is never cut, since a shorter
// path may name another file.
TEST(JobRequest, SpecifiersAreCutPathsAreTakenWhole) {
  edit_boxes boxes;
  boxes.text = {{IDC_EDIT_SOURCE_FILE, std::string(300, 'h')},
                {IDC_EDIT_ISO, std::string(256, 'i')},
                {IDC_EDIT_FLOPPY, std::string(40, 'f')}};
  const hybrid::job_request file = app::make_job_request(window_choices{}, boxes.reader());
  EXPECT_EQ(file.source_path, std::string(300, 'h'));
  EXPECT_EQ(file.target_path, std::string(256, 'i'));
  const hybrid::job_request drive = app::make_job_request(after({IDC_KIND_FLOPPY}), boxes.reader());
  EXPECT_EQ(drive.device_text, std::string(31, 'f'));
}

TEST(CdromBrowse, TheDriveCountDecidesWhetherThePickerRuns) {
  int picker_runs = 0;
  auto picker = [&](int result, std::string text) {
    return [&picker_runs, result, text](std::string& out) {
      ++picker_runs;
      out = text;
      return result;
    };
  };
  auto drives = [](int count, std::string text) {
    return [count, text](std::string& out) {
      out = text;
      return count;
    };
  };
  std::string specifier = "stale";
  // No drive: the box is emptied.
  EXPECT_TRUE(app::browse_cdrom(specifier, drives(0, ""), picker(0, "C000")));
  EXPECT_EQ(specifier, "");
  // One drive: taken without a question.
  EXPECT_TRUE(app::browse_cdrom(specifier, drives(1, "C130"), picker(0, "C000")));
  EXPECT_EQ(specifier, "C130");
  EXPECT_EQ(picker_runs, 0);
  // Several: the picker's result replaces the count.
  EXPECT_TRUE(app::browse_cdrom(specifier, drives(2, ""), picker(0, "C250")));
  EXPECT_EQ(specifier, "C250");
  EXPECT_FALSE(app::browse_cdrom(specifier, drives(3, ""), picker(-1, "")));
  EXPECT_FALSE(app::browse_cdrom(specifier, drives(2, ""), picker(-2, "")));
  EXPECT_EQ(picker_runs, 3);
}

// During a job only Start (to its refusal) and the ways out (to the stop
// question) do anything: no radio button changes and no Browse or Help opens.
TEST(MainWindowRules, DuringAJobOnlyStartAndTheWaysOutAct) {
  EXPECT_EQ(app::command_during_job(IDC_MAIN_START), app::during_job::dispatch);
  EXPECT_EQ(app::command_during_job(IDC_MAIN_EXIT), app::during_job::ask_stop);
  EXPECT_EQ(app::command_during_job(2), app::during_job::ask_stop);  // Escape, close box
  std::vector<int> others = radios;
  others.insert(others.end(), browse_buttons.begin(), browse_buttons.end());
  others.insert(others.end(), {IDC_MAIN_HELP, IDC_EDIT_SOURCE_FILE, IDC_EDIT_HFS, 0});
  for (int control : others) {
    EXPECT_EQ(app::command_during_job(control), app::during_job::ignore) << control;
  }
}

}  // namespace
