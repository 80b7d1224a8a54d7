// The device jobs on the threaded simulated bus with faults injected: a read
// failure at the start, in the middle and at the end of a copy, and a
// request that never completes. Every one leaves the target as promised: an
// ISO image byte for byte as it was, an HFS image never written; through
// the dispatch, a file at the HFS image's path is kept byte for byte.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "hybrid/io/memory_stream.h"
#include "hybrid/job_dispatch.h"
#include "hybrid/jobs.h"
#include "hybrid/messages.h"
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
    EXPECT_EQ(test::told(hybrid::hybridize_from_device(specifier(), iso, user), user), 0);
    EXPECT_EQ(iso.bytes(), iso_before);
    ASSERT_FALSE(user.notices.empty());
    EXPECT_NE(user.notices.back().find("could not be read (ASPI status 04h)."), std::string::npos);
    EXPECT_NE(user.notices.back().find(hybrid::text::iso_restored_suffix(true)), std::string::npos);

    memory_stream image{"out.img"};
    EXPECT_EQ(test::told(hybrid::extract_to_hfs_image(specifier(), image, user), user), 0);
    EXPECT_TRUE(image.bytes().empty());
    EXPECT_NE(user.notices.back().find(hybrid::text::hfs_image_kept_suffix), std::string::npos);
  }
  bus.clear_faults();
  memory_stream iso{"cd.iso", iso_before};
  EXPECT_EQ(test::told(hybrid::hybridize_from_device(specifier(), iso, user), user), 1);
  EXPECT_EQ(test::slice(iso.bytes(), 36352, 600 * 512),
            test::slice(disk_image(), 66 * 512, 600 * 512));
}

TEST_P(BusFaults, ARequestThatNeverCompletesIsAbortedAndUndone) {
  bus.never_complete(3);
  memory_stream iso{"cd.iso", iso_before};
  EXPECT_EQ(test::told(hybrid::hybridize_from_device(specifier(), iso, user), user), 0);
  EXPECT_EQ(iso.bytes(), iso_before);
  ASSERT_EQ(user.notices.size(), 1u);
  EXPECT_NE(user.notices[0].find("(ASPI status 02h)"), std::string::npos) << user.notices[0];
  EXPECT_EQ(bus.outstanding(), 0u);  // the abort took it off the bus

  bus.never_complete(4);
  memory_stream image{"out.img"};
  EXPECT_EQ(test::told(hybrid::extract_to_hfs_image(specifier(), image, user), user), 0);
  EXPECT_TRUE(image.bytes().empty());

  // A stop that gives up the first read, before any write, is told as a
  // stop in the copy is: with the state of the target.
  bus.never_complete(1);
  user.stop = true;
  EXPECT_EQ(test::told(hybrid::extract_to_hfs_image(specifier(), image, user), user), 0);
  EXPECT_EQ(user.notices.back(),
            hybrid::text::stopped + std::string(hybrid::text::hfs_image_kept_suffix));
  bus.never_complete(1);
  memory_stream unchanged{"cd.iso", iso_before};
  EXPECT_EQ(test::told(hybrid::hybridize_from_device(specifier(), unchanged, user), user), 0);
  EXPECT_EQ(user.notices.back(), hybrid::text::stopped + hybrid::text::iso_restored_suffix(true));
  EXPECT_EQ(unchanged.bytes(), iso_before);
}

// An HFS image already at the target's path is replaced only by a complete
// image: a refused specifier, a Cancel, a failed read and an interrupt leave
// it byte for byte, with nothing new beside it.
TEST_P(BusFaults, AnUnfinishedExtractionKeepsTheFileAtTheTarget) {
  namespace fs = std::filesystem;
  const fs::path folder = path + ".d";
  fs::create_directories(folder);
  const std::string target = (folder / "old.img").string();
  const auto old_image = test::pattern(7000, 9);
  const auto write_old = [&] {
    std::ofstream(target, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(old_image.data()),
               static_cast<std::streamsize>(old_image.size()));
  };
  const auto read_target = [&] {
    std::ifstream in(target, std::ios::binary);
    return std::vector<std::uint8_t>{std::istreambuf_iterator<char>(in), {}};
  };
  const auto two = test::hfs_image({{"Apple_partition_map", "Apple", 1, 63},
                                    {"Apple_HFS", "A", 64, 8},
                                    {"Apple_HFS", "B", 72, 8}},
                                   80);
  const std::string two_path = path + ".two";
  std::ofstream(two_path, std::ios::binary)
      .write(reinterpret_cast<const char*>(two.data()), static_cast<std::streamsize>(two.size()));
  scsi::sim_device device;
  device.kind = GetParam();
  device.host = 3;
  device.target = 5;
  device.path = two_path;
  std::string error;
  ASSERT_TRUE(bus.attach(device, error)) << error;

  struct round {
    const char* what;
    std::string specifier;
    bool fail_read;
    bool stop;
    std::string said;    // part of the last notice; empty: none
    bool named = false;  // the new file named from the start, where Linux would not name it
  };
  const std::string kept = hybrid::text::hfs_image_kept_suffix;
  const std::vector<round> rounds = {
      {"unknown specifier", "X340", false, false, hybrid::text::unknown_specifier("X340")},
      {"cancelled choice", cdrom() ? "C350" : "A350", false, false, ""},
      {"failed read", specifier(), true, false, kept},
      {"interrupt", specifier(), false, true, hybrid::text::stopped + kept},
      {"failed read, named", specifier(), true, false, kept, true},
      {"interrupt, named", specifier(), false, true, hybrid::text::stopped + kept, true},
  };
  const auto extract = [&](const std::string& specifier, test::scripted_questions& ask) {
    hybrid::job_request request;
    request.source = hybrid::source_kind::drive;
    request.device = cdrom() ? hybrid::device_kind::cdrom : hybrid::device_kind::scsi;
    request.device_text = specifier;
    request.target = hybrid::target_kind::hfs_image;
    request.target_path = target;
    hybrid::job_outlets out;
    out.show_message = [](const std::string&) {};
    out.set_status = [](const std::string&) {};
    out.ask = &ask;
    return hybrid::dispatch_job(request, out);
  };
  for (const round& r : rounds) {
    SCOPED_TRACE(r.what);
    const test::named_new_files way(r.named);
    write_old();
    bus.clear_faults();
    if (r.fail_read) bus.fail_blocks(3, 4, unit(400), 1);
    test::scripted_questions ask;
    ask.stop = r.stop;
    EXPECT_EQ(extract(r.specifier, ask), 0);
    if (r.said.empty()) {
      EXPECT_TRUE(ask.notices.empty());
    } else {
      ASSERT_FALSE(ask.notices.empty());
      EXPECT_NE(ask.notices.back().find(r.said), std::string::npos) << ask.notices.back();
    }
    EXPECT_EQ(read_target(), old_image);
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1);
  }
  // A completed job puts the whole volume in the file's place.
  bus.clear_faults();
  test::scripted_questions ask;
  EXPECT_EQ(extract(specifier(), ask), 1);
  EXPECT_EQ(read_target(), disk_image());
  EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1);
  fs::remove_all(folder);
  std::remove(two_path.c_str());
}

INSTANTIATE_TEST_SUITE_P(DiskAndCdrom, BusFaults,
                         ::testing::Values(scsi::sim_kind::disk, scsi::sim_kind::cdrom),
                         [](const auto& case_info) {
                           return case_info.param == scsi::sim_kind::disk ? "Disk" : "Cdrom";
                         });

}  // namespace
