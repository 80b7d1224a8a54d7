#include "app/floppy_choice.h"

#include <gtest/gtest.h>

#include "app/floppy_dialog_ids.h"
#include "scsi/device_state.h"

namespace {

constexpr std::uint32_t drive_a = 1u << 0;
constexpr std::uint32_t drive_b = 1u << 1;
constexpr std::uint32_t drive_c = 1u << 2;

class FloppyChoice : public ::testing::Test {
 protected:
  void SetUp() override { scsi::reset_device_state(); }
  int asked = 0;
  // The dialog, answered by pressing `control`; its end code is the answer.
  std::function<int()> press(int control) {
    return [this, control] {
      ++asked;
      return *app::floppy_dialog_command(control);
    };
  }
};

TEST_F(FloppyChoice, OnlyDrivesAAndBCount) {
  EXPECT_EQ(app::floppy_drive_count(0), 0);
  EXPECT_EQ(app::floppy_drive_count(drive_c), 0);
  EXPECT_EQ(app::floppy_drive_count(drive_b | drive_c), 1);
  EXPECT_EQ(app::floppy_drive_count(drive_a | drive_b), 2);
  EXPECT_EQ(app::floppy_drive_count(0xFFFFFFFFu), 2);
}

TEST_F(FloppyChoice, TwoDrivesAskAndWriteTheChosenOne) {
  const app::floppy_choice b =
      app::choose_floppy_drive(drive_a | drive_b | drive_c, press(IDC_FLOPPY_DRIVE_B));
  EXPECT_EQ(b.result, 1);
  EXPECT_EQ(b.drive_text, "B:");
  const app::floppy_choice a =
      app::choose_floppy_drive(drive_a | drive_b, press(IDC_FLOPPY_DRIVE_A));
  EXPECT_EQ(a.drive_text, "A:");
  EXPECT_EQ(asked, 2);
}

TEST_F(FloppyChoice, CancelAndEscapeLeaveTheBoxAndTheDrive) {
  scsi::devices().sel_target = 1;
  for (int control : {IDC_FLOPPY_CANCEL, 2}) {
    const app::floppy_choice c = app::choose_floppy_drive(drive_a | drive_b, press(control));
    EXPECT_EQ(c.result, -1);
    EXPECT_FALSE(c.drive_text.has_value());
    EXPECT_EQ(scsi::devices().sel_target, 1);
  }
}

TEST_F(FloppyChoice, CloseBoxForgetsTheDrive) {
  scsi::devices().sel_target = 1;
  const app::floppy_choice c =
      app::choose_floppy_drive(drive_a | drive_b, [] { return app::floppy_dialog_closed(); });
  EXPECT_EQ(c.result, -1);
  EXPECT_FALSE(c.drive_text.has_value());
  EXPECT_EQ(scsi::devices().sel_target, 255);
}

TEST_F(FloppyChoice, ADialogThatCannotBeShownIsACancel) {
  const app::floppy_choice c = app::choose_floppy_drive(drive_a | drive_b, [] { return -1; });
  EXPECT_EQ(c.result, -1);
  EXPECT_FALSE(c.drive_text.has_value());
}

TEST_F(FloppyChoice, OneDriveIsAlwaysAWithoutAQuestion) {
  // The device picker left a SCSI target in the shared byte.
  scsi::devices().sel_target = 6;
  for (std::uint32_t mask : {drive_a, drive_b, drive_b | drive_c}) {
    const app::floppy_choice c = app::choose_floppy_drive(mask, press(IDC_FLOPPY_DRIVE_B));
    EXPECT_EQ(c.result, 1);
    EXPECT_EQ(c.drive_text, "A:");
  }
  EXPECT_EQ(asked, 0);
}

TEST_F(FloppyChoice, NoDriveStillWritesA) {
  scsi::devices().sel_target = 3;
  const app::floppy_choice c = app::choose_floppy_drive(drive_c, press(IDC_FLOPPY_DRIVE_B));
  EXPECT_EQ(c.result, -1);
  EXPECT_EQ(c.drive_text, "A:");
  EXPECT_EQ(asked, 0);
}

TEST_F(FloppyChoice, DialogIgnoresOtherControls) {
  scsi::devices().sel_target = 0;
  EXPECT_FALSE(app::floppy_dialog_command(1).has_value());  // Enter goes to Cancel, not IDOK
  EXPECT_FALSE(app::floppy_dialog_command(999).has_value());
  EXPECT_EQ(scsi::devices().sel_target, 0);
}

}  // namespace
