// Two managers behind one numbering: every kind of request must reach the
// side that owns the adapter, in that side's numbering, and come back in the
// caller's.
#include "scsi/transports/combined_manager.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "fake_bus.h"
#include "scsi/aspi.h"
#include "scsi/aspi_defs.h"
#include "scsi/device_state.h"
#include "scsi/scsi_request.h"
#include "scsi/sim/simulated_bus.h"
#include "test_support.h"

namespace {

using namespace scsi;

request_block block_for(std::uint8_t cmd, std::uint8_t host, std::uint8_t target = 0) {
  request_block block{};
  block.header.SRB_Cmd = cmd;
  block.header.SRB_HaId = host;
  if (cmd == SC_GET_DEV_TYPE) block.device.SRB_Target = target;
  if (cmd == SC_EXEC_SCSI_CMD) {
    block.exec.SRB_Target = target;
    block.exec.SRB_CDBLen = 6;  // TEST UNIT READY
  }
  return block;
}

std::uint8_t sent_host(const test::fake_bus& bus, std::size_t index) {
  request_block copy;
  std::memcpy(copy.bytes, bus.sent.at(index).data(), sizeof copy.bytes);
  return copy.header.SRB_HaId;
}

struct CombinedManager : ::testing::Test {
  test::fake_bus real, simulated;
  combined_manager both{real, simulated};
  void SetUp() override {
    real.hosts = 2;
    real.manager_id = "REAL";
    simulated.hosts = 3;
    simulated.manager_id = "SIMULATED";
    real.devices[{1, 2}] = test::fake_device{};
    simulated.devices[{0, 2}] = test::fake_device{5, {}, 2048};
  }
};

TEST_F(CombinedManager, CountsTheAdaptersOfBothSidesAndNoneWhenBothAreEmpty) {
  EXPECT_EQ(both.support_info(), std::uint32_t{SS_COMP} << 8 | 5);
  simulated.hosts = 0;
  EXPECT_EQ(both.support_info(), std::uint32_t{SS_COMP} << 8 | 2);
  real.hosts = 0;
  EXPECT_EQ(both.support_info(), std::uint32_t{SS_NO_ADAPTERS} << 8);
}

TEST_F(CombinedManager, HostAdapterInquiryReachesTheOwnerAndReportsTheTotal) {
  request_block first = block_for(SC_HA_INQUIRY, 1);
  EXPECT_EQ(both.send(&first), SS_COMP);
  EXPECT_EQ(first.inquiry.HA_Count, 5);
  EXPECT_STREQ(reinterpret_cast<const char*>(first.inquiry.HA_ManagerId), "REAL");

  request_block second = block_for(SC_HA_INQUIRY, 4);
  EXPECT_EQ(both.send(&second), SS_COMP);
  EXPECT_EQ(second.inquiry.HA_Count, 5);
  EXPECT_STREQ(reinterpret_cast<const char*>(second.inquiry.HA_ManagerId), "SIMULATED");
  EXPECT_EQ(sent_host(simulated, 0), 2);
  EXPECT_EQ(second.header.SRB_HaId, 4);  // the caller's number again

  request_block beyond = block_for(SC_HA_INQUIRY, 5);
  EXPECT_EQ(both.send(&beyond), SS_INVALID_HA);
  EXPECT_EQ(beyond.header.SRB_Status, SS_INVALID_HA);
  EXPECT_EQ(beyond.inquiry.HA_Count, 0);  // ends the device scan's walk
  EXPECT_EQ(real.sent.size(), 1u);
  EXPECT_EQ(simulated.sent.size(), 1u);
}

TEST_F(CombinedManager, DeviceTypeAndTransfersReachTheTargetOfTheRightSide) {
  request_block disk = block_for(SC_GET_DEV_TYPE, 1, 2);
  EXPECT_EQ(both.send(&disk), SS_COMP);
  EXPECT_EQ(disk.device.SRB_DeviceType, 0);
  request_block cdrom = block_for(SC_GET_DEV_TYPE, 2, 2);
  EXPECT_EQ(both.send(&cdrom), SS_COMP);
  EXPECT_EQ(cdrom.device.SRB_DeviceType, 5);
  request_block nothing = block_for(SC_GET_DEV_TYPE, 3, 2);
  EXPECT_EQ(both.send(&nothing), SS_NO_DEVICE);

  request_block exec = block_for(SC_EXEC_SCSI_CMD, 2, 2);
  EXPECT_EQ(both.send(&exec), SS_COMP);
  ASSERT_EQ(simulated.sent.size(), 3u);
  EXPECT_EQ(sent_host(simulated, 0), 0);
  EXPECT_EQ(sent_host(simulated, 1), 1);
  EXPECT_EQ(sent_host(simulated, 2), 0);
  ASSERT_EQ(real.sent.size(), 1u);
  EXPECT_EQ(sent_host(real, 0), 1);
}

// The request layer times out a transfer the simulated bus never finishes;
// its abort must reach the simulated bus under the bus's own number.
TEST(CombinedManagerAbort, AnAbortOfAPendingRequestReachesTheSideThatHoldsIt) {
  test::fake_bus real;
  real.hosts = 2;
  simulated_bus bus;
  const std::string path = test::unique_temp_path("zelvorant-combined");
  std::ofstream(path, std::ios::binary) << std::string(64 * 512, 'x');
  sim_device device;
  device.host = 1;
  device.target = 3;
  device.path = path;
  std::string error;
  ASSERT_TRUE(bus.attach(device, error)) << error;
  combined_manager both{real, bus};

  const wait_limits saved = current_wait_limits();
  reset_device_state();
  devices().aspi_unit_size = 512;
  install_aspi_manager(&both);
  set_wait_limits({std::chrono::milliseconds(200), std::chrono::milliseconds(200)});
  bus.never_complete(1);
  std::vector<std::uint8_t> buffer(512);
  scsi_request request{};
  request.command = op_read6;
  request.host_adapter = 3;  // the bus's adapter 1
  request.target = 3;
  request.block_count = 1;
  request.buffer = buffer.data();
  EXPECT_EQ(aspi_rw(request), SS_ABORTED);
  EXPECT_EQ(bus.outstanding(), 0u);
  EXPECT_EQ(real.sent.size(), 0u);

  // Then the same target answers as usual.
  EXPECT_EQ(aspi_rw(request), SS_COMP);
  EXPECT_EQ(buffer[0], 'x');

  install_aspi_manager(nullptr);
  set_wait_limits(saved);
  reset_device_state();
  std::remove(path.c_str());
}

}  // namespace
