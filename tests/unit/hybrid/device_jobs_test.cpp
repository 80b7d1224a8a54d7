#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "fake_bus.h"
#include "hybrid/device/device_read.h"
#include "hybrid/io/file_stream.h"
#include "hybrid/io/memory_stream.h"
#include "hybrid/jobs.h"
#include "hybrid/messages.h"
#include "scsi/aspi_defs.h"
#include "scsi/device_state.h"
#include "test_support.h"

namespace {

namespace text = hybrid::text;
using hybrid::memory_stream;
using test::bus_scope;
using test::fake_bus;

constexpr std::uint8_t jobs_host = 1, disk_target = 2;

// Two Apple_HFS partitions among other entries, as a real disk's map has.
std::vector<std::uint8_t> two_partition_disk() {
  return test::hfs_image({{"Apple_partition_map", "Apple", 1, 63},
                          {"Apple_HFS", "One", 64, 100},
                          {"Apple_Free", "", 164, 10},
                          {"Apple_HFS", "Two", 174, 50}},
                         240);
}

struct DeviceJobs : ::testing::Test {
  fake_bus bus;
  bus_scope scope{bus};
  test::scripted_questions user;
  // Not a whole number of blocks, as ISO images from some tools are.
  std::vector<std::uint8_t> iso_before = test::iso_image(40000);
  memory_stream iso{"cd.iso", iso_before};

  void attach(std::vector<std::uint8_t> data, bool cdrom) {
    bus.devices[{jobs_host, disk_target}] = test::device_of(std::move(data), cdrom);
  }
  // Fails every read whose range covers `block` (in 512-byte blocks).
  void fail_reads_of(std::uint32_t block) {
    bus.fault = [this, block](const scsi::SRB_ExecSCSICmd& exec) -> std::uint8_t {
      const auto& device = bus.devices[{jobs_host, disk_target}];
      const std::uint32_t per = device.block_bytes / 512;
      const bool ten = exec.CDBByte[0] == 0x28;
      const std::uint32_t first = ten ? hybrid::get_be32(exec.CDBByte + 2)
                                      : (std::uint32_t{exec.CDBByte[1]} << 16 |
                                         std::uint32_t{exec.CDBByte[2]} << 8 | exec.CDBByte[3]);
      const std::uint32_t count = exec.SRB_BufLen / device.block_bytes;
      return block >= first * per && block < (first + count) * per ? scsi::SS_ERR : 0;
    };
  }
  std::vector<std::uint8_t> file_job_result(const std::vector<std::uint8_t>& source, int answer) {
    memory_stream hfs{"source.img", source};
    memory_stream expected{"cd.iso", iso_before};
    test::scripted_questions file_user;
    file_user.partition_answer = answer;
    EXPECT_EQ(test::told(hybrid::hybridize_from_file(hfs, expected, file_user), file_user), 1);
    return expected.bytes();
  }
};

// The device job and the file job build the same hybrid from the same
// volume, whether it sits on a disk, on a CD-ROM or in a file.
TEST_F(DeviceJobs, HybridMatchesTheFileJobOnEveryPath) {
  const auto source = two_partition_disk();
  for (const bool cdrom : {false, true}) {
    for (const int answer : {hybrid::choice_all, 1, 0}) {
      SCOPED_TRACE(std::string(cdrom ? "cd " : "disk ") + std::to_string(answer));
      attach(source, cdrom);
      memory_stream target{"cd.iso", iso_before};
      user.partition_answer = answer;
      EXPECT_EQ(
          test::told(hybrid::hybridize_from_device(cdrom ? "C120" : "A120", target, user), user),
          1);
      EXPECT_EQ(target.bytes(), file_job_result(source, answer));
      EXPECT_TRUE(user.notices.empty());
    }
  }
  EXPECT_EQ(user.partition_questions, 6);
}

TEST_F(DeviceJobs, OnePartitionIsMergedWithoutAQuestion) {
  const auto source = test::hfs_image(
      {{"Apple_partition_map", "Apple", 1, 63}, {"Apple_HFS", "Only", 64, 40}}, 104);
  attach(source, false);
  EXPECT_EQ(test::told(hybrid::hybridize_from_device("A120", iso, user), user), 1);
  EXPECT_EQ(user.partition_questions, 0);
  EXPECT_EQ(iso.bytes(), file_job_result(source, hybrid::choice_all));
}

TEST_F(DeviceJobs, RefusalsTouchNeitherDeviceNorImage) {
  attach(two_partition_disk(), false);
  auto hybrid_iso = iso_before;
  hybrid_iso[0] = 'E';
  hybrid_iso[1] = 'R';
  memory_stream already{"old.iso", hybrid_iso};
  EXPECT_EQ(test::told(hybrid::hybridize_from_device("A120", already, user), user), 0);
  EXPECT_TRUE(bus.sent.empty());

  // A refused specifier leaves the device the dialog chose, in both jobs.
  scsi::devices().src_host = 3;
  scsi::devices().src_target = 5;
  EXPECT_EQ(test::told(hybrid::hybridize_from_device("a:", iso, user), user), 0);
  EXPECT_EQ(test::told(hybrid::hybridize_from_device("a12", iso, user), user), 0);
  EXPECT_EQ(test::told(hybrid::hybridize_from_device("Q:", iso, user), user), 0);
  memory_stream image{"out.img"};
  EXPECT_EQ(test::told(hybrid::extract_to_hfs_image("Q:", image, user), user), 0);
  EXPECT_EQ(scsi::devices().src_host, 3);
  EXPECT_EQ(scsi::devices().src_target, 5);
  EXPECT_TRUE(bus.sent.empty());
  ASSERT_EQ(user.notices.size(), 5u);
  EXPECT_EQ(user.notices[0], text::already_hybrid);
  EXPECT_EQ(user.notices[1], text::floppy_not_direct);
  EXPECT_EQ(user.notices[2], text::unknown_specifier("a12"));
  EXPECT_EQ(user.notices[3], text::no_floppy_drive('Q'));
  EXPECT_EQ(iso.bytes(), iso_before);
}

// The ISO image is looked at as in the file job, before the device is read:
// a Cancel or a refusal sends no request and writes nothing; OK to both
// questions gives the file job's hybrid, appended at the end of the volume.
TEST_F(DeviceJobs, TheIsoImageIsCheckedAsInTheFileJob) {
  attach(two_partition_disk(), false);
  auto target = test::iso_image(40960);
  target[510] = 0x55;
  target[511] = 0xAA;
  target = test::with_bytes_after_volume(target, 1000);
  auto volume_header = iso_before;
  std::memcpy(volume_header.data() + 1024, "H+", 2);

  for (const bool second_answer : {false, true}) {
    memory_stream cancelled{"cd.iso", target};
    user.warning_answers = {true, second_answer};
    if (second_answer) user.warning_answers.push_front(false);
    EXPECT_EQ(test::told(hybrid::hybridize_from_device("A120", cancelled, user), user), 0);
    EXPECT_EQ(cancelled.bytes(), target);
  }
  memory_stream mac{"mac.iso", volume_header};
  EXPECT_EQ(test::told(hybrid::hybridize_from_device("A120", mac, user), user), 0);
  EXPECT_EQ(mac.bytes(), volume_header);
  EXPECT_TRUE(bus.sent.empty());
  EXPECT_EQ(user.notices, std::vector<std::string>{text::already_hybrid});
  ASSERT_EQ(user.warnings.size(), 3u);
  EXPECT_EQ(user.warnings[0],
            text::system_area_in_use(text::system_area_holding(true, false), true));
  EXPECT_EQ(user.warnings[1], text::bytes_after_volume(1000));

  memory_stream accepted{"cd.iso", target};
  user.warning_answers = {true, true};
  user.partition_answer = hybrid::choice_all;
  EXPECT_EQ(test::told(hybrid::hybridize_from_device("A120", accepted, user), user), 1);
  memory_stream hfs{"source.img", two_partition_disk()};
  memory_stream expected{"cd.iso", target};
  test::scripted_questions file_user;
  file_user.warning_answers = {true, true};
  file_user.partition_answer = hybrid::choice_all;
  EXPECT_EQ(test::told(hybrid::hybridize_from_file(hfs, expected, file_user), file_user), 1);
  EXPECT_EQ(accepted.bytes(), expected.bytes());
  EXPECT_EQ(hybrid::get_be32(accepted.bytes().data() + 1024 + 8), 40960u / 512);
}

TEST_F(DeviceJobs, SpecifierDigitsReplaceOnlyWhatTheyName) {
  scsi::devices().src_host = 1;
  attach(std::vector<std::uint8_t>(64 * 512), false);
  bus.devices[{jobs_host, 7}] = bus.devices[{jobs_host, disk_target}];
  EXPECT_EQ(test::told(hybrid::hybridize_from_device("AX7", iso, user), user), 0);
  EXPECT_EQ(scsi::devices().src_host, 1);
  EXPECT_EQ(scsi::devices().src_target, 7);
  EXPECT_EQ(user.notices, std::vector<std::string>{text::not_mac_volume});
  for (const auto& command : bus.commands()) EXPECT_NE(command.op, 0);
  EXPECT_EQ(iso.bytes(), iso_before);
}

TEST_F(DeviceJobs, DiskWithAMapButNoDriverDescriptorIsAccepted) {
  auto source = two_partition_disk();
  std::memset(source.data(), 0, 512);
  attach(source, false);
  user.partition_answer = 1;
  EXPECT_EQ(test::told(hybrid::hybridize_from_device("A120", iso, user), user), 1);
  EXPECT_EQ(scsi::devices().src_block_size, 512);
  EXPECT_EQ(test::slice(iso.bytes(), 40448, 50 * 512), test::slice(source, 174 * 512, 50 * 512));
}

// Found by fuzzing: merging a map whose block 0 is no Driver Descriptor (or
// one of 2048-byte blocks) gave a hybrid without "ER" or with the wrong
// block size. Block 0 of a merged hybrid is always ours.
TEST_F(DeviceJobs, MergedHybridsAlwaysStartWithADriverDescriptor) {
  auto source = two_partition_disk();
  std::memset(source.data(), 0, 512);
  attach(source, false);
  user.partition_answer = hybrid::choice_all;
  EXPECT_EQ(test::told(hybrid::hybridize_from_device("A120", iso, user), user), 1);
  EXPECT_EQ(iso.bytes()[0], 'E');
  EXPECT_EQ(iso.bytes()[1], 'R');
  EXPECT_EQ(hybrid::get_be16(iso.bytes().data() + 2), 512);
  EXPECT_EQ(iso.bytes(), file_job_result(source, hybrid::choice_all));

  hybrid::put_be16(source.data() + 2, 2048);
  source[0] = 'E';
  source[1] = 'R';
  EXPECT_EQ(hybrid::get_be16(file_job_result(source, hybrid::choice_all).data() + 2), 512);
}

TEST_F(DeviceJobs, DisksOfOtherBlockSizesAreRefusedClearly) {
  test::fake_device optical;
  optical.type = 7;
  optical.block_bytes = 2048;
  optical.data = std::vector<std::uint8_t>(64 * 2048);
  bus.devices[{jobs_host, disk_target}] = optical;
  EXPECT_EQ(test::told(hybrid::hybridize_from_device("A120", iso, user), user), 0);
  EXPECT_EQ(test::told(hybrid::hybridize_from_device("A150", iso, user), user), 0);
  ASSERT_EQ(user.notices.size(), 2u);
  EXPECT_EQ(user.notices[0], text::unsupported_block_size(2048));
  EXPECT_EQ(user.notices[1], text::device_silent(false, 1, 5));
  EXPECT_EQ(iso.bytes(), iso_before);
}

// A read that fails after the retries stops the job, names the blocks, and
// the ISO image is put back byte for byte, wherever the failure falls.
TEST_F(DeviceJobs, ReadFailuresRestoreTheIsoImage) {
  const auto source = two_partition_disk();
  using unit = hybrid::device_failure::unit;
  struct probe {
    bool cdrom;
    std::uint32_t block;
    // The transfer named: its unit, first address and length.
    unit place;
    std::uint32_t address, count;
  };
  const probe probes[] = {
      {false, 0, unit::disk_block, 0, 1},
      {false, 3, unit::disk_block, 3, 1},
      {false, 180, unit::disk_block, 174, 50},
      {false, 223, unit::disk_block, 174, 50},
      {true, 1, unit::cd_block, 0, 1},
      {true, 100, unit::cd_sector, 16, 25},
      {true, 175, unit::cd_block, 174, 1},  // the partial sector before the data
      {true, 223, unit::cd_sector, 44, 12},
      // The volume header of "One", read to judge the hybrid before any write.
      {false, 66, unit::disk_block, 66, 1},
      {true, 65, unit::cd_block, 66, 1},
  };
  for (const probe& p : probes) {
    SCOPED_TRACE(p.block);
    attach(source, p.cdrom);
    fail_reads_of(p.block);
    test::scripted_questions one;
    one.partition_answer = hybrid::choice_all;
    memory_stream target{"cd.iso", iso_before};
    EXPECT_EQ(
        test::told(hybrid::hybridize_from_device(p.cdrom ? "C120" : "A120", target, one), one), 0);
    ASSERT_EQ(one.notices.size(), 1u);
    const hybrid::device_failure failure{hybrid::device_failure::what::read, p.place, p.address,
                                         p.count, scsi::SS_ERR};
    EXPECT_EQ(one.notices[0].rfind(text::device_read_failed(failure, 1, 2), 0), 0u)
        << one.notices[0];
    EXPECT_EQ(target.bytes(), iso_before);
  }
}

TEST_F(DeviceJobs, ARequestThatNeverEndsIsAbortedAndUndone) {
  attach(two_partition_disk(), false);
  bus.hang_from_transfer = 8;
  user.partition_answer = hybrid::choice_all;
  EXPECT_EQ(test::told(hybrid::hybridize_from_device("A120", iso, user), user), 0);
  ASSERT_EQ(user.notices.size(), 1u);
  EXPECT_NE(user.notices[0].find("(ASPI status 02h)"), std::string::npos);
  EXPECT_EQ(iso.bytes(), iso_before);

  // The same read aborted because the user stopped the job says so.
  for (const int hang_from : {1, 2, 8}) {
    SCOPED_TRACE(hang_from);
    bus.hang_from_transfer = hang_from;
    bus.sent.clear();
    user.notices.clear();
    user.stop = true;
    EXPECT_EQ(test::told(hybrid::hybridize_from_device("A120", iso, user), user), 0);
    ASSERT_EQ(user.notices.size(), 1u);
    EXPECT_EQ(user.notices[0].rfind(text::stopped, 0), 0u) << user.notices[0];
    EXPECT_EQ(iso.bytes(), iso_before);
  }
}

TEST_F(DeviceJobs, ExtractionCopiesTheVolumeOrWrapsTheChosenPartition) {
  const auto source = two_partition_disk();
  for (const bool cdrom : {false, true}) {
    attach(source, cdrom);
    memory_stream whole{"whole.img"};
    user.partition_answer = hybrid::choice_all;
    EXPECT_EQ(test::told(hybrid::extract_to_hfs_image(cdrom ? "C120" : "A120", whole, user), user),
              1);
    EXPECT_EQ(whole.bytes(), source);  // the first D blocks, its own map included

    memory_stream chosen{"two.img"};
    user.partition_answer = 1;
    EXPECT_EQ(test::told(hybrid::extract_to_hfs_image(cdrom ? "C120" : "A120", chosen, user), user),
              1);
    ASSERT_EQ(chosen.bytes().size(), (64u + 50) * 512);
    EXPECT_EQ(hybrid::get_be32(chosen.bytes().data() + 4), 114u);
    EXPECT_EQ(test::slice(chosen.bytes(), 64 * 512, 50 * 512),
              test::slice(source, 174 * 512, 50 * 512));
    // The file job takes the result as a source.
    memory_stream again{"two.img", chosen.bytes()};
    memory_stream target{"cd.iso", iso_before};
    EXPECT_EQ(test::told(hybrid::hybridize_from_file(again, target, user), user), 1);
  }
  EXPECT_TRUE(user.notices.empty());
}

TEST_F(DeviceJobs, ExtractionFailuresLeaveTheImageEmpty) {
  auto source = two_partition_disk();
  attach(source, false);
  fail_reads_of(120);
  memory_stream image{"out.img"};
  user.partition_answer = hybrid::choice_all;
  EXPECT_EQ(test::told(hybrid::extract_to_hfs_image("A120", image, user), user), 0);
  EXPECT_TRUE(image.bytes().empty());
  ASSERT_EQ(user.notices.size(), 1u);
  const hybrid::device_failure first_transfer{hybrid::device_failure::what::read,
                                              hybrid::device_failure::unit::disk_block, 0, 128,
                                              scsi::SS_ERR};
  EXPECT_EQ(user.notices[0],
            text::device_read_failed(first_transfer, 1, 2) + text::hfs_image_kept_suffix);

  // A CD-ROM needs both signatures, a disk either one.
  bus.fault = nullptr;
  source[512] = 'X';
  attach(source, true);
  EXPECT_EQ(test::told(hybrid::extract_to_hfs_image("C120", image, user), user), 0);
  EXPECT_EQ(user.notices.back(), text::not_mac_volume);
  attach(source, false);
  EXPECT_EQ(test::told(hybrid::extract_to_hfs_image("A120", image, user), user), 1);

  // A Driver Descriptor without a block count: the map still says how far
  // the volume goes.
  hybrid::put_be32(source.data() + 4, 0);
  attach(source, false);
  memory_stream no_count{"none.img"};
  EXPECT_EQ(test::told(hybrid::extract_to_hfs_image("A120", no_count, user), user), 1);
  EXPECT_EQ(no_count.bytes(), test::slice(source, 0, 224 * 512));

  EXPECT_EQ(test::told(hybrid::extract_to_hfs_image("X120", image, user), user), 0);
  EXPECT_EQ(user.notices.back(), text::unknown_specifier("X120"));

  // A chosen partition without blocks is refused as every failure is.
  attach(test::hfs_image({{"Apple_partition_map", "Apple", 1, 63},
                          {"Apple_HFS", "One", 64, 100},
                          {"Apple_HFS", "Empty", 164, 0}},
                         240),
         false);
  user.partition_answer = 1;
  memory_stream empty{"empty.img"};
  EXPECT_EQ(test::told(hybrid::extract_to_hfs_image("A120", empty, user), user), 0);
  EXPECT_TRUE(empty.bytes().empty());
  EXPECT_EQ(user.notices.back(),
            text::chosen_partition_empty("Empty") + text::hfs_image_kept_suffix);
}

// A whole-volume copy is all the map describes and all the Driver
// Descriptor counts (in its own block size), never more than the device
// holds; a map that points past the device is refused. It used to trust the
// count alone: a disk with PM entries only, whose block 0 said 100, gave a
// 100-block image that the file job then refused, and a CD-ROM whose count
// was in 2048-byte blocks a quarter of its volume; both "completed".
TEST_F(DeviceJobs, WholeVolumeIsAllTheMapDescribesOrRefused) {
  struct volume {
    const char* what;
    bool cdrom;
    std::vector<test::map_entry> entries;
    std::uint32_t device_blocks;
    bool descriptor;
    std::uint16_t descriptor_unit;
    std::uint32_t descriptor_count;
    std::uint32_t copied_blocks;  // 0: refused
  };
  const std::vector<volume> volumes = {
      {"PM entries only, block 0 says 100",
       false,
       {{"Apple_partition_map", "Apple", 1, 63}, {"Apple_HFS", "MacOS", 64, 150}},
       240,
       false,
       512,
       100,
       214},
      {"CD-ROM counting 2048-byte blocks",
       true,
       {{"Apple_partition_map", "Apple", 1, 63}, {"Apple_HFS", "MacOS", 64, 1600}},
       1664,
       true,
       2048,
       416,
       1664},
      {"count past the device",
       false,
       {{"Apple_partition_map", "Apple", 1, 63}, {"Apple_HFS", "MacOS", 64, 100}},
       240,
       true,
       512,
       1000,
       240},
      {"count beyond the map",
       false,
       {{"Apple_partition_map", "Apple", 1, 63}, {"Apple_HFS", "MacOS", 64, 100}},
       240,
       true,
       512,
       200,
       200},
      {"map past the disk",
       false,
       {{"Apple_partition_map", "Apple", 1, 63}, {"Apple_HFS", "MacOS", 64, 300}},
       240,
       true,
       512,
       240,
       0},
      {"map past the CD-ROM",
       true,
       {{"Apple_partition_map", "Apple", 1, 63}, {"Apple_HFS", "MacOS", 64, 300}},
       240,
       true,
       2048,
       60,
       0},
  };
  for (const volume& v : volumes) {
    SCOPED_TRACE(v.what);
    auto source = test::hfs_image(v.entries, v.device_blocks);
    if (!v.descriptor) source[0] = source[1] = 0;
    hybrid::put_be16(source.data() + 2, v.descriptor_unit);
    hybrid::put_be32(source.data() + 4, v.descriptor_count);
    attach(source, v.cdrom);
    memory_stream image{"whole.img"};
    user.partition_answer = hybrid::choice_all;
    user.notices.clear();
    const int done =
        test::told(hybrid::extract_to_hfs_image(v.cdrom ? "C120" : "A120", image, user), user);
    if (v.copied_blocks == 0) {
      EXPECT_EQ(done, 0);
      EXPECT_TRUE(image.bytes().empty());
      ASSERT_EQ(user.notices.size(), 1u);
      EXPECT_EQ(user.notices[0], text::map_past_device_end(v.cdrom, 364, 240));
      continue;
    }
    EXPECT_EQ(done, 1);
    EXPECT_TRUE(user.notices.empty());
    EXPECT_EQ(image.bytes(), test::slice(source, 0, std::size_t{v.copied_blocks} * 512));
  }
  // The same disks as image files: the same volume, or a refusal in the
  // file's words.
  for (const volume& v : volumes) {
    if (v.cdrom) continue;
    SCOPED_TRACE(std::string("file: ") + v.what);
    auto bytes = test::hfs_image(v.entries, v.device_blocks);
    if (!v.descriptor) bytes[0] = bytes[1] = 0;
    hybrid::put_be16(bytes.data() + 2, v.descriptor_unit);
    hybrid::put_be32(bytes.data() + 4, v.descriptor_count);
    memory_stream source{"disk.img", bytes};
    memory_stream image{"whole.img"};
    user.notices.clear();
    const int done = test::told(hybrid::extract_from_image_file(source, image, user), user);
    EXPECT_EQ(done, v.copied_blocks != 0 ? 1 : 0);
    EXPECT_EQ(image.bytes(), test::slice(bytes, 0, std::size_t{v.copied_blocks} * 512));
    EXPECT_EQ(user.notices,
              v.copied_blocks != 0
                  ? std::vector<std::string>{}
                  : std::vector<std::string>{text::map_past_file_end("disk.img", 364, 240) +
                                             text::hfs_image_kept_suffix});
  }
}

// An image file gives the HFS image its disk would give, whatever the
// answer.
TEST_F(DeviceJobs, AnImageFileIsExtractedAsItsDiskIs) {
  const auto bytes = two_partition_disk();
  attach(bytes, false);
  for (const int answer : {hybrid::choice_all, 0, 1}) {
    SCOPED_TRACE(answer);
    user.partition_answer = answer;
    memory_stream from_disk{"disk.out"}, from_file{"file.out"}, source{"disk.img", bytes};
    EXPECT_EQ(test::told(hybrid::extract_to_hfs_image("A120", from_disk, user), user), 1);
    EXPECT_EQ(test::told(hybrid::extract_from_image_file(source, from_file, user), user), 1);
    EXPECT_EQ(from_file.bytes(), from_disk.bytes());
    EXPECT_EQ(source.bytes(), bytes);
  }
  EXPECT_TRUE(user.notices.empty());
}

// A bare volume goes behind a fresh map, as the hybrid job takes it; what
// holds no volume, or only part of one, or cannot be read whole, leaves the
// new image empty and says so; the source is never written.
TEST_F(DeviceJobs, AnImageFileWithoutAUsableMapIsWrappedOrRefused) {
  const auto bare = test::bare_volume("BD", 40 * 512);
  memory_stream map{"map"};
  ASSERT_TRUE(hybrid::write_partition_map(map, 104, 64, 40));
  auto wrapped = map.bytes();
  wrapped.insert(wrapped.end(), bare.begin(), bare.end());
  const std::string kept = text::hfs_image_kept_suffix;
  struct row {
    const char* what;
    std::vector<std::uint8_t> source;
    bool fail_last;  // the last operation on the source, the copy's read, fails
    std::vector<std::uint8_t> result;
    std::string notice;
  };
  const std::vector<row> rows = {
      {"a bare volume", bare, false, wrapped, ""},
      {"an ISO image", iso_before, false, {}, text::no_hfs_partition + kept},
      {"a volume cut short",
       test::bare_volume("BD", 30 * 512, 40 * 512),
       false,
       {},
       text::bare_volume_incomplete("disk.img", 40 * 512, 30 * 512) + kept},
      {"a read that fails in the copy", two_partition_disk(), true, {}, "the read's failure"},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.what);
    test::scripted_questions one;
    one.partition_answer = 0;
    test::failing_stream source{"disk.img", r.source};
    if (r.fail_last) {
      test::failing_stream counted{"disk.img", r.source};
      memory_stream ignored{"ignored.img"};
      ASSERT_EQ(hybrid::extract_from_image_file(counted, ignored, one).code(), 1);
      source.fail_at = counted.operations;
    }
    memory_stream image{"out.img"};
    EXPECT_EQ(test::told(hybrid::extract_from_image_file(source, image, one), one),
              r.notice.empty() ? 1 : 0);
    EXPECT_EQ(image.bytes(), r.result);
    const std::string notice =
        r.fail_last ? text::io_failure(text::failed_operation::read, source) + kept : r.notice;
    EXPECT_EQ(one.notices,
              notice.empty() ? std::vector<std::string>{} : std::vector<std::string>{notice});
    EXPECT_EQ(source.bytes(), r.source);
  }
}

TEST_F(DeviceJobs, CapacityCancelLeavesTheImageAlone) {
  // 1,249,900 blocks of ISO plus 100 of the first partition fill a CD-ROM
  // exactly; the second partition's 50 go over. A sparse file keeps the
  // test small.
  attach(two_partition_disk(), false);
  const std::string path = ::testing::TempDir() + "zelvorant_capacity_" +
                           std::to_string(static_cast<long>(::getpid())) + ".iso";
  const std::uint64_t iso_length = std::uint64_t{1249900} * 512;
  // The volume takes in the whole sparse file.
  test::put_iso_both_endian32(iso_before.data() + 32768 + 80,
                              static_cast<std::uint32_t>(iso_length / 2048));
  {
    hybrid::file_stream create(path, "w+b");
    ASSERT_TRUE(create.write(iso_before.data(), iso_before.size()));
    ASSERT_TRUE(create.truncate(iso_length));
  }
  hybrid::file_stream large(path, "r+b");
  user.partition_answer = hybrid::choice_all;
  EXPECT_EQ(test::told(hybrid::hybridize_from_device("A120", large, user), user), 0);
  ASSERT_EQ(user.warnings.size(), 1u);
  EXPECT_EQ(user.warnings[0], text::cd_capacity_warning(1250050));
  std::uint64_t length = 0;
  std::vector<std::uint8_t> head(iso_before.size());
  ASSERT_TRUE(large.length(length) && large.seek(0) &&
              hybrid::read_exact(large, head.data(), head.size()));
  EXPECT_EQ(length, iso_length);
  EXPECT_TRUE(head == iso_before);

  user.partition_answer = 0;  // the first alone fits exactly: no warning
  EXPECT_EQ(test::told(hybrid::hybridize_from_device("A120", large, user), user), 1);
  EXPECT_EQ(user.warnings.size(), 1u);
  ASSERT_TRUE(large.length(length));
  EXPECT_EQ(length, std::uint64_t{1250000} * 512);
  std::remove(path.c_str());
}

}  // namespace
