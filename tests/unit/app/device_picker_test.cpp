#include "app/device_picker.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "fake_bus.h"
#include "hybrid/io/memory_stream.h"
#include "hybrid/jobs.h"
#include "hybrid/messages.h"
#include "scsi/device_state.h"
#include "test_support.h"

namespace {

using test::bus_scope;
using test::fake_bus;

// The dialog's rows as the user would see them.
struct shown_rows : app::device_rows {
  struct row {
    bool enabled = false;
    bool marked = false;
    std::string vendor, product, revision;
  };
  std::array<row, app::picker_rows> rows;
  std::string driver;
  bool next = true, preceding = true;  // the template leaves them enabled

  void set_driver_text(const char* text) override { driver = text; }
  void show_row(int target, const scsi::device_row& r) override {
    row& shown = rows[static_cast<std::size_t>(target)];
    shown.enabled = true;
    shown.vendor = r.vendor;
    shown.product = r.product;
    shown.revision = r.revision;
  }
  void clear_row(int target) override { rows[static_cast<std::size_t>(target)] = row{}; }
  void mark_row(int target) override {
    for (std::size_t k = 0; k < rows.size(); ++k) rows[k].marked = k == std::size_t(target);
  }
  void enable_host_buttons(bool n, bool p) override {
    next = n;
    preceding = p;
  }

  std::vector<int> enabled_rows() const {
    std::vector<int> out;
    for (std::size_t k = 0; k < rows.size(); ++k) {
      if (rows[k].enabled) out.push_back(static_cast<int>(k));
    }
    return out;
  }
  int marked_row() const {
    for (std::size_t k = 0; k < rows.size(); ++k) {
      if (rows[k].marked) return static_cast<int>(k);
    }
    return -1;
  }
  // Nothing left over from another host adapter's rows.
  bool rows_clean_except(const std::vector<int>& targets) const {
    for (std::size_t k = 0; k < rows.size(); ++k) {
      if (std::find(targets.begin(), targets.end(), static_cast<int>(k)) != targets.end()) continue;
      const row& r = rows[k];
      if (r.enabled || r.marked || !r.vendor.empty() || !r.product.empty() || !r.revision.empty())
        return false;
    }
    return true;
  }
};

test::fake_device device(int type, std::string vendor, std::uint32_t block_bytes = 512) {
  test::fake_device d;
  d.type = type;
  d.vendor = std::move(vendor);
  d.product = "MODEL";
  d.revision = "1.0";
  d.block_bytes = block_bytes;
  d.data.assign(block_bytes * 16, 0);
  return d;
}

constexpr int disk_type = 0, cdrom_type = 5, optical_type = 7;  // peripheral types

class DevicePicker : public ::testing::Test {
 protected:
  fake_bus bus;
  bus_scope scope{bus};
  shown_rows shown;
  char specifier[32] = {};

  // choose_device's start: the type travels in the buffer's first byte.
  bool open(int type) {
    specifier[0] = static_cast<char>(type & 0xFF);
    app::picker().result = app::picker_done;
    return app::open_picker(shown, specifier);
  }
  int sel_host() const { return scsi::devices().sel_host; }
  int sel_target() const { return scsi::devices().sel_target; }
  int capacity_requests() const {
    int n = 0;
    for (const auto& c : bus.commands()) n += c.op == 0x25;
    return n;
  }
};

TEST_F(DevicePicker, DisksListDiskAndOpticalButNoCdrom) {
  bus.devices[{0, 1}] = device(disk_type, "DISK");
  bus.devices[{0, 3}] = device(cdrom_type, "CDROM");
  bus.devices[{0, 6}] = device(optical_type, "MO");
  ASSERT_TRUE(open(scsi::filter_disks));
  EXPECT_EQ(shown.enabled_rows(), (std::vector<int>{1, 6}));
  EXPECT_EQ(shown.rows[1].vendor, "DISK    ");
  EXPECT_EQ(shown.rows[1].product, "MODEL           ");
  EXPECT_EQ(shown.rows[1].revision, "1.0 ");
  EXPECT_EQ(shown.driver, "FAKE MANAGER");
  // Two devices: nothing is chosen for the user.
  EXPECT_EQ(shown.marked_row(), -1);
  EXPECT_EQ(sel_target(), 255);

  ASSERT_TRUE(open(cdrom_type));
  EXPECT_EQ(shown.enabled_rows(), std::vector<int>{3});
}

TEST_F(DevicePicker, TheOnlyDeviceComesUpChosen) {
  bus.devices[{0, 4}] = device(cdrom_type, "CDROM");
  ASSERT_TRUE(open(cdrom_type));
  EXPECT_EQ(shown.marked_row(), 4);
  EXPECT_EQ(sel_target(), 4);
  // One host adapter: neither host button leads anywhere.
  EXPECT_FALSE(shown.next);
  EXPECT_FALSE(shown.preceding);
}

TEST_F(DevicePicker, HostAdaptersWithoutDevicesArePassedOver) {
  bus.hosts = 3;
  bus.devices[{1, 2}] = device(disk_type, "ONE");
  bus.devices[{1, 5}] = device(disk_type, "TWO");
  ASSERT_TRUE(open(scsi::filter_disks));
  EXPECT_EQ(sel_host(), 1);
  EXPECT_EQ(shown.enabled_rows(), (std::vector<int>{2, 5}));
  EXPECT_TRUE(shown.next);
  EXPECT_TRUE(shown.preceding);
  // Nothing lists devices after it: the last host adapter, with no rows.
  app::next_host(shown);
  EXPECT_EQ(sel_host(), 2);
  EXPECT_TRUE(shown.enabled_rows().empty());
  EXPECT_FALSE(shown.next);
  EXPECT_TRUE(shown.preceding);
}

TEST_F(DevicePicker, NoDeviceAnywhereOnlyBeeps) {
  bus.hosts = 2;
  bus.devices[{0, 0}] = device(cdrom_type, "CDROM");
  ASSERT_TRUE(open(scsi::filter_disks));
  EXPECT_EQ(sel_host(), 1);
  EXPECT_TRUE(shown.enabled_rows().empty());
  EXPECT_EQ(app::confirm_device(), app::confirm_result::nothing_chosen);  // stays open
  EXPECT_EQ(capacity_requests(), 0);
}

TEST_F(DevicePicker, NextHostClearsTheRowsShownBefore) {
  bus.hosts = 2;
  bus.devices[{0, 1}] = device(disk_type, "A1");
  bus.devices[{0, 2}] = device(disk_type, "A2");
  bus.devices[{1, 5}] = device(disk_type, "B5");
  bus.devices[{1, 6}] = device(disk_type, "B6");
  ASSERT_TRUE(open(scsi::filter_disks));
  app::pick_row(shown, 1);
  app::next_host(shown);
  EXPECT_EQ(sel_host(), 1);
  EXPECT_EQ(shown.enabled_rows(), (std::vector<int>{5, 6}));
  EXPECT_TRUE(shown.rows_clean_except({5, 6}));
  EXPECT_EQ(shown.rows[5].vendor, "B5      ");
}

// A choice made on one host adapter must not survive onto another: target 2
// there is another device, and OK would read it without the user seeing it.
TEST_F(DevicePicker, AnotherHostAdapterDropsTheChoiceUnlessItHasOneDevice) {
  bus.hosts = 3;
  bus.devices[{0, 2}] = device(disk_type, "A2");
  bus.devices[{0, 3}] = device(disk_type, "A3");
  bus.devices[{1, 2}] = device(disk_type, "B2");
  bus.devices[{1, 4}] = device(disk_type, "B4");
  bus.devices[{2, 6}] = device(disk_type, "C6");
  ASSERT_TRUE(open(scsi::filter_disks));
  app::pick_row(shown, 2);
  app::next_host(shown);
  EXPECT_EQ(sel_target(), 255);
  EXPECT_EQ(shown.marked_row(), -1);
  app::next_host(shown);
  EXPECT_EQ(sel_target(), 6);
  EXPECT_EQ(shown.marked_row(), 6);
}

TEST_F(DevicePicker, PrecedingHostStepsBackOverHostsWithoutDevices) {
  bus.hosts = 3;
  bus.devices[{0, 1}] = device(disk_type, "A1");
  bus.devices[{0, 3}] = device(disk_type, "A3");
  bus.devices[{2, 5}] = device(disk_type, "C5");
  bus.devices[{2, 7}] = device(disk_type, "C7");
  ASSERT_TRUE(open(scsi::filter_disks));
  app::next_host(shown);  // host adapter 1 lists nothing: on to 2
  ASSERT_EQ(sel_host(), 2);
  ASSERT_EQ(shown.enabled_rows(), (std::vector<int>{5, 7}));
  app::pick_row(shown, 7);

  ASSERT_TRUE(app::preceding_host(shown));
  EXPECT_EQ(sel_host(), 0);
  EXPECT_EQ(shown.enabled_rows(), (std::vector<int>{1, 3}));
  EXPECT_TRUE(shown.rows_clean_except({1, 3}));
  EXPECT_EQ(shown.rows[3].vendor, "A3      ");
  EXPECT_TRUE(shown.next);
  EXPECT_FALSE(shown.preceding);
  EXPECT_EQ(sel_target(), 255);  // the choice stayed with host adapter 2
}

TEST_F(DevicePicker, PrecedingHostWithNothingBeforeChangesNothing) {
  bus.hosts = 2;
  bus.devices[{1, 2}] = device(disk_type, "B2");
  bus.devices[{1, 3}] = device(disk_type, "B3");
  ASSERT_TRUE(open(scsi::filter_disks));
  ASSERT_EQ(sel_host(), 1);
  ASSERT_TRUE(shown.preceding);
  app::pick_row(shown, 3);
  EXPECT_FALSE(app::preceding_host(shown));
  EXPECT_EQ(sel_host(), 1);
  EXPECT_EQ(sel_target(), 3);
  EXPECT_EQ(shown.enabled_rows(), (std::vector<int>{2, 3}));
  EXPECT_EQ(shown.marked_row(), 3);
}

TEST_F(DevicePicker, OkLearnsTheBlockLengthAndWritesTheSpecifier) {
  bus.hosts = 2;
  bus.devices[{1, 3}] = device(cdrom_type, "CDROM", 2048);
  scsi::devices().aspi_unit_size = 512;
  ASSERT_TRUE(open(cdrom_type));
  ASSERT_EQ(app::confirm_device(), app::confirm_result::ended);
  EXPECT_EQ(app::picker().result, app::picker_done);
  EXPECT_STREQ(specifier, "C130");
  EXPECT_EQ(scsi::devices().aspi_unit_size, 2048);

  bus.devices[{0, 6}] = device(optical_type, "MO");
  ASSERT_TRUE(open(scsi::filter_disks));
  ASSERT_EQ(app::confirm_device(), app::confirm_result::ended);
  EXPECT_STREQ(specifier, "A060");
  EXPECT_EQ(scsi::devices().aspi_unit_size, 512);
}

// A specifier has one digit for the host adapter. With 11 or 12 of them
// (the pass-through numbers every port and path), host adapter 10 came out
// as "A:00", a floppy drive, and 11 as "A;..", read as the host adapter
// before. Every choice either names its own device or is refused, and the
// specifier keeps what it held.
TEST_F(DevicePicker, HostAdaptersPastNineAreNeverWrittenAsAnotherDevice) {
  for (const int hosts : {11, 12}) {
    SCOPED_TRACE(hosts);
    bus.hosts = hosts;
    bus.devices.clear();
    for (int host = 0; host < hosts; ++host) bus.devices[{host, host % 8}] = device(disk_type, "D");
    ASSERT_TRUE(open(scsi::filter_disks));
    for (int host = 0; host < hosts; ++host) {
      if (host > 0) app::next_host(shown);
      ASSERT_EQ(sel_host(), host);
      ASSERT_EQ(sel_target(), host % 8);  // the only device, chosen
      std::strcpy(specifier, "kept");
      if (host < scsi::specifier_hosts) {
        ASSERT_EQ(app::confirm_device(), app::confirm_result::ended);
        const std::string named = {'A', static_cast<char>('0' + host),
                                   static_cast<char>('0' + host % 8), '0'};
        EXPECT_EQ(std::string(specifier), named);
      } else {
        EXPECT_EQ(app::confirm_device(), app::confirm_result::host_unnamed);
        EXPECT_STREQ(specifier, "kept");
        EXPECT_NE(hybrid::text::unnamed_host(host).find("host adapter " + std::to_string(host)),
                  std::string::npos);
      }
    }
    EXPECT_FALSE(shown.next);
  }
}

// A job reads with the block length of the device it reads. The sequence
// that went wrong: a disk chosen, then an optical drive of 2048-byte
// sectors, then the disk's specifier typed back; the disk was refused as
// having blocks of 2048 bytes.
TEST_F(DevicePicker, AJobUsesTheBlockLengthOfTheDeviceItReads) {
  auto disk_with_volume = device(disk_type, "DISK");
  disk_with_volume.data = test::hfs_image({{"Apple_partition_map", "Apple", 1, 63},
                                           {"Apple_HFS", "MacOS", 64, 20},
                                           {"Apple_HFS", "Other", 84, 10}},
                                          94);
  bus.devices[{0, 1}] = disk_with_volume;
  bus.devices[{0, 3}] = device(optical_type, "MO", 2048);

  ASSERT_TRUE(open(scsi::filter_disks));
  app::pick_row(shown, 1);
  ASSERT_EQ(app::confirm_device(), app::confirm_result::ended);
  EXPECT_STREQ(specifier, "A010");
  ASSERT_TRUE(open(scsi::filter_disks));
  app::pick_row(shown, 3);
  ASSERT_EQ(app::confirm_device(), app::confirm_result::ended);
  EXPECT_STREQ(specifier, "A030");
  ASSERT_EQ(scsi::devices().aspi_unit_size, 2048);

  test::scripted_questions user;
  user.partition_answer = 0;
  hybrid::memory_stream iso{"cd.iso", test::iso_image(40960)};
  const int asked_before = capacity_requests();
  EXPECT_EQ(test::told(hybrid::hybridize_from_device("A010", iso, user), user), 1);
  EXPECT_TRUE(user.notices.empty());
  EXPECT_EQ(capacity_requests(), asked_before + 1);  // the disk was asked
  EXPECT_EQ(scsi::devices().aspi_unit_size, 512);

  // The device the dialog chose is read with the dialog's answer.
  ASSERT_TRUE(open(scsi::filter_disks));
  app::pick_row(shown, 1);
  ASSERT_EQ(app::confirm_device(), app::confirm_result::ended);
  hybrid::memory_stream image{"out.img"};
  const int asked_by_dialog = capacity_requests();
  EXPECT_EQ(test::told(hybrid::extract_to_hfs_image("A010", image, user), user), 1);
  EXPECT_EQ(capacity_requests(), asked_by_dialog);
  EXPECT_EQ(image.bytes().size(), (64u + 20) * 512);
}

TEST_F(DevicePicker, OkWithASilentDeviceGivesUpAfterTenTries) {
  bus.devices[{0, 2}] = device(disk_type, "GONE");
  ASSERT_TRUE(open(scsi::filter_disks));
  bus.devices.clear();  // the device went away after the scan
  scsi::devices().aspi_unit_size = 1024;
  ASSERT_EQ(app::confirm_device(), app::confirm_result::ended);
  EXPECT_EQ(app::picker().result, app::picker_no_capacity);
  EXPECT_EQ(capacity_requests(), 10);
  EXPECT_EQ(static_cast<std::uint8_t>(specifier[0]), 254);  // not written
  EXPECT_EQ(scsi::devices().aspi_unit_size, 1024);
}

TEST_F(DevicePicker, CancelForgetsHostAndTargetCloseOnlyTheTarget) {
  bus.hosts = 2;
  bus.devices[{1, 4}] = device(disk_type, "B4");
  ASSERT_TRUE(open(scsi::filter_disks));
  app::cancel_picker();
  EXPECT_EQ(app::picker().result, app::picker_cancelled);
  EXPECT_EQ(sel_host(), 255);
  EXPECT_EQ(sel_target(), 255);

  ASSERT_TRUE(open(scsi::filter_disks));
  app::close_picker();
  EXPECT_EQ(app::picker().result, app::picker_cancelled);
  EXPECT_EQ(sel_host(), 1);
  EXPECT_EQ(sel_target(), 255);
}

TEST_F(DevicePicker, NoHostAdapterEndsAtOnceWithNothingChosen) {
  bus.hosts = 0;
  EXPECT_FALSE(open(cdrom_type));
  EXPECT_EQ(app::picker().result, app::picker_cancelled);
  EXPECT_STREQ(specifier, "");
}

TEST_F(DevicePicker, AFullTableShowsTheHostAdaptersItHolds) {
  bus.hosts = 4;
  for (int host = 0; host < 4; ++host) {
    for (int target = 0; target < 8; ++target) bus.devices[{host, target}] = device(disk_type, "D");
  }
  ASSERT_TRUE(open(scsi::filter_any));
  app::next_host(shown);
  app::next_host(shown);
  EXPECT_EQ(shown.enabled_rows().size(), 5u);  // the third group lost rows to the end marker
  app::next_host(shown);                       // the fourth has no group at all
  EXPECT_EQ(sel_host(), 3);
  EXPECT_TRUE(shown.enabled_rows().empty());
  EXPECT_EQ(shown.driver, "");
  EXPECT_FALSE(shown.next);
}

}  // namespace
