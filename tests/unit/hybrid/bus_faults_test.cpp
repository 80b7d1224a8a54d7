// The device jobs on the threaded simulated bus with faults injected: a read
// failure at the start, in the middle and at the end of a copy, and a
// request that never completes. Every one leaves the target as promised: an
// ISO image byte for byte as it was, an HFS image empty.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>

#include "hybrid/io/memory_stream.h"
#include "hybrid/jobs.h"
#include "scsi/aspi.h"
#include "scsi/aspi_manager.h"
#include "scsi/device_state.h"
#include "scsi/sim/simulated_bus.h"
#include "test_support.h"

namespace {

using hybrid::memory_stream;

// One partition of 600 blocks: its copy takes five disk transfers, or head
// blocks, whole sectors and tail blocks on a CD-ROM.
std::vector<std::uint8_t> disk_image() {
  return test::hfs_image({{"Apple_partition_map", "Apple", 1, 63}, {"Apple_HFS", "Data", 66, 600}},
                         670);
}

struct BusFaults : ::testing::TestWithParam<scsi::sim_kind> {
  scsi::simulated_bus bus;
  // Tests run in parallel processes: one image each.
  std::string path = ::testing::TempDir() + "zelvorant_bus_faults_" +
                     std::to_string(static_cast<long>(::getpid())) + ".img";
  std::vector<std::uint8_t> iso_before = test::iso_image(36000);
  test::scripted_questions user;
  scsi::wait_limits saved = scsi::current_wait_limits();

  void SetUp() override {
    const auto data = disk_image();
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(data.data()),
               static_cast<std::streamsize>(data.size()));
    scsi::sim_device device;
    device.kind = GetParam();
    device.host = 3;
    device.target = 4;
    device.path = path;
    std::string error;
    ASSERT_TRUE(bus.attach(device, error)) << error;
    scsi::reset_device_state();
    scsi::install_aspi_manager(&bus);
    scsi::set_wait_limits({std::chrono::milliseconds(300), std::chrono::milliseconds(300)});
  }
  void TearDown() override {
    scsi::install_aspi_manager(nullptr);
    scsi::set_wait_limits(saved);
    scsi::reset_device_state();
    std::remove(path.c_str());
  }
  bool cdrom() const { return GetParam() == scsi::sim_kind::cdrom; }
  std::string specifier() const { return cdrom() ? "C340" : "A340"; }
  // Device blocks of the sim, from 512-byte blocks.
  std::uint32_t unit(std::uint32_t block) const { return cdrom() ? block / 4 : block; }
};

TEST_P(BusFaults, AFailedReadAnywhereUndoesTheJob) {
  for (const std::uint32_t block : {66u, 400u, 665u}) {
    SCOPED_TRACE(block);
    bus.clear_faults();
    bus.fail_blocks(3, 4, unit(block), 1);
    memory_stream iso{"cd.iso", iso_before};
    EXPECT_EQ(hybrid::hybridize_from_device(specifier(), iso, user), 0);
    EXPECT_EQ(iso.bytes(), iso_before);
    ASSERT_FALSE(user.notices.empty());
    EXPECT_NE(user.notices.back().find("could not be read (ASPI status 04h)."), std::string::npos);
    EXPECT_NE(user.notices.back().find("The ISO image was left as it was."), std::string::npos);

    memory_stream image{"out.img"};
    EXPECT_EQ(hybrid::extract_to_hfs_image(specifier(), image, user), 0);
    EXPECT_TRUE(image.bytes().empty());
    EXPECT_NE(user.notices.back().find(
                  "The HFS image was not written; a file already at its path was left as it was."),
              std::string::npos);
  }
  bus.clear_faults();
  memory_stream iso{"cd.iso", iso_before};
  EXPECT_EQ(hybrid::hybridize_from_device(specifier(), iso, user), 1);
  EXPECT_EQ(test::slice(iso.bytes(), 36352, 600 * 512),
            test::slice(disk_image(), 66 * 512, 600 * 512));
}

TEST_P(BusFaults, ARequestThatNeverCompletesIsAbortedAndUndone) {
  bus.never_complete(3);
  memory_stream iso{"cd.iso", iso_before};
  EXPECT_EQ(hybrid::hybridize_from_device(specifier(), iso, user), 0);
  EXPECT_EQ(iso.bytes(), iso_before);
  ASSERT_EQ(user.notices.size(), 1u);
  EXPECT_NE(user.notices[0].find("(ASPI status 02h)"), std::string::npos) << user.notices[0];
  EXPECT_EQ(bus.outstanding(), 0u);  // the abort took it off the bus

  bus.never_complete(4);
  memory_stream image{"out.img"};
  EXPECT_EQ(hybrid::extract_to_hfs_image(specifier(), image, user), 0);
  EXPECT_TRUE(image.bytes().empty());
}

INSTANTIATE_TEST_SUITE_P(DiskAndCdrom, BusFaults,
                         ::testing::Values(scsi::sim_kind::disk, scsi::sim_kind::cdrom),
                         [](const auto& case_info) {
                           return case_info.param == scsi::sim_kind::disk ? "Disk" : "Cdrom";
                         });

}  // namespace
