#include "hybrid/device/device_copy.h"

#include <gtest/gtest.h>

#include <cstring>

#include "fake_bus.h"
#include "hybrid/device/device_listing.h"
#include "hybrid/io/memory_stream.h"
#include "scsi/block_reader.h"
#include "scsi/device_state.h"
#include "test_support.h"

namespace {

using hybrid::memory_stream;
using test::bus_scope;
using test::fake_bus;

struct DeviceCopies : ::testing::Test {
  fake_bus bus;
  bus_scope scope{bus};
  std::vector<std::uint8_t> data = test::pattern(1024 * 512, 9);
  memory_stream out{"out.img"};
  hybrid::device_copy copy;
  std::uint8_t entry[2048] = {};
  scsi::scsi_request request{scsi::op_read6, 0, 0, 0, 1, entry};

  void SetUp() override {
    test::fake_device disk;
    disk.data = data;
    bus.devices[{0, 0}] = disk;
    test::fake_device cd;
    cd.type = 5;
    cd.block_bytes = 2048;
    cd.data = data;
    bus.devices[{0, 1}] = cd;
    scsi::devices().src_block_size = 512;
    scsi::devices().aspi_unit_size = 512;
  }
  std::vector<std::uint8_t> blocks(std::uint32_t first, std::uint32_t count) {
    return test::slice(data, first * 512, count * 512);
  }
  // The reads sent, as (address, count) pairs.
  std::vector<std::pair<std::uint32_t, std::uint32_t>> reads() {
    std::vector<std::pair<std::uint32_t, std::uint32_t>> out_reads;
    for (const auto& command : bus.commands())
      out_reads.emplace_back(command.address, command.count);
    return out_reads;
  }
};

// The last read asks only for what remains, so a copy that ends at the end
// of the medium never asks for blocks that are not there.
TEST_F(DeviceCopies, DiskCopiesInChunksOf128) {
  request.command = scsi::command_read;
  EXPECT_EQ(hybrid::copy_disk_blocks(out, request, 724, 300, copy), 1);
  EXPECT_EQ(out.bytes(), blocks(724, 300));
  using reads_t = std::vector<std::pair<std::uint32_t, std::uint32_t>>;
  EXPECT_EQ(reads(), (reads_t{{724, 128}, {852, 128}, {980, 44}}));
  EXPECT_EQ(copy.done, 300u * 512);
}

TEST_F(DeviceCopies, CdCopiesPartialSectorsThroughTheCacheAndWholeOnesInBulk) {
  request.target = 1;
  using reads_t = std::vector<std::pair<std::uint32_t, std::uint32_t>>;
  struct probe {
    std::uint32_t first, count;
    reads_t sectors_read;
  };
  const probe probes[] = {
      {5, 10, {{1, 1}, {2, 1}, {3, 1}}},  // blocks 5-7, sector 2, blocks 12-14
      {5, 2, {{1, 1}}},                   // inside the first sector: exactly two blocks
      {8, 8, {{2, 2}}},                   // whole sectors only
      {0, 140, {{0, 32}, {32, 3}}},
      {3, 0, {}},
  };
  for (const probe& p : probes) {
    SCOPED_TRACE(p.first);
    bus.sent.clear();
    out.bytes().clear();
    ASSERT_TRUE(out.seek(0));
    scsi::forget_cached_sector();
    EXPECT_EQ(hybrid::copy_cd_blocks(out, request, p.first, p.count, copy), 1);
    EXPECT_EQ(out.bytes(), blocks(p.first, p.count));
    EXPECT_EQ(reads(), p.sectors_read);
  }
}

TEST_F(DeviceCopies, WriteFailuresAndStopsAreReported) {
  test::failing_stream full{"full.img"};
  full.size_limit = 100 * 512;
  request.command = scsi::command_read;
  EXPECT_EQ(hybrid::copy_disk_blocks(full, request, 0, 300, copy), 0);
  EXPECT_EQ(copy.failure.kind, hybrid::device_failure::what::write);

  struct stopping : test::scripted_questions {
    bool stop_requested() override { return true; }
  } user;
  hybrid::device_copy stopped;
  stopped.progress = &user;
  request.target = 1;
  EXPECT_EQ(hybrid::copy_cd_blocks(out, request, 0, 300, stopped), 0);
  EXPECT_EQ(stopped.failure.kind, hybrid::device_failure::what::stopped);

  // The stop aborted the read that was pending: stopped, not unreadable.
  bus.fault = [](const scsi::SRB_ExecSCSICmd&) { return scsi::SS_ABORTED; };
  hybrid::device_copy aborted;
  aborted.progress = &user;
  request.target = 0;
  request.command = scsi::command_read;
  EXPECT_EQ(hybrid::copy_disk_blocks(out, request, 0, 300, aborted), 0);
  EXPECT_EQ(aborted.failure.kind, hybrid::device_failure::what::stopped);
}

// A disk map and what each listing walks.
struct DeviceListings : DeviceCopies {
  void put_entry(std::uint32_t block, const char* type, std::uint32_t count_field) {
    hybrid::partition_entry fields;
    fields.signature = hybrid::entry_signature;
    fields.map_blocks = count_field;
    fields.block_count = 10;
    fields.name = fields.type = hybrid::map_text_of(type);
    hybrid::encode_partition_entry(fields, data.data() + block * 512);
  }
  void attach() {
    bus.devices[{0, 0}].data = data;
    bus.devices[{0, 1}].data = data;
  }
  int list_dev(hybrid::partition_list& list, hybrid::device_failure& failure) {
    request.block_address = 1;
    request.buffer = entry;
    std::memcpy(entry, data.data() + 512, 512);
    return hybrid::list_hfs_partitions_dev(scsi::read_blocks, request, list, failure);
  }
  int list_cd(hybrid::partition_list& list, hybrid::device_failure& failure) {
    scsi::scsi_request cd{scsi::op_read6, 0, 1, 0, 1, entry};
    return hybrid::list_hfs_partitions_cd(cd, list, failure);
  }
};

TEST_F(DeviceListings, EachWalkExaminesItsOwnRunOfBlocks) {
  put_entry(1, "Apple_HFS", 3);  // block 1 counts on a device
  put_entry(2, "Apple_Free", 3);
  put_entry(3, "Apple_HFS", 3);
  put_entry(4, "Apple_HFS", 3);  // right after the map: only the CD walk sees it
  attach();
  hybrid::partition_list list;
  hybrid::device_failure failure;
  hybrid::clear_partition_list(list);
  EXPECT_EQ(list_dev(list, failure), 2);
  EXPECT_EQ(test::packed(request.block_address), 4u);
  hybrid::clear_partition_list(list);
  EXPECT_EQ(list_cd(list, failure), 3);

  put_entry(1, "Apple_HFS", 0);
  attach();
  hybrid::clear_partition_list(list);
  bus.sent.clear();
  EXPECT_EQ(list_dev(list, failure), 0);  // a count of 0 examines nothing
  EXPECT_TRUE(bus.sent.empty());
  hybrid::clear_partition_list(list);
  EXPECT_EQ(list_cd(list, failure), 1);  // blocks 0 and 1 all the same
  put_entry(1, "Apple_HFS", 0xFFFFFFF0u);
  attach();
  hybrid::clear_partition_list(list);
  EXPECT_EQ(list_dev(list, failure), 0);
}

TEST_F(DeviceListings, AMapPastTheEndOfTheDeviceIsAReadFailure) {
  put_entry(1, "Apple_HFS", 5000);
  attach();
  hybrid::partition_list list;
  hybrid::clear_partition_list(list);
  hybrid::device_failure failure;
  EXPECT_EQ(list_dev(list, failure), -1);
  EXPECT_EQ(failure.address, 1024u);
  hybrid::clear_partition_list(list);
  EXPECT_EQ(list_cd(list, failure), -1);
  EXPECT_EQ(failure.place, hybrid::device_failure::unit::cd_sector);
  EXPECT_EQ(failure.address, 256u);
}

}  // namespace
