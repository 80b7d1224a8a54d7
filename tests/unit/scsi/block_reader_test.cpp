#include "scsi/block_reader.h"

#include <gtest/gtest.h>

#include <cstring>

#include "fake_bus.h"
#include "scsi/device_state.h"
#include "test_support.h"

namespace {

using test::bus_scope;
using test::fake_bus;

struct BlockReaders : ::testing::Test {
  fake_bus bus;
  bus_scope scope{bus};
  std::uint8_t buffer[2048] = {};
  int failures_left = 0;

  void SetUp() override {
    test::fake_device cd;
    cd.type = 5;
    cd.block_bytes = 2048;
    cd.data = test::pattern(8 * 2048, 7);
    bus.devices[{2, 1}] = cd;
    test::fake_device disk;
    disk.data = test::pattern(64 * 512, 3);
    bus.devices[{2, 0}] = disk;
    bus.fault = [this](const scsi::SRB_ExecSCSICmd&) -> std::uint8_t {
      if (failures_left == 0) return 0;
      --failures_left;
      return scsi::SS_ERR;
    };
    scsi::devices().sel_host = 255;  // as after a cancelled device dialog
  }
  const std::vector<std::uint8_t>& cd_data() { return bus.devices[{2, 1}].data; }
};

// The specifier's host adapter is read, whatever the device dialog last
// showed: the readers used to follow the dialog and read another bus.
TEST_F(BlockReaders, DiskReaderMapsTheCommandAndKeepsTheRequestsAdapter) {
  scsi::devices().aspi_unit_size = 512;
  scsi::scsi_request request{scsi::command_read, 2, 0, 3, 2, buffer};
  EXPECT_EQ(scsi::read_blocks(request), 0);
  EXPECT_EQ(test::packed(request.command), scsi::op_read6);
  EXPECT_EQ(test::packed(request.host_adapter), 2);
  const auto& disk = bus.devices[{2, 0}].data;
  EXPECT_EQ(std::memcmp(buffer, disk.data() + 3 * 512, 1024), 0);

  request.command = scsi::command_write;
  std::memset(buffer, 0x5A, 512);
  request.block_count = 1;
  EXPECT_EQ(scsi::read_blocks(request), 0);
  EXPECT_EQ(test::packed(request.command), scsi::op_write6);
  EXPECT_EQ(disk[3 * 512], 0x5A);
}

TEST_F(BlockReaders, DiskReaderTriesTwentyTimes) {
  scsi::devices().aspi_unit_size = 512;
  scsi::scsi_request request{scsi::command_read, 2, 0, 0, 1, buffer};
  failures_left = 19;
  EXPECT_EQ(scsi::read_blocks(request), 0);
  EXPECT_EQ(bus.transfers(), 20);
  failures_left = 100;
  EXPECT_EQ(scsi::read_blocks(request), scsi::SS_ERR);
  EXPECT_EQ(bus.transfers(), 40);

  // A READ(10) after a refused READ(6) belongs to the same try.
  bus.devices[{2, 0}].no_six_byte_transfers = true;
  EXPECT_EQ(scsi::read_blocks(request), scsi::SS_ERR);
  EXPECT_EQ(bus.transfers(), 61);
}

TEST_F(BlockReaders, CdReaderReadsEachSectorOnceThroughItsCache) {
  // No cd_reader_init: a typed specifier reaches the reader first.
  scsi::scsi_request request{scsi::op_read6, 2, 1, 0, 1, buffer};
  for (std::uint32_t block = 4; block < 8; ++block) {
    request.block_address = block;
    ASSERT_EQ(scsi::read_cd_block(request), 0);
    EXPECT_EQ(std::memcmp(buffer, cd_data().data() + block * 512, 512), 0) << block;
  }
  EXPECT_EQ(bus.transfers(), 1);
  request.block_address = 8;
  ASSERT_EQ(scsi::read_cd_block(request), 0);
  EXPECT_EQ(bus.transfers(), 2);
  EXPECT_EQ(test::packed(request.block_address), 8u);
  EXPECT_EQ(test::packed(request.buffer), buffer);

  // A new job forgets the sector: the disc may have changed in between.
  scsi::forget_cached_sector();
  ASSERT_EQ(scsi::read_cd_block(request), 0);
  EXPECT_EQ(bus.transfers(), 3);
}

TEST_F(BlockReaders, CdReaderTriesSixTimesAndCachesNothingOnFailure) {
  scsi::scsi_request request{scsi::op_read6, 2, 1, 9, 1, buffer};
  std::memset(buffer, 0xEE, sizeof buffer);
  failures_left = 6;
  EXPECT_EQ(scsi::read_cd_block(request), scsi::SS_ERR);
  EXPECT_EQ(bus.transfers(), 6);
  EXPECT_EQ(buffer[0], 0xEE);                  // nothing stale copied out
  EXPECT_EQ(scsi::read_cd_block(request), 0);  // read again, not a hit
  EXPECT_EQ(bus.transfers(), 7);
  EXPECT_EQ(std::memcmp(buffer, cd_data().data() + 9 * 512, 512), 0);

  bus.devices[{2, 1}].no_six_byte_transfers = true;
  request.block_address = 12;
  failures_left = 6;
  EXPECT_EQ(scsi::read_cd_block(request), scsi::SS_ERR);
  EXPECT_EQ(bus.transfers(), 14);  // READ(6) refused once, then six READ(10)
  EXPECT_EQ(scsi::read_cd_block(request), 0);
  EXPECT_EQ(bus.transfers(), 15);
  EXPECT_EQ(std::memcmp(buffer, cd_data().data() + 12 * 512, 512), 0);
}

TEST_F(BlockReaders, CdReaderReadsOneSectorWhateverTheCount) {
  scsi::scsi_request request{scsi::op_read6, 2, 1, 1, 32, buffer};
  ASSERT_EQ(scsi::read_cd_block(request), 0);
  EXPECT_EQ(bus.commands().back().count, 1u);
}

int two_drives() { return 2; }

TEST_F(BlockReaders, InitSetsTheUnitAndKeepsOneCache) {
  scsi::set_cdrom_drive_counter(two_drives);
  scsi::devices().aspi_unit_size = 2048;
  EXPECT_EQ(scsi::cd_reader_init(), 2);
  EXPECT_EQ(scsi::devices().aspi_unit_size, 512);
  const auto* cache = scsi::devices().cd_sector_cache.get();
  ASSERT_NE(cache, nullptr);
  scsi::devices().aspi_unit_size = 0;
  scsi::cd_reader_init();
  EXPECT_EQ(scsi::devices().cd_sector_cache.get(), cache);
  EXPECT_EQ(scsi::devices().aspi_unit_size, 512);
  scsi::set_cdrom_drive_counter(nullptr);
}

}  // namespace
