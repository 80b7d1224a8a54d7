#include "scsi/transports/library_aspi.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>

#include "fake_bus.h"
#include "scsi/aspi.h"
#include "scsi/device_state.h"

namespace {

// The library's answer to GetASPI32SupportInfo, and how often it was asked.
std::uint32_t support_answer = 0;
int support_calls = 0;
std::uint32_t library_support() {
  ++support_calls;
  return support_answer;
}
std::uint32_t library_send(void* block) {
  static_cast<scsi::SRB_Header*>(block)->SRB_Status = scsi::SS_COMP;
  return scsi::SS_COMP;
}

std::uint32_t support_info(std::uint8_t status, std::uint8_t adapters) {
  return std::uint32_t{status} << 8 | adapters;
}

struct LibraryChoice : ::testing::Test {
  void SetUp() override { support_calls = 0; }
};

TEST_F(LibraryChoice, OnlyALibraryThatServesAnAdapterIsUsed) {
  support_answer = support_info(scsi::SS_COMP, 1);
  EXPECT_TRUE(scsi::library_serves_adapters(library_send, library_support));
  support_answer = support_info(scsi::SS_COMP, 8);
  EXPECT_TRUE(scsi::library_serves_adapters(library_send, library_support));
  // Success with no host adapter, as an ASPI layer on a machine without SCSI
  // answers, is no reason to use it.
  support_answer = support_info(scsi::SS_COMP, 0);
  EXPECT_FALSE(scsi::library_serves_adapters(library_send, library_support));
  // A failure status says nothing about adapters, whatever the low byte holds.
  support_answer = support_info(scsi::SS_NO_ADAPTERS, 2);
  EXPECT_FALSE(scsi::library_serves_adapters(library_send, library_support));
  support_answer = support_info(scsi::SS_NO_ASPI, 1);
  EXPECT_FALSE(scsi::library_serves_adapters(library_send, library_support));
  // Bits above the status are not part of it.
  support_answer = 0xABCD0000u | support_info(scsi::SS_COMP, 3);
  EXPECT_TRUE(scsi::library_serves_adapters(library_send, library_support));
}

TEST_F(LibraryChoice, AMissingEntryPointMeansNoLibraryAndIsNeverCalled) {
  support_answer = support_info(scsi::SS_COMP, 2);
  EXPECT_FALSE(scsi::library_serves_adapters(nullptr, library_support));
  EXPECT_FALSE(scsi::library_serves_adapters(library_send, nullptr));
  EXPECT_FALSE(scsi::library_serves_adapters(nullptr, nullptr));
  EXPECT_EQ(support_calls, 0);
  scsi::library_serves_adapters(library_send, library_support);
  EXPECT_EQ(support_calls, 1) << "the library is asked once";
}

// The library's entry points lead to a fake bus, as a real WNASPI32.DLL leads
// to the adapters' drivers.
test::fake_bus* library_bus = nullptr;
std::uint32_t bus_send(void* block) { return library_bus->send(block); }
std::uint32_t bus_support() { return library_bus->support_info(); }

TEST(LibraryManager, RequestsReachTheLibraryUnchanged) {
  test::fake_bus bus;
  bus.hosts = 2;
  bus.devices[{1, 4}].type = 5;
  library_bus = &bus;
  scsi::library_aspi_manager library(bus_send, bus_support);
  test::bus_scope scope(bus);
  scsi::install_aspi_manager(&library);

  EXPECT_EQ(scsi::aspi_init(), 2);
  char id[16], unique[16];
  EXPECT_EQ(scsi::aspi_host_inq(1, id, unique), 2);
  EXPECT_EQ(std::string(id, strnlen(id, sizeof id)), bus.manager_id);
  EXPECT_EQ(scsi::aspi_devtype(1, 4), 5);
  EXPECT_EQ(bus.sent.size(), 2u);
  library_bus = nullptr;
}

// What the program meets on a machine without WNASPI32.DLL.
struct NoAdapters : ::testing::Test {
  scsi::no_adapters_manager none;
  scsi::wait_limits saved = scsi::current_wait_limits();
  void SetUp() override {
    scsi::reset_device_state();
    scsi::install_aspi_manager(&none);
  }
  void TearDown() override {
    scsi::install_aspi_manager(nullptr);
    scsi::set_wait_limits(saved);
    scsi::reset_device_state();
  }
};

TEST_F(NoAdapters, DiscoveryFindsNothing) {
  EXPECT_EQ(scsi::aspi_init(), 0);
  char id[16], unique[16];
  std::memset(id, 'x', sizeof id);
  std::memset(unique, 'x', sizeof unique);
  // Device discovery stops its walk over host adapters at a count of 0.
  EXPECT_EQ(scsi::aspi_host_inq(0, id, unique), 0);
  EXPECT_EQ(id[0], '\0');
  EXPECT_EQ(unique[0], '\0');
  EXPECT_EQ(scsi::aspi_devtype(0, 0), -1);
}

TEST_F(NoAdapters, TransfersFailAtOnceInsteadOfWaitingForATimeOut) {
  // Long limits: a request left pending would show as a slow test.
  scsi::set_wait_limits({std::chrono::milliseconds(60000), std::chrono::milliseconds(10000)});
  std::uint8_t buffer[2048] = {};
  scsi::scsi_request request{};
  request.command = scsi::op_read6;
  request.block_count = 1;
  request.buffer = buffer;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(scsi::aspi_rw(request), scsi::SS_INVALID_HA);
  EXPECT_EQ(scsi::cdrom_rw(request), scsi::SS_INVALID_HA);
  std::uint8_t capacity[512];
  EXPECT_EQ(scsi::aspi_readcap(0, 0, capacity), scsi::SS_INVALID_HA);
  EXPECT_EQ(scsi::aspi_reset(0, 0), scsi::SS_INVALID_HA);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

}  // namespace
