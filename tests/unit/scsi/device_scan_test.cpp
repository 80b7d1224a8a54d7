#include "scsi/device_scan.h"

#include <gtest/gtest.h>

#include "fake_bus.h"
#include "scsi/block_reader.h"

namespace {

using test::bus_scope;
using test::fake_bus;

test::fake_device device(int type, std::string vendor, std::string product) {
  test::fake_device d;
  d.type = type;
  d.vendor = std::move(vendor);
  d.product = std::move(product);
  d.revision = "1.0";
  return d;
}

TEST(TypeFilter, ListsTheKindsAsked) {
  EXPECT_TRUE(scsi::passes_type_filter(-2, 0, "", ""));
  EXPECT_TRUE(scsi::passes_type_filter(-2, 7, "", ""));
  EXPECT_FALSE(scsi::passes_type_filter(-2, 5, "", ""));
  EXPECT_TRUE(scsi::passes_type_filter(5, 5, "", ""));
  EXPECT_FALSE(scsi::passes_type_filter(5, 0, "", ""));
  EXPECT_TRUE(scsi::passes_type_filter(-1, 9, "", ""));
  EXPECT_TRUE(scsi::passes_type_filter(-3, 0, "Syquest", "x"));
  EXPECT_TRUE(scsi::passes_type_filter(-3, 0, "ACME", "sq3270"));
  EXPECT_FALSE(scsi::passes_type_filter(-3, 5, "SYQUEST", "SQ"));
  EXPECT_FALSE(scsi::passes_type_filter(-3, 0, "", ""));  // empty texts never pass
}

TEST(ScanDevices, GroupsDevicesUnderTheirHostAdapter) {
  fake_bus bus;
  bus_scope scope{bus};
  bus.hosts = 2;
  bus.devices[{0, 2}] = device(0, "QUANTUM", "FIREBALL");
  bus.devices[{0, 4}] = device(5, "SONY", "CDU-76S");
  bus.devices[{1, 6}] = device(7, "FUJITSU", "M2512A");
  scsi::device_table table;
  EXPECT_EQ(scsi::scan_devices(table, -2), 0x0202);
  EXPECT_EQ(table[0].host, 0);
  EXPECT_EQ(table[0].target, 255);
  EXPECT_STREQ(table[0].product, "FAKE MANAGER");
  EXPECT_EQ(table[1].target, 2);
  EXPECT_STREQ(table[1].vendor, "QUANTUM ");  // as the device pads it
  EXPECT_STREQ(table[1].product, "FIREBALL        ");
  EXPECT_STREQ(table[1].revision, "1.0 ");
  EXPECT_EQ(table[2].host, 1);
  EXPECT_EQ(table[2].target, 255);
  EXPECT_EQ(table[3].type, 7);
  EXPECT_EQ(table[4].host, 255);  // end marker

  EXPECT_EQ(scsi::scan_devices(table, 5), 0x0201);
  EXPECT_STREQ(table[1].vendor, "SONY    ");
}

TEST(ScanDevices, AFullTableKeepsItsEndMarker) {
  fake_bus bus;
  bus_scope scope{bus};
  bus.hosts = 4;
  for (int host = 0; host < 4; ++host) {
    for (int target = 0; target < 8; ++target) bus.devices[{host, target}] = device(0, "A", "B");
  }
  scsi::device_table table;
  const std::uint16_t result = scsi::scan_devices(table, -1);
  EXPECT_EQ(result >> 8, 4);
  EXPECT_EQ(result & 0xFF, 21);  // 24 rows: 3 headers and 21 devices
  EXPECT_EQ(table[24].host, 255);
}

int one_drive() { return 1; }
int no_drive() { return 0; }
int three_drives() { return 3; }

TEST(FindCdrom, TakesTheFirstCdromOnlyWithOneDrive) {
  fake_bus bus;
  bus_scope scope{bus};
  bus.hosts = 2;
  bus.devices[{1, 5}] = device(5, "A", "B");
  bus.devices[{1, 3}] = device(5, "A", "B");
  std::string specifier = "old";
  scsi::set_cdrom_drive_counter(no_drive);
  EXPECT_EQ(scsi::find_cdrom(specifier), 0);
  EXPECT_EQ(specifier, "");
  scsi::set_cdrom_drive_counter(three_drives);
  specifier = "old";
  EXPECT_EQ(scsi::find_cdrom(specifier), 3);
  EXPECT_EQ(specifier, "");
  scsi::set_cdrom_drive_counter(one_drive);
  EXPECT_EQ(scsi::find_cdrom(specifier), 1);
  EXPECT_EQ(specifier, "C130");
  bus.devices.clear();
  specifier.clear();
  EXPECT_EQ(scsi::find_cdrom(specifier), 1);
  EXPECT_EQ(specifier, "");
  scsi::set_cdrom_drive_counter(nullptr);
}

}  // namespace
