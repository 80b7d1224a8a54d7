// The simulated bus driven the way the request layer drives it: raw request
// blocks through SendASPI32Command, then a wait on SRB_Status.
#include "scsi/sim/simulated_bus.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "scsi/aspi_defs.h"
#include "scsi/aspi_manager.h"
#include "test_support.h"

namespace {

using namespace scsi;
using bytes = std::vector<std::uint8_t>;

constexpr std::uint8_t key_medium_error = 0x03;
constexpr std::uint8_t key_illegal_request = 0x05;
constexpr std::uint8_t key_data_protect = 0x07;

// Every byte differs from its neighbours and from the same offset in other
// blocks, so a read from the wrong place cannot match.
bytes pattern(std::size_t size, unsigned seed = 0) {
  bytes data(size);
  for (std::size_t i = 0; i < size; ++i) {
    data[i] = static_cast<std::uint8_t>(i * 7 + i / 512 * 13 + seed);
  }
  return data;
}

class temp_image {
 public:
  explicit temp_image(const bytes& data, std::uint64_t sparse_length = 0)
      : path_(test::unique_temp_path("zelvorant-sim")) {
    std::ofstream out(path_, std::ios::binary);
    out.write(reinterpret_cast<const char*>(data.data()),
              static_cast<std::streamsize>(data.size()));
    out.close();
    std::error_code failed;
    if (sparse_length != 0) std::filesystem::resize_file(path_, sparse_length, failed);
    if (!out || failed) path_.clear();
  }
  ~temp_image() { std::remove(path_.c_str()); }
  temp_image(const temp_image&) = delete;
  temp_image& operator=(const temp_image&) = delete;

  const std::string& path() const { return path_; }
  bytes read(std::uint64_t offset, std::size_t size) const {
    bytes data(size);
    std::ifstream in(path_, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(offset));
    in.read(reinterpret_cast<char*>(data.data()), static_cast<std::streamsize>(size));
    data.resize(static_cast<std::size_t>(in.gcount()));
    return data;
  }
  void write(std::uint64_t offset, const bytes& data) const {
    std::fstream out(path_, std::ios::binary | std::ios::in | std::ios::out);
    out.seekp(static_cast<std::streamoff>(offset));
    out.write(reinterpret_cast<const char*>(data.data()),
              static_cast<std::streamsize>(data.size()));
    out.flush();
    EXPECT_TRUE(out.good()) << "cannot write " << path_;
  }

 private:
  std::string path_;
};

std::uint8_t wait_for(request_block& block) {
  std::atomic_ref<std::uint8_t> status(block.header.SRB_Status);
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (status.load(std::memory_order_acquire) == SS_PENDING &&
         std::chrono::steady_clock::now() < give_up) {
    std::this_thread::sleep_for(std::chrono::microseconds(100));
  }
  return status.load(std::memory_order_acquire);
}

// Sends and waits; a status returned at once must also be in the block.
std::uint8_t run(request_block& block) {
  const std::uint32_t returned = SendASPI32Command(&block);
  if (returned != SS_PENDING) {
    EXPECT_EQ(returned, block.header.SRB_Status);
    return static_cast<std::uint8_t>(returned);
  }
  return wait_for(block);
}

request_block command(std::uint8_t cmd, std::uint8_t host, std::uint8_t target = 0) {
  request_block block{};
  block.header.SRB_Cmd = cmd;
  block.header.SRB_HaId = host;
  if (cmd != SC_HA_INQUIRY && cmd != SC_ABORT_SRB) block.device.SRB_Target = target;
  return block;
}

request_block exec(std::uint8_t host, std::uint8_t target, std::initializer_list<std::uint8_t> cdb,
                   std::uint8_t* buffer = nullptr, std::size_t buf_len = 0,
                   std::uint8_t flags = 0) {
  request_block block = command(SC_EXEC_SCSI_CMD, host, target);
  block.exec.SRB_Flags = flags;
  block.exec.SRB_BufPointer = buffer;
  block.exec.SRB_BufLen = static_cast<std::uint32_t>(buf_len);
  block.exec.SRB_SenseLen = sense_bytes_asked;
  block.exec.SRB_CDBLen = static_cast<std::uint8_t>(cdb.size());
  std::copy(cdb.begin(), cdb.end(), block.exec.CDBByte);
  return block;
}

std::uint8_t b(std::uint32_t value, int shift) { return static_cast<std::uint8_t>(value >> shift); }

// CDBs of the transfers; `opcode` picks READ or WRITE.
request_block rw6(std::uint8_t opcode, std::uint8_t target, std::uint32_t lba, std::uint8_t count,
                  bytes& buffer, std::uint8_t flags = 0) {
  return exec(0, target, {opcode, b(lba, 16), b(lba, 8), b(lba, 0), count, 0}, buffer.data(),
              buffer.size(), flags);
}
request_block rw10(std::uint8_t opcode, std::uint8_t target, std::uint32_t lba, std::uint16_t count,
                   bytes& buffer, std::uint8_t flags = 0) {
  return exec(
      0, target,
      {opcode, 0, b(lba, 24), b(lba, 16), b(lba, 8), b(lba, 0), 0, b(count, 8), b(count, 0), 0},
      buffer.data(), buffer.size(), flags);
}

struct sense_seen {
  std::uint8_t key, asc;
};
// A check condition as the request layer reads it back.
sense_seen check_condition(const request_block& block) {
  EXPECT_EQ(block.exec.SRB_Status, SS_ERR);
  EXPECT_EQ(block.exec.SRB_TargStat, STATUS_CHKCOND);
  const std::uint8_t* sense = block.bytes + offsetof(SRB_ExecSCSICmd, SenseArea);
  EXPECT_EQ(sense[0], 0x70);
  return {static_cast<std::uint8_t>(sense[2] & 0x0F), sense[12]};
}

class SimulatedBus : public ::testing::Test {
 protected:
  void SetUp() override { install_aspi_manager(&bus); }
  void TearDown() override { install_aspi_manager(nullptr); }

  void attach(sim_kind kind, std::uint8_t host, std::uint8_t target, const temp_image& image,
              std::uint32_t block_bytes = 0, bool no_six_byte = false) {
    sim_device device;
    device.no_six_byte_transfers = no_six_byte;
    device.kind = kind;
    device.host = host;
    device.target = target;
    device.path = image.path();
    device.block_bytes = block_bytes;
    std::string error;
    ASSERT_TRUE(bus.attach(device, error)) << error;
  }

  simulated_bus bus;
};

constexpr std::uint8_t READ6 = 0x08, WRITE6 = 0x0A, READ10 = 0x28, WRITE10 = 0x2A;

TEST_F(SimulatedBus, HostAdaptersAndDeviceTypes) {
  EXPECT_EQ(GetASPI32SupportInfo(), std::uint32_t{SS_NO_ADAPTERS} << 8);

  temp_image disk(pattern(512 * 8)), cd(pattern(2048 * 4));
  attach(sim_device::kind::disk, 2, 3, disk);
  attach(sim_device::kind::cdrom, 0, 5, cd);
  EXPECT_EQ(GetASPI32SupportInfo(), (std::uint32_t{SS_COMP} << 8) | 3);

  bus.set_manager_id(1, "A MANAGER NAME LONGER THAN 16");
  bus.set_unique(1, {0x01, 0x02, 0x03});
  request_block empty_adapter = command(SC_HA_INQUIRY, 1);
  ASSERT_EQ(run(empty_adapter), SS_COMP);
  EXPECT_EQ(empty_adapter.inquiry.HA_Count, 3);
  EXPECT_EQ(empty_adapter.inquiry.HA_SCSI_ID, 7);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(empty_adapter.inquiry.HA_ManagerId), 16),
            "A MANAGER NAME L");
  EXPECT_EQ(empty_adapter.inquiry.HA_Unique[2], 0x03);
  request_block first = command(SC_HA_INQUIRY, 0);
  ASSERT_EQ(run(first), SS_COMP);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(first.inquiry.HA_ManagerId)),
            "SIMULATED BUS");  // zero-padded, so it ends as C text

  request_block beyond = command(SC_HA_INQUIRY, 3);
  beyond.inquiry.HA_Count = 0xEE;
  EXPECT_EQ(run(beyond), SS_INVALID_HA);
  EXPECT_EQ(beyond.inquiry.HA_Count, 0xEE);

  request_block type = command(SC_GET_DEV_TYPE, 2, 3);
  type.device.SRB_DeviceType = 0xEE;
  ASSERT_EQ(run(type), SS_COMP);
  EXPECT_EQ(type.device.SRB_DeviceType, 0);
  request_block cd_type = command(SC_GET_DEV_TYPE, 0, 5);
  ASSERT_EQ(run(cd_type), SS_COMP);
  EXPECT_EQ(cd_type.device.SRB_DeviceType, 5);
  request_block nobody = command(SC_GET_DEV_TYPE, 2, 4);
  EXPECT_EQ(run(nobody), SS_NO_DEVICE);
  request_block other_lun = command(SC_GET_DEV_TYPE, 2, 3);
  other_lun.device.SRB_Lun = 1;
  EXPECT_EQ(run(other_lun), SS_NO_DEVICE);
  request_block no_adapter = command(SC_GET_DEV_TYPE, 9, 0);
  EXPECT_EQ(run(no_adapter), SS_INVALID_HA);

  request_block strange = command(0x7F, 0);
  EXPECT_EQ(run(strange), SS_INVALID_CMD);
  bytes buffer(512);
  request_block to_nobody = rw10(READ10, 4, 0, 1, buffer);
  EXPECT_EQ(run(to_nobody), SS_NO_DEVICE);
  request_block no_cdb = exec(0, 5, {});
  EXPECT_EQ(run(no_cdb), SS_INVALID_SRB);
}

TEST_F(SimulatedBus, AttachRefusesWhatCannotWork) {
  temp_image disk(pattern(1024)), empty(bytes{});
  attach(sim_device::kind::disk, 0, 0, disk);
  const auto refused = [&](sim_device device) {
    std::string error;
    const bool attached = bus.attach(device, error);
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(error.find('\n'), std::string::npos);
    return !attached;
  };
  sim_device device;
  device.path = disk.path();
  EXPECT_TRUE(refused(device));  // the place is taken
  device.target = 8;
  EXPECT_TRUE(refused(device));
  device.target = 1;
  device.host = 10;
  EXPECT_TRUE(refused(device));
  device.host = 0;
  device.path = empty.path();
  EXPECT_TRUE(refused(device));
  device.path = empty.path() + ".missing";
  EXPECT_TRUE(refused(device));
  // A folder is no image, whatever length the system gives it.
  device.path = std::filesystem::temp_directory_path().string();
  std::string error;
  EXPECT_FALSE(bus.attach(device, error));
  EXPECT_EQ(error.rfind("cannot open " + device.path + ": ", 0), 0u) << error;
  device.path = disk.path();
  device.vendor = "NINECHARS";
  EXPECT_TRUE(refused(device));
  EXPECT_EQ(GetASPI32SupportInfo(), (std::uint32_t{SS_COMP} << 8) | 1);
}

TEST_F(SimulatedBus, InquiryAndCapacity) {
  temp_image disk(pattern(512 * 100 + 1)), cd(pattern(2048 * 10 + 100));
  attach(sim_device::kind::disk, 0, 0, disk);
  sim_device named;
  named.kind = sim_device::kind::cdrom;
  named.target = 1;
  named.path = cd.path();
  named.vendor = "ACME";
  named.product = "CD 4X";
  named.revision = "1";
  std::string error;
  ASSERT_TRUE(bus.attach(named, error)) << error;

  bytes data(100, 0xCC);
  request_block inquiry = exec(0, 1, {0x12, 0, 0, 0, 100, 0}, data.data(), data.size(), SRB_DIR_IN);
  ASSERT_EQ(run(inquiry), SS_COMP);
  EXPECT_EQ(data[0], 5);
  EXPECT_EQ(data[1] & 0x80, 0x80);  // removable
  EXPECT_EQ(std::string(data.begin() + 8, data.begin() + 36), "ACME    CD 4X           1   ");
  EXPECT_EQ(data[36], 0xCC);  // standard data only

  bytes disk_data(100, 0xCC);
  request_block limited = exec(0, 0, {0x12, 0, 0, 0, 20, 0}, disk_data.data(), 100);
  ASSERT_EQ(run(limited), SS_COMP);
  EXPECT_EQ(disk_data[0], 0);
  EXPECT_EQ(std::string(disk_data.begin() + 8, disk_data.begin() + 20), "ZELVRANTSIM ");
  EXPECT_EQ(disk_data[20], 0xCC);  // the allocation length holds
  auto small = std::make_unique<std::uint8_t[]>(5);
  request_block short_buffer = exec(0, 0, {0x12, 0, 0, 0, 36, 0}, small.get(), 5);
  EXPECT_EQ(run(short_buffer), SS_COMP);  // ASan watches the five bytes

  const auto capacity = [&](std::uint8_t target) {
    bytes answer(8);
    request_block block =
        exec(0, target, {0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}, answer.data(), 8, SRB_DIR_IN);
    EXPECT_EQ(run(block), SS_COMP);
    return answer;
  };
  EXPECT_EQ(capacity(0), (bytes{0, 0, 0, 100, 0, 0, 2, 0}));  // last block 100 is partial
  EXPECT_EQ(capacity(1), (bytes{0, 0, 0, 10, 0, 0, 8, 0}));
  auto four = std::make_unique<std::uint8_t[]>(4);
  request_block too_small = exec(0, 0, {0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}, four.get(), 4);
  EXPECT_EQ(run(too_small), SS_ERR);
}

TEST_F(SimulatedBus, ReadsMatchTheImageByteForByte) {
  const bytes content = pattern(512 * 300);
  temp_image disk(content);
  attach(sim_device::kind::disk, 0, 0, disk);
  const auto expect_blocks = [&](const bytes& got, std::size_t first, std::size_t count) {
    ASSERT_EQ(got.size(), count * 512);
    EXPECT_TRUE(std::equal(got.begin(), got.end(),
                           content.begin() + static_cast<std::ptrdiff_t>(first * 512)));
  };

  bytes three(3 * 512);
  request_block read6 = rw6(READ6, 0, 5, 3, three, SRB_DIR_IN);
  ASSERT_EQ(run(read6), SS_COMP);
  expect_blocks(three, 5, 3);
  bytes fifty(50 * 512);
  request_block read10 = rw10(READ10, 0, 250, 50, fifty);
  ASSERT_EQ(run(read10), SS_COMP);
  expect_blocks(fifty, 250, 50);
  bytes all(256 * 512);
  request_block count_zero = rw6(READ6, 0, 10, 0, all);  // 0 means 256 blocks
  ASSERT_EQ(run(count_zero), SS_COMP);
  expect_blocks(all, 10, 256);
  bytes none(16, 0xCC);
  request_block zero_blocks = rw10(READ10, 0, 299, 0, none);  // moves nothing
  ASSERT_EQ(run(zero_blocks), SS_COMP);
  EXPECT_EQ(none, bytes(16, 0xCC));

  const sim_stats stats = bus.statistics();
  EXPECT_EQ(stats.transfers, 4u);
  EXPECT_EQ(stats.bytes_read, (3u + 50u + 256u) * 512u);
}

TEST_F(SimulatedBus, SixByteAddressesUseAll21BitsAndPartialBlocksReadAsZeros) {
  // A sparse disk of 2^21 blocks with a marker in a block only the top
  // address bits reach.
  temp_image big(bytes{}, std::uint64_t{1} << 30);
  const std::uint32_t far_block = 0x1F2345;
  big.write(std::uint64_t{far_block} * 512, pattern(512, 9));
  attach(sim_device::kind::disk, 0, 0, big);
  bytes block(512);
  request_block far = rw6(READ6, 0, far_block, 1, block);
  ASSERT_EQ(run(far), SS_COMP);
  EXPECT_EQ(block, pattern(512, 9));

  const bytes cd_content = pattern(2048 * 2 + 100, 3);
  temp_image cd(cd_content);
  attach(sim_device::kind::cdrom, 0, 1, cd);
  bytes tail(2048, 0xCC);
  request_block last = rw10(READ10, 1, 2, 1, tail);
  ASSERT_EQ(run(last), SS_COMP);
  EXPECT_TRUE(std::equal(tail.begin(), tail.begin() + 100, cd_content.begin() + 4096));
  EXPECT_EQ(bytes(tail.begin() + 100, tail.end()), bytes(1948, 0));
}

TEST_F(SimulatedBus, WritesLandInTheImageAndNowhereElse) {
  const bytes content = pattern(512 * 600);
  temp_image disk(content);
  attach(sim_device::kind::disk, 0, 0, disk);
  bytes expected = content;
  const auto write_and_track = [&](request_block block, std::uint32_t lba, const bytes& data) {
    ASSERT_EQ(run(block), SS_COMP);
    std::copy(data.begin(), data.end(), expected.begin() + lba * 512);
  };
  bytes two = pattern(2 * 512, 50);
  write_and_track(rw6(WRITE6, 0, 7, 2, two, SRB_DIR_OUT), 7, two);
  bytes three = pattern(3 * 512, 60);
  write_and_track(rw10(WRITE10, 0, 100, 3, three), 100, three);
  bytes many = pattern(256 * 512, 70);
  write_and_track(rw6(WRITE6, 0, 300, 0, many), 300, many);
  EXPECT_EQ(disk.read(0, expected.size()), expected);
  EXPECT_EQ(bus.statistics().bytes_written, (2u + 3u + 256u) * 512u);
}

// Sequential reads are served from the read-ahead; a write through any
// target that shares the image must make it stale, or the next read would
// return the old bytes.
TEST_F(SimulatedBus, ReadAheadNeverServesStaleBytes) {
  const bytes content = pattern(512 * 64);
  temp_image disk(content);
  attach(sim_device::kind::disk, 0, 0, disk);
  attach(sim_device::kind::disk, 0, 1, disk);  // the same file again
  bytes got(4 * 512);
  const auto transfer = [](request_block block) { return run(block); };
  for (std::uint32_t lba = 0; lba < 16; lba += 4) {
    ASSERT_EQ(transfer(rw10(READ10, 0, lba, 4, got)), SS_COMP);
    EXPECT_EQ(got, bytes(content.begin() + lba * 512, content.begin() + (lba + 4) * 512));
  }
  bytes fresh = pattern(4 * 512, 99);
  ASSERT_EQ(transfer(rw10(WRITE10, 1, 16, 4, fresh)), SS_COMP);  // what target 0 read ahead
  ASSERT_EQ(transfer(rw10(READ10, 0, 16, 4, got)), SS_COMP);
  EXPECT_EQ(got, fresh);
  ASSERT_EQ(transfer(rw10(WRITE10, 0, 20, 4, fresh)), SS_COMP);
  ASSERT_EQ(transfer(rw10(READ10, 0, 20, 4, got)), SS_COMP);
  EXPECT_EQ(got, fresh);
}

TEST_F(SimulatedBus, CheckConditionsCarrySense) {
  temp_image disk(pattern(512 * 20)), cd(pattern(2048 * 4));
  attach(sim_device::kind::disk, 0, 0, disk);
  attach(sim_device::kind::cdrom, 0, 1, cd);
  bytes buffer(512 * 4, 0xCC);

  request_block lun = rw6(READ6, 0, 0, 1, buffer);
  lun.exec.CDBByte[1] = 0x20;  // LUN 1
  ASSERT_EQ(run(lun), SS_ERR);
  EXPECT_EQ(check_condition(lun).key, key_illegal_request);
  EXPECT_EQ(check_condition(lun).asc, 0x25);

  request_block past_end = rw10(READ10, 0, 19, 2, buffer);
  ASSERT_EQ(run(past_end), SS_ERR);
  EXPECT_EQ(check_condition(past_end).key, key_illegal_request);
  EXPECT_EQ(check_condition(past_end).asc, 0x21);
  request_block far = rw6(READ6, 0, 20, 1, buffer);
  ASSERT_EQ(run(far), SS_ERR);
  EXPECT_EQ(check_condition(far).asc, 0x21);

  request_block unknown = exec(0, 0, {0xC7, 0, 0, 0, 0, 0});
  ASSERT_EQ(run(unknown), SS_ERR);
  EXPECT_EQ(check_condition(unknown).asc, 0x20);

  // A drive without the 6-byte transfers, as ATAPI ones are, reads with READ(10).
  attach(sim_device::kind::cdrom, 0, 2, cd, 0, true);
  for (const std::uint8_t opcode : {READ6, WRITE6}) {
    request_block six = rw6(opcode, 2, 0, 1, buffer, opcode == READ6 ? SRB_DIR_IN : SRB_DIR_OUT);
    ASSERT_EQ(run(six), SS_ERR);
    EXPECT_EQ(check_condition(six).key, key_illegal_request);
    EXPECT_EQ(check_condition(six).asc, 0x20);
  }
  EXPECT_EQ(bus.statistics().bytes_read, 0u);
  bytes sector(2048);
  request_block ten = rw10(READ10, 2, 1, 1, sector);
  ASSERT_EQ(run(ten), SS_COMP);
  EXPECT_EQ(sector, cd.read(2048, 2048));

  bytes cd_block(2048);
  request_block burn = rw10(WRITE10, 1, 0, 1, cd_block, SRB_DIR_OUT);
  ASSERT_EQ(run(burn), SS_ERR);
  EXPECT_EQ(check_condition(burn).key, key_data_protect);

  request_block short_sense = rw10(READ10, 0, 30, 1, buffer);
  short_sense.exec.SRB_SenseLen = 4;
  std::uint8_t* sense = short_sense.bytes + offsetof(SRB_ExecSCSICmd, SenseArea);
  std::memset(sense, 0xCC, sense_bytes_asked);
  ASSERT_EQ(run(short_sense), SS_ERR);
  EXPECT_EQ(sense[2], key_illegal_request);
  EXPECT_EQ(sense[4], 0xCC);  // only SRB_SenseLen bytes are copied

  EXPECT_EQ(buffer, bytes(512 * 4, 0xCC));  // nothing read on any refusal
  EXPECT_EQ(bus.statistics().bytes_read, 2048u);
}

TEST_F(SimulatedBus, WrongDirectionAndShortBuffersMoveNoData) {
  const bytes content = pattern(512 * 20);
  temp_image disk(content);
  attach(sim_device::kind::disk, 0, 0, disk);

  bytes buffer(512, 0xCC);
  request_block read_out = rw10(READ10, 0, 0, 1, buffer, SRB_DIR_OUT);
  EXPECT_EQ(run(read_out), SS_ERR);
  EXPECT_EQ(read_out.exec.SRB_TargStat, 0);  // the adapter refused, not the target
  bytes data = pattern(512, 1);
  request_block write_in = rw10(WRITE10, 0, 0, 1, data, SRB_DIR_IN);
  EXPECT_EQ(run(write_in), SS_ERR);
  request_block both_ways = rw10(READ10, 0, 0, 1, buffer, SRB_DIR_IN | SRB_DIR_OUT);
  EXPECT_EQ(run(both_ways), SS_ERR);
  EXPECT_EQ(buffer, bytes(512, 0xCC));

  // Exactly sized heap buffers: ASan reports any byte past them.
  const std::size_t three_blocks = 3 * 512;
  auto exact = std::make_unique<std::uint8_t[]>(three_blocks);
  request_block too_many =
      exec(0, 0, {READ10, 0, 0, 0, 0, 0, 0, 0, 4, 0}, exact.get(), three_blocks);
  EXPECT_EQ(run(too_many), SS_ERR);
  request_block six_too_many = exec(0, 0, {READ6, 0, 0, 0, 0, 0}, exact.get(), three_blocks);
  EXPECT_EQ(run(six_too_many), SS_ERR);
  request_block write_too_many = exec(0, 0, {WRITE6, 0, 0, 0, 4, 0}, exact.get(), three_blocks);
  EXPECT_EQ(run(write_too_many), SS_ERR);
  EXPECT_EQ(disk.read(0, content.size()), content);
}

TEST_F(SimulatedBus, InjectedFaults) {
  const bytes content = pattern(512 * 64);
  temp_image disk(content), other(content);
  attach(sim_device::kind::disk, 0, 0, disk);
  attach(sim_device::kind::disk, 0, 1, other);
  bytes buffer(512 * 8, 0xCC);

  // Only transfers count; the second one fails.
  bus.fail_transfer(2, SS_ERR);
  request_block first = rw10(READ10, 0, 0, 1, buffer);
  EXPECT_EQ(run(first), SS_COMP);
  request_block ready = exec(0, 0, {0x00, 0, 0, 0, 0, 0});
  EXPECT_EQ(run(ready), SS_COMP);
  std::fill(buffer.begin(), buffer.end(), 0xCC);
  request_block second = rw6(READ6, 0, 1, 1, buffer);
  ASSERT_EQ(run(second), SS_ERR);
  EXPECT_EQ(check_condition(second).key, key_medium_error);
  EXPECT_EQ(check_condition(second).asc, 0x11);
  EXPECT_EQ(buffer, bytes(512 * 8, 0xCC));
  request_block third = rw10(READ10, 0, 0, 1, buffer);
  EXPECT_EQ(run(third), SS_COMP);
  bus.fail_transfer(1, SS_ABORTED);  // any status may be asked for
  request_block odd = rw10(READ10, 0, 0, 1, buffer);
  EXPECT_EQ(run(odd), SS_ABORTED);
  EXPECT_EQ(odd.exec.SRB_TargStat, 0);

  bus.fail_blocks(0, 0, 10, 5);  // blocks 10 to 14
  request_block below = rw10(READ10, 0, 2, 8, buffer);
  EXPECT_EQ(run(below), SS_COMP);
  request_block touching = rw10(READ10, 0, 14, 1, buffer);
  ASSERT_EQ(run(touching), SS_ERR);
  EXPECT_EQ(check_condition(touching).asc, 0x11);
  request_block above = rw10(READ10, 0, 15, 8, buffer);
  EXPECT_EQ(run(above), SS_COMP);
  request_block elsewhere = rw10(READ10, 1, 10, 1, buffer);
  EXPECT_EQ(run(elsewhere), SS_COMP);
  bytes data = pattern(512 * 4, 5);
  request_block write = rw10(WRITE10, 0, 8, 4, data);
  ASSERT_EQ(run(write), SS_ERR);
  EXPECT_EQ(check_condition(write).key, key_medium_error);
  EXPECT_EQ(disk.read(0, content.size()), content);

  bus.clear_faults();
  request_block cleared = rw10(READ10, 0, 14, 1, buffer);
  EXPECT_EQ(run(cleared), SS_COMP);
}

TEST_F(SimulatedBus, AbortEndsHeldAndQueuedRequests) {
  temp_image disk(pattern(512 * 8));
  attach(sim_device::kind::disk, 0, 0, disk);
  bytes buffer(512, 0xCC);

  bus.never_complete(1);
  request_block held = rw10(READ10, 0, 0, 1, buffer);
  ASSERT_EQ(SendASPI32Command(&held), SS_PENDING);
  request_block after = rw10(READ10, 0, 1, 1, buffer);
  EXPECT_EQ(run(after), SS_COMP);  // the bus goes on past a held request
  EXPECT_EQ(std::atomic_ref<std::uint8_t>(held.header.SRB_Status).load(), SS_PENDING);
  EXPECT_EQ(bus.outstanding(), 1u);

  request_block abort = command(SC_ABORT_SRB, 0);
  abort.abort.SRB_ToAbort = &held;
  EXPECT_EQ(run(abort), SS_COMP);
  EXPECT_EQ(std::atomic_ref<std::uint8_t>(held.header.SRB_Status).load(), SS_ABORTED);
  request_block again = command(SC_ABORT_SRB, 0);
  again.abort.SRB_ToAbort = &held;
  EXPECT_EQ(run(again), SS_ABORT_FAIL);
  EXPECT_EQ(bus.outstanding(), 0u);

  // A request waiting out a long delay is aborted at once, and the bus does
  // not sit out that delay before the next one.
  bus.set_delay(std::chrono::seconds(30));
  request_block slow = rw10(READ10, 0, 0, 1, buffer);
  ASSERT_EQ(SendASPI32Command(&slow), SS_PENDING);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));  // let the worker start waiting
  abort.abort.SRB_ToAbort = &slow;
  EXPECT_EQ(run(abort), SS_COMP);
  EXPECT_EQ(slow.header.SRB_Status, SS_ABORTED);
  bus.set_delay(std::chrono::microseconds(0));
  request_block next = rw10(READ10, 0, 0, 1, buffer);
  EXPECT_EQ(run(next), SS_COMP);
}

TEST_F(SimulatedBus, DelayedRequestsStillComplete) {
  temp_image disk(pattern(512 * 8));
  attach(sim_device::kind::disk, 0, 0, disk);
  const auto delay = std::chrono::milliseconds(20);
  bus.set_delay(delay);
  bytes buffer(512);
  request_block read = rw10(READ10, 0, 3, 1, buffer);
  const auto sent = std::chrono::steady_clock::now();
  ASSERT_EQ(SendASPI32Command(&read), SS_PENDING);
  EXPECT_EQ(wait_for(read), SS_COMP);
  EXPECT_GE(std::chrono::steady_clock::now() - sent, delay);
  EXPECT_EQ(buffer, disk.read(3 * 512, 512));
}

TEST_F(SimulatedBus, ResetReleasesTheMedium) {
  temp_image cd(pattern(2048 * 2));
  attach(sim_device::kind::cdrom, 0, 2, cd);
  request_block prevent = exec(0, 2, {0x1E, 0, 0, 0, 1, 0});
  ASSERT_EQ(run(prevent), SS_COMP);
  EXPECT_TRUE(bus.medium_locked(0, 2));
  request_block reset = command(SC_RESET_DEV, 0, 2);
  ASSERT_EQ(run(reset), SS_COMP);
  EXPECT_FALSE(bus.medium_locked(0, 2));
  request_block reset_nobody = command(SC_RESET_DEV, 0, 3);
  EXPECT_EQ(run(reset_nobody), SS_NO_DEVICE);
}

TEST_F(SimulatedBus, EventLogRecordsEachRequestAndStaysBounded) {
  temp_image disk(pattern(512 * 8));
  attach(sim_device::kind::disk, 1, 4, disk);
  request_block adapter = command(SC_HA_INQUIRY, 1);
  run(adapter);
  bytes buffer(1024);
  request_block read =
      exec(1, 4, {READ10, 0, 0, 0, 0, 6, 0, 0, 2, 0}, buffer.data(), 1024, SRB_DIR_IN);
  run(read);
  request_block missing = command(SC_GET_DEV_TYPE, 1, 5);
  run(missing);

  const auto events = bus.events();
  ASSERT_EQ(events.size(), 3u);
  EXPECT_EQ(events[0].cmd, SC_HA_INQUIRY);
  EXPECT_EQ(events[0].status, SS_COMP);
  EXPECT_EQ(events[1].cmd, SC_EXEC_SCSI_CMD);
  EXPECT_EQ(events[1].host, 1);
  EXPECT_EQ(events[1].target, 4);
  EXPECT_EQ(events[1].flags, SRB_DIR_IN);
  EXPECT_EQ(events[1].buf_len, 1024u);
  EXPECT_EQ(events[1].cdb_len, 10);
  EXPECT_EQ(events[1].cdb[0], READ10);
  EXPECT_EQ(events[1].cdb[5], 6);
  EXPECT_EQ(events[1].cdb[8], 2);
  EXPECT_EQ(events[1].status, SS_COMP);
  EXPECT_EQ(events[2].target, 5);
  EXPECT_EQ(events[2].status, SS_NO_DEVICE);

  bus.clear_events();
  EXPECT_TRUE(bus.events().empty());
  for (unsigned i = 0; i < 4100; ++i) {
    request_block probe = command(SC_GET_DEV_TYPE, 1, static_cast<std::uint8_t>(i % 8));
    run(probe);
  }
  const auto kept = bus.events();
  ASSERT_EQ(kept.size(), 4096u);
  EXPECT_EQ(kept.front().target, 4);  // requests 0 to 3 fell out
}

TEST(ParseAttach, TheCommandLineForm) {
  sim_device device;
  std::string error;
  ASSERT_TRUE(parse_attach("cdrom:9:7=/images/a=b.iso", device, error)) << error;
  EXPECT_EQ(device.kind, sim_device::kind::cdrom);
  EXPECT_EQ(device.host, 9);
  EXPECT_EQ(device.target, 7);
  EXPECT_EQ(device.path, "/images/a=b.iso");
  EXPECT_EQ(device.block_bytes, 0u);
  EXPECT_FALSE(device.no_six_byte_transfers);
  ASSERT_TRUE(parse_attach("disk:0:0=d.img", device, error));
  EXPECT_EQ(device.kind, sim_device::kind::disk);
  ASSERT_TRUE(parse_attach("cdrom,no-read6:1:0=c.iso", device, error)) << error;
  EXPECT_EQ(device.kind, sim_device::kind::cdrom);
  EXPECT_TRUE(device.no_six_byte_transfers);

  const std::vector<std::pair<std::string, std::string>> bad = {
      {"disk:0:0", "'disk:0:0' is not disk|cdrom[,no-read6]:HOST:TARGET=FILE"},
      {"disk=x", "'disk=x' is not disk|cdrom[,no-read6]:HOST:TARGET=FILE"},
      {"disk:1=x", "'disk:1=x' is not disk|cdrom[,no-read6]:HOST:TARGET=FILE"},
      {"tape:0:0=x", "unknown device kind 'tape' in 'tape:0:0=x': use disk or cdrom"},
      {"disk:10:0=x", "host adapter '10' in 'disk:10:0=x' is not 0 to 9"},
      {"disk::0=x", "host adapter '' in 'disk::0=x' is not 0 to 9"},
      {"cdrom:0:8=x", "target '8' in 'cdrom:0:8=x' is not 0 to 7"},
      {"cdrom:0:1:2=x", "target '1:2' in 'cdrom:0:1:2=x' is not 0 to 7"},
      {"disk:0:0=", "no file after '=' in 'disk:0:0='"},
      {"disk,read6:0:0=x", "unknown device option 'read6' in 'disk,read6:0:0=x': use no-read6"},
      {"no-read6:0:0=x", "unknown device kind 'no-read6' in 'no-read6:0:0=x': use disk or cdrom"},
  };
  for (const auto& [text, message] : bad) {
    EXPECT_FALSE(parse_attach(text, device, error)) << text;
    EXPECT_EQ(error, message);
  }
}

}  // namespace
