#include "scsi/aspi.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstddef>
#include <cstring>
#include <thread>
#include <utility>
#include <vector>

#include "fake_bus.h"
#include "platform/idle.h"
#include "scsi/device_scan.h"
#include "scsi/device_state.h"

namespace {

using scsi::request_block;
using test::bus_scope;
using test::fake_bus;

request_block as_block(const test::block_copy& copy) {
  request_block block;
  std::memcpy(block.bytes, copy.data(), copy.size());
  return block;
}

// Everything after the named bytes is zero: no stray field, no posting flag.
void expect_zero_from(const test::block_copy& copy, std::size_t offset,
                      std::size_t end = scsi::request_block_bytes) {
  for (std::size_t i = offset; i < end; ++i) EXPECT_EQ(copy[i], 0) << "byte " << i;
}

struct AspiRequests : ::testing::Test {
  fake_bus bus;
  bus_scope scope{bus};
  std::uint8_t buffer[512] = {};
  void SetUp() override { bus.devices[{1, 3}].data.resize(8192); }
};

TEST_F(AspiRequests, QueriesCarryOnlyTheirFields) {
  char id[16], unique[16];
  scsi::aspi_host_inq(1, id, unique);
  scsi::aspi_devtype(1, 3);
  scsi::aspi_reset(1, 3);
  ASSERT_EQ(bus.sent.size(), 3u);
  const std::uint8_t expected_head[3][3] = {{0x00, 0, 1}, {0x01, 0, 1}, {0x04, 0, 1}};
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(bus.sent[i][0], expected_head[i][0]);
    EXPECT_EQ(bus.sent[i][1], 0) << "status must be pending when sent";
    EXPECT_EQ(bus.sent[i][2], expected_head[i][2]);
    expect_zero_from(bus.sent[i], 3, i == 0 ? 100 : 8);
  }
  EXPECT_EQ(bus.sent[1][8], 3);  // target
  EXPECT_EQ(bus.sent[2][8], 3);
  expect_zero_from(bus.sent[1], 9);
  expect_zero_from(bus.sent[2], 9);
}

TEST_F(AspiRequests, InquiryCapacityAndLockDescriptors) {
  scsi::aspi_inquiry(1, 3, buffer);
  std::memset(buffer, 0xAA, sizeof buffer);
  bus.fault = [](const scsi::SRB_ExecSCSICmd&) { return std::uint8_t{0}; };
  scsi::aspi_readcap(1, 3, buffer);
  scsi::aspi_lock(1, 3, 1);
  ASSERT_EQ(bus.sent.size(), 3u);

  const request_block inquiry = as_block(bus.sent[0]);
  EXPECT_EQ(inquiry.exec.SRB_Cmd, scsi::SC_EXEC_SCSI_CMD);
  EXPECT_EQ(inquiry.exec.SRB_Flags, 0);
  EXPECT_EQ(test::packed(inquiry.exec.SRB_BufLen), 100u);
  EXPECT_EQ(inquiry.exec.SRB_SenseLen, 0);
  EXPECT_EQ(inquiry.exec.SRB_CDBLen, 6);
  const std::uint8_t inquiry_cdb[16] = {0x12, 0, 0, 0, 100, 0};
  EXPECT_EQ(std::memcmp(inquiry.exec.CDBByte, inquiry_cdb, 16), 0);

  const request_block capacity = as_block(bus.sent[1]);
  EXPECT_EQ(test::packed(capacity.exec.SRB_BufLen), 512u);
  EXPECT_EQ(test::packed(capacity.exec.SRB_BufPointer), buffer);
  EXPECT_EQ(capacity.exec.SRB_SenseLen, 20);
  EXPECT_EQ(capacity.exec.SRB_CDBLen, 10);
  const std::uint8_t capacity_cdb[16] = {0x25};
  EXPECT_EQ(std::memcmp(capacity.exec.CDBByte, capacity_cdb, 16), 0);

  const request_block lock = as_block(bus.sent[2]);
  EXPECT_EQ(test::packed(lock.exec.SRB_BufLen), 0u);
  EXPECT_EQ(test::packed(lock.exec.SRB_BufPointer), nullptr);
  EXPECT_EQ(lock.exec.SRB_SenseLen, 0);
  const std::uint8_t lock_cdb[16] = {0x1E, 0, 0, 0, 1, 0};
  EXPECT_EQ(std::memcmp(lock.exec.CDBByte, lock_cdb, 16), 0);
}

TEST_F(AspiRequests, ReadCapacityClearsTheAnswerEvenWhenItFails) {
  std::memset(buffer, 0xAA, sizeof buffer);
  EXPECT_EQ(scsi::aspi_readcap(2, 0, buffer), scsi::SS_NO_DEVICE);
  for (int i = 0; i < 12; ++i) EXPECT_EQ(buffer[i], 0);
  EXPECT_EQ(buffer[12], 0xAA);
}

TEST_F(AspiRequests, TransfersBuildTheirDescriptorFromTheRequest) {
  scsi::devices().aspi_unit_size = 512;
  scsi::scsi_request request{scsi::op_read6, 1, 3, 0x012345, 2, buffer};
  scsi::aspi_rw(request);
  request.command = scsi::op_write6;
  scsi::aspi_rw(request);
  request.command = scsi::command_read;  // unmapped: goes out as it is, direction out
  scsi::aspi_rw(request);
  scsi::devices().aspi_unit_size = 0;
  request.command = scsi::op_read6;
  scsi::cdrom_rw(request);  // sectors of 2048 whatever the unit size
  scsi::aspi_rw(request);   // nothing learnt the unit yet: asks for 0 bytes

  struct expected {
    std::uint8_t op, flags;
    std::uint32_t length;
  };
  const expected want[] = {{0x08, scsi::SRB_DIR_IN, 1024},
                           {0x0A, scsi::SRB_DIR_OUT, 1024},
                           {0x02, scsi::SRB_DIR_OUT, 1024},
                           {0x08, scsi::SRB_DIR_IN, 4096},
                           {0x08, scsi::SRB_DIR_IN, 0}};
  ASSERT_EQ(bus.sent.size(), 5u);
  for (std::size_t i = 0; i < 5; ++i) {
    const request_block block = as_block(bus.sent[i]);
    SCOPED_TRACE(i);
    EXPECT_EQ(block.exec.SRB_HaId, 1);
    EXPECT_EQ(block.exec.SRB_Target, 3);
    EXPECT_EQ(block.exec.SRB_Lun, 0);
    EXPECT_EQ(block.exec.SRB_Flags, want[i].flags);
    EXPECT_EQ(test::packed(block.exec.SRB_BufLen), want[i].length);
    EXPECT_EQ(test::packed(block.exec.SRB_BufPointer), buffer);
    EXPECT_EQ(block.exec.SRB_SenseLen, 20);
    EXPECT_EQ(test::packed(block.exec.SRB_PostProc), nullptr);
    EXPECT_EQ(block.exec.SRB_CDBLen, 6);
    const std::uint8_t cdb[16] = {want[i].op, 0x01, 0x23, 0x45, 2, 0};
    EXPECT_EQ(std::memcmp(block.exec.CDBByte, cdb, 16), 0);
  }
}

// Six-byte descriptors hold 21 address bits (the next three are the logical
// unit) and read a count of 0 as 256 blocks: beyond that the 10-byte form
// must go out, or the wrong blocks are read.
TEST_F(AspiRequests, AddressesAndCountsBeyondTheSixByteFormUseTenBytes) {
  scsi::devices().aspi_unit_size = 512;
  struct probe {
    std::int16_t command;
    std::uint32_t address;
    std::uint16_t count;
    std::uint8_t want_op;
  };
  const probe probes[] = {{scsi::op_read6, 0x1FFFFF, 256, 0x08},
                          {scsi::op_read6, 0x200000, 1, 0x28},
                          {scsi::op_write6, 0x12345678, 1, 0x2A},
                          {scsi::op_read6, 5, 0, 0x28},
                          {scsi::op_read6, 5, 300, 0x28}};
  for (const probe& p : probes) {
    scsi::scsi_request request{p.command, 1, 3, p.address, p.count, buffer};
    scsi::aspi_rw(request);
  }
  ASSERT_EQ(bus.sent.size(), 5u);
  const request_block six = as_block(bus.sent[0]);
  const std::uint8_t six_cdb[16] = {0x08, 0x1F, 0xFF, 0xFF, 0, 0};
  EXPECT_EQ(std::memcmp(six.exec.CDBByte, six_cdb, 16), 0);
  const request_block ten = as_block(bus.sent[2]);
  EXPECT_EQ(ten.exec.SRB_CDBLen, 10);
  const std::uint8_t ten_cdb[16] = {0x2A, 0, 0x12, 0x34, 0x56, 0x78, 0, 0, 1, 0};
  EXPECT_EQ(std::memcmp(ten.exec.CDBByte, ten_cdb, 16), 0);
  const auto commands = bus.commands();
  for (std::size_t i = 0; i < 5; ++i) {
    EXPECT_EQ(commands[i].op, probes[i].want_op) << i;
    EXPECT_EQ(commands[i].address, probes[i].address) << i;
  }
  EXPECT_EQ(commands[3].count, 0u);
  EXPECT_EQ(commands[4].count, 300u);
}

// ATAPI and USB optical drives know no READ(6): the refused transfer goes
// out again as READ(10) at once, and the device gets only the 10-byte forms
// until the next scan. Devices that take READ(6) see nothing new.
TEST_F(AspiRequests, DrivesThatRefuseSixByteTransfersGetTenByteOnes) {
  scsi::devices().aspi_unit_size = 512;
  test::fake_device& atapi = bus.devices[{1, 4}];
  atapi.type = 5;
  atapi.no_six_byte_transfers = true;
  for (std::uint8_t block = 0; block < 16; ++block) atapi.data.insert(atapi.data.end(), 512, block);
  std::uint8_t sector[2048];
  const auto sent_since = [&](std::size_t from) {
    std::vector<std::pair<std::uint8_t, std::uint32_t>> seen;
    for (const auto& each : bus.commands()) seen.emplace_back(each.op, each.address);
    return std::vector(seen.begin() + static_cast<std::ptrdiff_t>(from), seen.end());
  };

  scsi::scsi_request request{scsi::op_read6, 1, 4, 3, 1, buffer};
  EXPECT_EQ(scsi::aspi_rw(request), scsi::SS_COMP);
  EXPECT_EQ(buffer[0], 3);
  EXPECT_EQ(scsi::aspi_rw(request), scsi::SS_COMP);
  request.command = scsi::op_write6;
  EXPECT_EQ(scsi::aspi_rw(request), scsi::SS_COMP);
  request = {scsi::op_read6, 1, 4, 2, 1, sector};
  EXPECT_EQ(scsi::cdrom_rw(request), 0);
  request = {scsi::op_read6, 1, 3, 3, 1, buffer};  // takes READ(6)
  EXPECT_EQ(scsi::aspi_rw(request), scsi::SS_COMP);
  request.block_address = 400;  // past its end: refused, but not as an unknown command
  EXPECT_EQ(scsi::aspi_rw(request), scsi::SS_ERR);
  using seen = std::vector<std::pair<std::uint8_t, std::uint32_t>>;
  EXPECT_EQ(sent_since(0),
            (seen{{0x08, 3}, {0x28, 3}, {0x28, 3}, {0x2A, 3}, {0x28, 2}, {0x08, 3}, {0x08, 400}}));

  // Another device may answer at the same place after a rescan.
  scsi::device_table table;
  scsi::scan_devices(table, scsi::filter_any);
  const std::size_t before = bus.commands().size();
  request = {scsi::op_read6, 1, 4, 0, 1, sector};
  EXPECT_EQ(scsi::cdrom_rw(request), 0);
  EXPECT_EQ(sent_since(before), (seen{{0x08, 0}, {0x28, 0}}));
}

TEST_F(AspiRequests, ResultsReadBack) {
  bus.manager_id = "0123456789ABCDEF";  // all 16 bytes: no terminator
  bus.hosts = 2;
  bus.devices[{0, 0}] = test::fake_device{};
  char id[17] = {}, unique[16];
  std::memset(id, 'x', sizeof id);
  id[16] = '\0';
  EXPECT_EQ(scsi::aspi_host_inq(1, id, unique), 2);
  EXPECT_EQ(std::string(id, 16), "0123456789ABCDEF");
  EXPECT_EQ(std::string(unique, 16), std::string("UNIQUE") + std::string(10, '\0'));
  EXPECT_EQ(scsi::aspi_host_inq(7, id, unique), 0);  // no such adapter: nothing written
  EXPECT_EQ(std::string(id, 16), std::string(16, '\0'));

  EXPECT_EQ(scsi::aspi_devtype(0, 0), 0);  // a disk, not a failure
  EXPECT_EQ(scsi::aspi_devtype(0, 1), -1);
  EXPECT_EQ(scsi::aspi_init(), 2);
  bus.hosts = 0;
  EXPECT_EQ(scsi::aspi_init(), 0);

  scsi::scsi_request request{scsi::op_read6, 1, 3, 0, 1, buffer};
  EXPECT_EQ(scsi::cdrom_rw(request), 0);
  request.target = 4;
  EXPECT_EQ(scsi::cdrom_rw(request), scsi::SS_NO_DEVICE);
}

// A manager that refuses outright never sets the status (Wine's stub does
// this); one that accepts and never ends is aborted after the time limit.
TEST_F(AspiRequests, RequestsThatNeverCompleteDoNotHang) {
  scsi::devices().aspi_unit_size = 512;
  scsi::scsi_request request{scsi::op_read6, 1, 3, 0, 1, buffer};
  bus.refuse_with = scsi::SS_INVALID_SRB;
  EXPECT_EQ(scsi::aspi_rw(request), scsi::SS_INVALID_SRB);
  EXPECT_EQ(scsi::cdrom_rw(request), scsi::SS_INVALID_SRB);
  EXPECT_EQ(bus.sent.size(), 2u);

  bus.refuse_with = 0;
  bus.hang_from_transfer = 1;
  EXPECT_EQ(scsi::aspi_rw(request), scsi::SS_ABORTED);
  ASSERT_EQ(bus.sent.size(), 4u);
  const request_block abort = as_block(bus.sent[3]);
  EXPECT_EQ(abort.abort.SRB_Cmd, scsi::SC_ABORT_SRB);
  EXPECT_EQ(abort.abort.SRB_HaId, 1);
  EXPECT_NE(test::packed(abort.abort.SRB_ToAbort), nullptr);
}

int aspi_idle_calls = 0;
bool slow_idle() {
  ++aspi_idle_calls;
  std::this_thread::sleep_for(std::chrono::milliseconds(60));
  return true;
}
bool stop_asked() {
  ++aspi_idle_calls;
  return false;
}

// While a request is pending the front end's idle hook runs (the Windows
// program reads its window's messages there), and a box the user keeps open
// in it does not count against the request's time limit.
TEST_F(AspiRequests, PendingRequestsRunTheIdleHookOutsideTheirTimeLimit) {
  scsi::devices().aspi_unit_size = 512;
  scsi::scsi_request request{scsi::op_read6, 1, 3, 0, 1, buffer};
  const scsi::wait_limits saved = scsi::current_wait_limits();
  scsi::set_wait_limits({std::chrono::milliseconds(100), std::chrono::milliseconds(100)});
  bus.hang_from_transfer = 1;
  aspi_idle_calls = 0;
  platform::set_idle_hook(slow_idle);
  EXPECT_EQ(scsi::aspi_rw(request), scsi::SS_ABORTED);
  platform::set_idle_hook(nullptr);
  scsi::set_wait_limits(saved);
  // Counting the hook's 60 ms would end the wait at its second call.
  EXPECT_GE(aspi_idle_calls, 3);

  // A stop the user asked for ends the wait at the hook's first call: the
  // request is aborted long before its time limit.
  aspi_idle_calls = 0;
  platform::set_idle_hook(stop_asked);
  const std::size_t sent_before = bus.sent.size();
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(scsi::aspi_rw(request), scsi::SS_ABORTED);
  platform::set_idle_hook(nullptr);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_EQ(aspi_idle_calls, 1);
  ASSERT_EQ(bus.sent.size(), sent_before + 2);
  EXPECT_EQ(as_block(bus.sent.back()).abort.SRB_Cmd, scsi::SC_ABORT_SRB);
}

std::uint32_t fake_time = 0;
int clock_readings = 0;
std::uint32_t ticking_clock() {
  ++clock_readings;
  return fake_time++;
}

TEST_F(AspiRequests, LockWaitsTwiceFifteenHundredthsExceptAcrossAMinute) {
  scsi::set_hundredths_clock(ticking_clock);
  fake_time = 1000;
  clock_readings = 0;
  EXPECT_EQ(scsi::aspi_lock(1, 3, 0), scsi::SS_COMP);
  EXPECT_EQ(clock_readings, 2 * 16);  // start, then until 15 have passed, twice

  fake_time = 5990;  // 59.90 s: the reading wraps to 0 during the wait
  clock_readings = 0;
  scsi::set_hundredths_clock([]() -> std::uint32_t {
    ++clock_readings;
    const std::uint32_t now = fake_time++;
    return now >= 6000 ? now - 6000 : now;
  });
  scsi::aspi_lock(1, 3, 0);
  EXPECT_LT(clock_readings, 2 * 16);
  scsi::set_hundredths_clock(nullptr);
}

}  // namespace
