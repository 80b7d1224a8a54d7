// The SG_IO manager on fake sysfs trees, with the system calls answered by
// the test: what it finds, the sg_io_hdr it hands the kernel for the
// requests the program sends, and how the kernel's answers become statuses.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <scsi/sg.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "scsi/aspi.h"
#include "scsi/aspi_defs.h"
#include "scsi/device_state.h"
#include "scsi/scsi_request.h"
#include "scsi/transports/sg_io_manager_linux.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using namespace scsi;

// A sysfs tree laid out as the kernel lays it out: devices under their host,
// class folders whose `device` links end in H:C:T:L.
class fake_sysfs {
 public:
  fake_sysfs() : root_(test::unique_temp_path("zelvorant-sysfs")) { fs::create_directories(root_); }
  ~fake_sysfs() {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }
  fake_sysfs(const fake_sysfs&) = delete;
  fake_sysfs& operator=(const fake_sysfs&) = delete;

  std::string root() const { return root_.string(); }

  // A SCSI device at ADDRESS ("H:C:T:L") of TYPE, seen through class
  // entries such as "scsi_generic/sg0" or "block/sr0".
  void device(const std::string& address, int type, std::initializer_list<const char*> entries) {
    const std::string host = address.substr(0, address.find(':'));
    const fs::path place = root_ / "devices/pci0000:00/host" / host / address;
    fs::create_directories(place);
    std::ofstream(place / "type") << type << '\n';
    for (const char* entry : entries) link(entry, place);
  }
  // A class entry whose device is something else than a SCSI device, or
  // none (a partition).
  void other(const char* entry, const char* device_name) {
    fs::create_directories(root_ / "class" / entry);
    if (device_name == nullptr) return;
    const fs::path place = root_ / "devices/virtual" / device_name;
    fs::create_directories(place);
    link(entry, place);
  }
  void host_driver(unsigned host, const char* name) {
    const fs::path place = root_ / "class/scsi_host" / ("host" + std::to_string(host));
    fs::create_directories(place);
    std::ofstream(place / "proc_name") << name << '\n';
  }

 private:
  void link(const char* entry, const fs::path& place) {
    const fs::path folder = root_ / "class" / entry;
    fs::create_directories(folder);
    fs::create_symlink(place, folder / "device");
  }
  fs::path root_;
};

// What the manager handed to SG_IO, copied while the pointers were valid.
struct seen_call {
  std::string path;
  int open_flags = 0;
  sg_io_hdr_t header{};
  std::vector<std::uint8_t> cdb;
};

// The system as the test wants it: open fails for listed paths, SG_IO gets
// the answer of `answer` (which may fill the header and the buffers).
struct fake_system {
  std::set<std::string> denied, missing;
  std::function<int(sg_io_hdr_t&)> answer = [](sg_io_hdr_t&) { return 0; };
  std::vector<seen_call> calls;
  std::vector<std::pair<std::string, int>> opens;
  int open_descriptors = 0;
  int resets = 0;

  sg_system make() {
    sg_system system;
    system.open = [this](const std::string& path, int flags) {
      opens.emplace_back(path, flags);
      if (denied.count(path) != 0) return -EACCES;
      if (missing.count(path) != 0) return -ENOENT;
      ++open_descriptors;
      return static_cast<int>(100 + opens.size());
    };
    system.close = [this](int) { --open_descriptors; };
    system.sg_io = [this](int, sg_io_hdr* header) {
      seen_call call;
      call.path = opens.back().first;
      call.open_flags = opens.back().second;
      call.header = *header;
      const auto* cdb = static_cast<const std::uint8_t*>(header->cmdp);
      call.cdb.assign(cdb, cdb + header->cmd_len);
      calls.push_back(call);
      return answer(*header);
    };
    system.reset_device = [this](int) {
      ++resets;
      return 0;
    };
    system.owning_group = [](const std::string&) { return std::string("cdrom"); };
    return system;
  }
};

// Hosts 2, 5 and 9 of the kernel become adapters 0, 1 and 2.
struct SgIoManager : ::testing::Test {
  fake_sysfs sysfs;
  fake_system system;
  std::string dev = "/fakedev";

  void SetUp() override {
    sysfs.device("5:0:0:0", 0, {"scsi_generic/sg0", "block/sda"});  // disk with both nodes
    sysfs.device("5:0:2:0", 7, {"block/sdb"});                      // optical, block node only
    sysfs.device("5:1:0:0", 0, {"scsi_generic/sg1"});               // channel 1: not ASPI's
    sysfs.device("5:0:4:1", 0, {"scsi_generic/sg2"});               // LUN 1: not ASPI's
    sysfs.device("5:0:9:0", 0, {"scsi_generic/sg3"});               // target beyond 7
    sysfs.device("2:0:3:0", 5, {"block/sr0"});                      // CD-ROM without sg
    sysfs.device("9:0:1:0", 5, {"scsi_generic/sg4"});               // not ours to open
    sysfs.other("block/vda", "virtio1");
    sysfs.other("block/sda1", nullptr);
    sysfs.host_driver(5, "usb-storage");
    system.denied.insert(dev + "/sg4");
  }

  sg_io_manager make() { return sg_io_manager({sysfs.root(), dev, system.make()}); }
};

std::uint8_t sent(sg_io_manager& manager, request_block& block) {
  const std::uint32_t status = manager.send(&block);
  EXPECT_EQ(status, block.header.SRB_Status) << "the returned status is also in the block";
  return static_cast<std::uint8_t>(status);
}

request_block device_type_block(std::uint8_t host, std::uint8_t target) {
  request_block block{};
  block.device.SRB_Cmd = SC_GET_DEV_TYPE;
  block.device.SRB_HaId = host;
  block.device.SRB_Target = target;
  return block;
}

TEST_F(SgIoManager, FindsTheTargetsAtChannel0Lun0AndNumbersTheHostsFrom0) {
  sg_io_manager manager = make();
  EXPECT_EQ(manager.support_info(), std::uint32_t{SS_COMP} << 8 | 3);
  ASSERT_EQ(manager.targets().size(), 4u);
  struct expected {
    std::uint8_t host, target, type;
    const char* node;
    bool usable;
  };
  const expected wanted[] = {{0, 3, 5, "/fakedev/sr0", true},
                             {1, 0, 0, "/fakedev/sg0", true},  // the sg node, not sda
                             {1, 2, 7, "/fakedev/sdb", true},
                             {2, 1, 5, "/fakedev/sg4", false}};
  for (std::size_t i = 0; i < 4; ++i) {
    SCOPED_TRACE(i);
    const sg_target& found = manager.targets()[i];
    EXPECT_EQ(found.host, wanted[i].host);
    EXPECT_EQ(found.target, wanted[i].target);
    EXPECT_EQ(found.type, wanted[i].type);
    EXPECT_EQ(found.node, wanted[i].node);
    EXPECT_EQ(found.usable, wanted[i].usable);
  }
  EXPECT_EQ(system.open_descriptors, 0) << "the look at each device closes what it opened";
  ASSERT_EQ(manager.reasons().size(), 1u);
  EXPECT_EQ(manager.reasons()[0],
            "/fakedev/sg4 (host adapter 2, target 1): permission denied; add yourself to group "
            "'cdrom'");

  for (const expected& device : wanted) {
    request_block block = device_type_block(device.host, device.target);
    if (device.usable) {
      EXPECT_EQ(sent(manager, block), SS_COMP);
      EXPECT_EQ(block.device.SRB_DeviceType, device.type);
    } else {
      EXPECT_EQ(sent(manager, block), SS_NO_DEVICE);  // denied shows as absent
    }
  }
  request_block empty_place = device_type_block(1, 1);
  EXPECT_EQ(sent(manager, empty_place), SS_NO_DEVICE);
  request_block skipped_lun = device_type_block(1, 4);
  EXPECT_EQ(sent(manager, skipped_lun), SS_NO_DEVICE);
  request_block no_host = device_type_block(3, 0);
  EXPECT_EQ(sent(manager, no_host), SS_INVALID_HA);
  request_block unknown = device_type_block(0, 3);
  unknown.header.SRB_Cmd = 0x07;
  EXPECT_EQ(sent(manager, unknown), SS_INVALID_CMD);
}

TEST_F(SgIoManager, HostAdapterInquiryNamesTheManagerAndTheKernelDriver) {
  sg_io_manager manager = make();
  for (std::uint8_t host = 0; host < 3; ++host) {
    request_block block{};
    block.inquiry.SRB_Cmd = SC_HA_INQUIRY;
    block.inquiry.SRB_HaId = host;
    ASSERT_EQ(sent(manager, block), SS_COMP);
    EXPECT_EQ(block.inquiry.HA_Count, 3);
    EXPECT_STREQ(reinterpret_cast<const char*>(block.inquiry.HA_ManagerId), "LINUX SG_IO");
    EXPECT_EQ(block.inquiry.HA_Unique[3], 8);  // targets per adapter
    const char* driver = host == 1 ? "usb-storage" : host == 0 ? "host2" : "host9";
    EXPECT_STREQ(reinterpret_cast<const char*>(block.inquiry.HA_Identifier), driver);
  }
  request_block beyond{};
  beyond.inquiry.SRB_Cmd = SC_HA_INQUIRY;
  beyond.inquiry.SRB_HaId = 3;
  EXPECT_EQ(sent(manager, beyond), SS_INVALID_HA);
  EXPECT_EQ(beyond.inquiry.HA_Count, 0);
}

TEST(SgIoManagerEmpty, AMachineWithoutSgDevicesHasNoAdapters) {
  fake_sysfs sysfs;
  sysfs.other("block/vda", "virtio1");
  fake_system system;
  sg_io_manager manager({sysfs.root(), "/dev", system.make()});
  EXPECT_EQ(manager.support_info(), std::uint32_t{SS_NO_ADAPTERS} << 8);
  EXPECT_TRUE(manager.reasons().empty());
  request_block block{};
  block.inquiry.SRB_Cmd = SC_HA_INQUIRY;
  EXPECT_EQ(manager.send(&block), SS_INVALID_HA);

  sg_io_manager no_sysfs({sysfs.root() + "/missing", "/dev", system.make()});
  EXPECT_EQ(no_sysfs.support_info(), std::uint32_t{SS_NO_ADAPTERS} << 8);
}

// The requests the program sends, through its own request routines.
struct SgIoRequests : SgIoManager {
  wait_limits saved = current_wait_limits();
  std::unique_ptr<sg_io_manager> manager;
  void SetUp() override {
    SgIoManager::SetUp();
    manager = std::make_unique<sg_io_manager>(make());
    system.opens.clear();
    reset_device_state();
    install_aspi_manager(manager.get());
  }
  void TearDown() override {
    install_aspi_manager(nullptr);
    set_wait_limits(saved);
    reset_device_state();
  }
  const seen_call& only_call() const {
    EXPECT_EQ(system.calls.size(), 1u);
    return system.calls.back();
  }
};

void expect_common_fields(const seen_call& call) {
  EXPECT_EQ(call.header.interface_id, 'S');
  EXPECT_EQ(call.header.iovec_count, 0);
  EXPECT_NE(call.header.sbp, nullptr);
}

TEST_F(SgIoRequests, Read6AsTheBlockReaderSendsIt) {
  devices().aspi_unit_size = 512;
  std::vector<std::uint8_t> buffer(4 * 512);
  scsi_request request{};
  request.command = op_read6;
  request.host_adapter = 1;
  request.target = 0;
  request.block_address = 0x012345;
  request.block_count = 4;
  request.buffer = buffer.data();
  EXPECT_EQ(aspi_rw(request), SS_COMP);
  const seen_call& call = only_call();
  expect_common_fields(call);
  EXPECT_EQ(call.path, "/fakedev/sg0");
  EXPECT_EQ(call.open_flags, O_RDONLY | O_NONBLOCK);
  EXPECT_EQ(call.cdb, (std::vector<std::uint8_t>{0x08, 0x01, 0x23, 0x45, 4, 0}));
  EXPECT_EQ(call.header.dxfer_direction, SG_DXFER_FROM_DEV);
  EXPECT_EQ(call.header.dxfer_len, 4u * 512);
  EXPECT_EQ(call.header.dxferp, buffer.data());
  EXPECT_EQ(call.header.mx_sb_len, sense_bytes_asked);
  EXPECT_EQ(call.header.timeout, sg_io_manager::transfer_timeout_ms);
  EXPECT_EQ(system.open_descriptors, 0);
}

TEST_F(SgIoRequests, Read10OfACdromBeyondTheSixByteAddresses) {
  std::vector<std::uint8_t> buffer(2 * 2048);
  scsi_request request{};
  request.command = op_read6;
  request.host_adapter = 0;
  request.target = 3;
  request.block_address = 0x00300000;  // past 21 bits
  request.block_count = 2;
  request.buffer = buffer.data();
  EXPECT_EQ(cdrom_rw(request), 0);
  const seen_call& call = only_call();
  expect_common_fields(call);
  EXPECT_EQ(call.path, "/fakedev/sr0");
  EXPECT_EQ(call.open_flags, O_RDONLY | O_NONBLOCK);
  EXPECT_EQ(call.cdb, (std::vector<std::uint8_t>{0x28, 0, 0x00, 0x30, 0x00, 0x00, 0, 0, 2, 0}));
  EXPECT_EQ(call.header.cmd_len, 10);
  EXPECT_EQ(call.header.dxfer_direction, SG_DXFER_FROM_DEV);
  EXPECT_EQ(call.header.dxfer_len, 2u * 2048);
  EXPECT_EQ(call.header.dxferp, buffer.data());
  EXPECT_EQ(call.header.timeout, sg_io_manager::transfer_timeout_ms);
}

TEST_F(SgIoRequests, InquiryAndReadCapacityReadWithTheShorterTimeout) {
  std::uint8_t inquiry[100] = {};
  system.answer = [](sg_io_hdr_t& header) {
    std::memcpy(static_cast<std::uint8_t*>(header.dxferp) + 8, "VENDOR  ", 8);
    header.resid = 64;  // 36 bytes of 100: what devices answer
    return 0;
  };
  EXPECT_EQ(aspi_inquiry(1, 2, inquiry), SS_COMP);
  EXPECT_EQ(std::memcmp(inquiry + 8, "VENDOR  ", 8), 0);
  ASSERT_EQ(system.calls.size(), 1u);
  const seen_call& asked = system.calls[0];
  expect_common_fields(asked);
  EXPECT_EQ(asked.path, "/fakedev/sdb");
  EXPECT_EQ(asked.open_flags, O_RDONLY | O_NONBLOCK);
  EXPECT_EQ(asked.cdb, (std::vector<std::uint8_t>{0x12, 0, 0, 0, 100, 0}));
  EXPECT_EQ(asked.header.dxfer_direction, SG_DXFER_FROM_DEV);  // flags 0: by the command
  EXPECT_EQ(asked.header.dxfer_len, 100u);
  EXPECT_EQ(asked.header.dxferp, static_cast<void*>(inquiry));
  EXPECT_EQ(asked.header.mx_sb_len, 0);
  EXPECT_EQ(asked.header.timeout, sg_io_manager::query_timeout_ms);

  std::uint8_t capacity[512];
  system.answer = [](sg_io_hdr_t& header) {
    const std::uint8_t answer[8] = {0, 0, 0x10, 0, 0, 0, 0x08, 0};
    std::memcpy(header.dxferp, answer, sizeof answer);
    header.resid = 512 - 8;
    return 0;
  };
  EXPECT_EQ(aspi_readcap(0, 3, capacity), SS_COMP);
  ASSERT_EQ(system.calls.size(), 2u);
  const seen_call& readcap = system.calls[1];
  expect_common_fields(readcap);
  EXPECT_EQ(readcap.cdb, (std::vector<std::uint8_t>{0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(readcap.header.dxfer_direction, SG_DXFER_FROM_DEV);
  EXPECT_EQ(readcap.header.dxfer_len, 512u);
  EXPECT_EQ(readcap.header.dxferp, static_cast<void*>(capacity));
  EXPECT_EQ(readcap.header.mx_sb_len, sense_bytes_asked);
  EXPECT_EQ(readcap.header.timeout, sg_io_manager::query_timeout_ms);
  EXPECT_EQ(capacity[6], 0x08);
}

TEST_F(SgIoRequests, OnlyAWriteOpensTheDeviceForWriting) {
  devices().aspi_unit_size = 512;
  std::vector<std::uint8_t> buffer(512, 0xAB);
  scsi_request request{};
  request.command = op_write6;
  request.host_adapter = 1;
  request.target = 0;
  request.block_count = 1;
  request.buffer = buffer.data();
  EXPECT_EQ(aspi_rw(request), SS_COMP);
  ASSERT_EQ(system.calls.size(), 1u);
  EXPECT_EQ(system.calls[0].open_flags, O_RDWR | O_NONBLOCK);
  EXPECT_EQ(system.calls[0].header.dxfer_direction, SG_DXFER_TO_DEV);

  // PREVENT ALLOW MEDIUM REMOVAL moves no data.
  EXPECT_EQ(aspi_lock(0, 3, 1), SS_COMP);
  ASSERT_EQ(system.calls.size(), 2u);
  EXPECT_EQ(system.calls[1].open_flags, O_RDONLY | O_NONBLOCK);
  EXPECT_EQ(system.calls[1].header.dxfer_direction, SG_DXFER_NONE);
  EXPECT_EQ(system.calls[1].header.dxfer_len, 0u);

  // A writer without write access to the node gets a failure, not silence.
  system.denied.insert("/fakedev/sg0");
  EXPECT_EQ(aspi_rw(request), SS_ERR);
  EXPECT_EQ(system.calls.size(), 2u);
}

// One kernel answer and what it must become.
struct outcome_case {
  const char* name;
  std::uint8_t status;
  std::uint16_t host_status;
  std::uint16_t driver_status;
  int resid;
  int ioctl_result;
  std::uint8_t aspi_status;
  std::uint8_t ha_stat;
};

TEST_F(SgIoManager, KernelAnswersBecomeAspiStatuses) {
  const outcome_case cases[] = {
      {"good", 0, 0, 0, 0, 0, SS_COMP, 0},
      {"check condition", 0x02, 0, 0x08, 0, 0, SS_ERR, 0},
      {"busy", 0x08, 0, 0, 0, 0, SS_ERR, 0},
      {"host timeout", 0, 0x03, 0, 0, 0, SS_ABORTED, 0x0B},
      {"no connect", 0, 0x01, 0, 0, 0, SS_ERR, 0x11},
      {"bus reset", 0, 0x08, 0, 0, 0, SS_ERR, 0x0E},
      {"driver timeout", 0, 0, 0x06, 0, 0, SS_ABORTED, 0x0B},
      {"driver error", 0, 0, 0x04, 0, 0, SS_ERR, 0x14},
      {"sense flag alone", 0, 0, 0x08, 0, 0, SS_COMP, 0},
      {"short transfer", 0, 0, 0, 512, 0, SS_ERR, 0x12},
      {"ioctl fails", 0, 0, 0, 0, -EIO, SS_ERR, 0},
      {"device gone", 0, 0, 0, 0, -ENODEV, SS_NO_DEVICE, 0},
  };
  sg_io_manager manager = make();
  std::vector<std::uint8_t> buffer(2048);
  for (const outcome_case& c : cases) {
    SCOPED_TRACE(c.name);
    system.answer = [&c](sg_io_hdr_t& header) {
      header.status = c.status;
      header.masked_status = static_cast<unsigned char>(c.status >> 1);
      header.host_status = c.host_status;
      header.driver_status = c.driver_status;
      header.resid = c.resid;
      return c.ioctl_result;
    };
    request_block block{};
    block.exec.SRB_Cmd = SC_EXEC_SCSI_CMD;
    block.exec.SRB_HaId = 1;
    block.exec.SRB_Target = 2;
    block.exec.SRB_Flags = SRB_DIR_IN;
    block.exec.SRB_BufLen = 2048;
    block.exec.SRB_BufPointer = buffer.data();
    block.exec.SRB_SenseLen = sense_bytes_asked;
    block.exec.SRB_CDBLen = 10;
    block.exec.CDBByte[0] = 0x28;
    block.exec.CDBByte[8] = 4;
    EXPECT_EQ(sent(manager, block), c.aspi_status);
    EXPECT_EQ(block.exec.SRB_HaStat, c.ha_stat);
    EXPECT_EQ(block.exec.SRB_TargStat, c.ioctl_result == 0 ? c.status : 0);
  }
  EXPECT_EQ(system.open_descriptors, 0);
}

TEST_F(SgIoManager, ACheckConditionLeavesItsSenseInTheBlock) {
  sg_io_manager manager = make();
  system.answer = [](sg_io_hdr_t& header) {
    const std::uint8_t sense[18] = {0x70, 0, 0x03, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x11, 0x00};
    const auto length = std::min<std::size_t>(header.mx_sb_len, sizeof sense);
    std::memcpy(header.sbp, sense, length);
    header.sb_len_wr = static_cast<unsigned char>(length);
    header.status = 0x02;
    header.driver_status = 0x08;
    return 0;
  };
  std::uint8_t data[512];
  request_block block{};
  block.exec.SRB_Cmd = SC_EXEC_SCSI_CMD;
  block.exec.SRB_HaId = 0;
  block.exec.SRB_Target = 3;
  block.exec.SRB_Flags = SRB_DIR_IN;
  block.exec.SRB_BufLen = sizeof data;
  block.exec.SRB_BufPointer = data;
  block.exec.SRB_SenseLen = 18;
  block.exec.SRB_CDBLen = 6;
  block.exec.CDBByte[0] = 0x08;
  block.exec.CDBByte[4] = 1;
  EXPECT_EQ(sent(manager, block), SS_ERR);
  EXPECT_EQ(block.exec.SRB_TargStat, STATUS_CHKCOND);
  EXPECT_EQ(block.exec.SenseArea[0], 0x70);
  EXPECT_EQ(block.exec.SenseArea[2], 0x03);   // MEDIUM ERROR
  EXPECT_EQ(block.exec.SenseArea[12], 0x11);  // unrecovered read error
}

TEST_F(SgIoManager, MalformedRequestsNeverReachTheKernel) {
  sg_io_manager manager = make();
  request_block no_cdb{};
  no_cdb.exec.SRB_Cmd = SC_EXEC_SCSI_CMD;
  no_cdb.exec.SRB_HaId = 1;
  EXPECT_EQ(sent(manager, no_cdb), SS_INVALID_SRB);
  request_block no_buffer = no_cdb;
  no_buffer.exec.SRB_CDBLen = 6;
  no_buffer.exec.SRB_BufLen = 512;
  EXPECT_EQ(sent(manager, no_buffer), SS_INVALID_SRB);
  request_block denied_target = no_buffer;
  denied_target.exec.SRB_HaId = 2;
  denied_target.exec.SRB_Target = 1;
  EXPECT_EQ(sent(manager, denied_target), SS_NO_DEVICE);
  EXPECT_TRUE(system.calls.empty());

  request_block reset{};
  reset.reset.SRB_Cmd = SC_RESET_DEV;
  reset.reset.SRB_HaId = 1;
  reset.reset.SRB_Target = 2;
  EXPECT_EQ(sent(manager, reset), SS_COMP);
  EXPECT_EQ(system.resets, 1);
  EXPECT_EQ(system.opens.back().second, O_RDWR | O_NONBLOCK);

  request_block abort{};
  abort.abort.SRB_Cmd = SC_ABORT_SRB;
  abort.abort.SRB_HaId = 0;
  abort.abort.SRB_ToAbort = &reset;
  EXPECT_EQ(sent(manager, abort), SS_ABORT_FAIL);  // nothing is ever pending
}

}  // namespace
