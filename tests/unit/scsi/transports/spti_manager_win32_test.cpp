// The pass-through manager against fake devices: CreateFileA, DeviceIoControl
// and CloseHandle answered from a table, request blocks sent raw as the
// request layer sends them, and what reached the "driver" checked field by
// field.
#include "scsi/transports/spti_manager_win32.h"

#include <gtest/gtest.h>
#include <ntddscsi.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "cli/real_devices.h"
#include "scsi/aspi.h"
#include "scsi/aspi_defs.h"
#include "scsi/aspi_manager.h"
#include "scsi/block_reader.h"
#include "scsi/device_state.h"
#include "scsi/scsi_request.h"
#include "scsi/transports/wnaspi32_manager.h"

namespace {

using namespace scsi;
using bytes = std::vector<std::uint8_t>;

// One device behind a name. `answer` plays the driver for pass-through
// requests; the default answers INQUIRY with `type`, READ(6)/(10) with a
// pattern of the block address and READ CAPACITY with 1000 blocks of 512.
struct fake_device {
  DWORD open_error = ERROR_SUCCESS;
  bool has_address = true;
  SCSI_ADDRESS address{sizeof(SCSI_ADDRESS), 0, 0, 0, 0};
  std::uint8_t type = 0x00;
  std::function<bool(SCSI_PASS_THROUGH_DIRECT&, std::uint8_t* sense, DWORD& error)> answer;
  // An overlapped request stays in the "driver" (pending) until the test
  // releases it, or this long when positive; answered at once when 0.
  int hold_ms = 0;
};

using namespace std::chrono_literals;

struct seen_request {
  std::string path;
  SCSI_PASS_THROUGH_DIRECT request;
  DWORD in_bytes;
  bytes data_out;  // what the buffer held when it reached the driver
};

std::uint8_t block_byte(std::uint32_t block, std::size_t offset) {
  return static_cast<std::uint8_t>(block * 31 + offset * 7 + offset / 256);
}

bool default_answer(const fake_device& device, SCSI_PASS_THROUGH_DIRECT& request) {
  auto* data = static_cast<std::uint8_t*>(request.DataBuffer);
  switch (request.Cdb[0]) {
    case 0x12: {  // INQUIRY
      const std::uint8_t answer[36] = {device.type, 0, 2, 2, 31, 0, 0, 0, 'F', 'A', 'K', 'E'};
      const DWORD size = std::min<DWORD>(request.DataTransferLength, sizeof answer);
      std::memcpy(data, answer, size);
      request.DataTransferLength = size;
      return true;
    }
    case 0x25: {  // READ CAPACITY
      const std::uint8_t answer[8] = {0, 0, 0x03, 0xE7, 0, 0, 0x02, 0};
      std::memcpy(data, answer, sizeof answer);
      request.DataTransferLength = sizeof answer;
      return true;
    }
    case 0x08:
    case 0x28: {
      const bool six = request.Cdb[0] == 0x08;
      const std::uint32_t first =
          six ? (std::uint32_t{request.Cdb[1] & 0x1Fu} << 16 | request.Cdb[2] << 8 | request.Cdb[3])
              : (std::uint32_t{request.Cdb[2]} << 24 | request.Cdb[3] << 16 | request.Cdb[4] << 8 |
                 request.Cdb[5]);
      for (std::size_t i = 0; i < request.DataTransferLength; ++i) {
        data[i] = block_byte(first + static_cast<std::uint32_t>(i / 512), i % 512);
      }
      return true;
    }
    default:
      return true;
  }
}

class fake_system {
 public:
  std::map<std::string, fake_device> devices;
  std::vector<std::string> order;  // the names enumerated, in order
  std::vector<seen_request> requests;
  std::atomic<int> open_handles = 0;
  std::atomic<int> cancels = 0;
  std::atomic<int> starts = 0;
  bool cancel_ignored = false;  // the driver answers a cancelled request anyway

  fake_device& add(const std::string& path, std::uint8_t port, std::uint8_t path_id,
                   std::uint8_t target, std::uint8_t type = 0x00) {
    order.push_back(path);
    fake_device& device = devices[path];
    device.address.PortNumber = port;
    device.address.PathId = path_id;
    device.address.TargetId = target;
    device.type = type;
    return device;
  }

  spti_system system() {
    spti_system calls;
    calls.device_names = [this] { return order; };
    calls.open = [this](const std::string& path, DWORD& error) {
      const auto found = devices.find(path);
      error = found == devices.end() ? DWORD{ERROR_FILE_NOT_FOUND} : found->second.open_error;
      if (error != ERROR_SUCCESS) return INVALID_HANDLE_VALUE;
      const std::lock_guard hold(mutex_);
      ++open_handles;
      handles_[next_handle_] = path;
      return reinterpret_cast<HANDLE>(next_handle_++);
    };
    calls.close = [this](HANDLE handle) {
      const std::lock_guard hold(mutex_);
      EXPECT_EQ(handles_.erase(reinterpret_cast<std::uintptr_t>(handle)), 1u);
      --open_handles;
    };
    calls.control = [this](HANDLE handle, DWORD code, void* in, DWORD in_bytes, void* out,
                           DWORD out_bytes, DWORD& returned, DWORD& error) {
      return control(handle, code, in, in_bytes, out, out_bytes, returned, error);
    };
    calls.start = [this](HANDLE handle, DWORD code, void* in, DWORD in_bytes, void* out,
                         DWORD out_bytes, OVERLAPPED& overlapped, DWORD& returned, DWORD& error) {
      ++starts;
      {
        const std::lock_guard hold(mutex_);
        if (devices.at(handles_.at(reinterpret_cast<std::uintptr_t>(handle))).hold_ms != 0) {
          held_[&overlapped] = held{handle, code, in, in_bytes};
          error = ERROR_IO_PENDING;
          return false;
        }
      }
      return control(handle, code, in, in_bytes, out, out_bytes, returned, error);
    };
    calls.wait = [this](HANDLE handle, OVERLAPPED& overlapped, DWORD& returned, DWORD& error) {
      std::unique_lock hold(mutex_);
      const int hold_ms = devices.at(handles_.at(reinterpret_cast<std::uintptr_t>(handle))).hold_ms;
      const auto ended = [&] { return held_.at(&overlapped).ended; };
      if (hold_ms > 0) {
        ended_.wait_for(hold, std::chrono::milliseconds(hold_ms), ended);
      } else {
        ended_.wait(hold, ended);
      }
      const held request = held_.at(&overlapped);
      held_.erase(&overlapped);
      hold.unlock();
      if (request.cancelled) {
        error = ERROR_OPERATION_ABORTED;
        return false;
      }
      if (request.end_error != ERROR_SUCCESS) {
        error = request.end_error;
        return false;
      }
      return control(request.handle, request.code, request.in, request.in_bytes, request.in,
                     request.in_bytes, returned, error);
    };
    calls.cancel = [this](HANDLE, OVERLAPPED& overlapped) {
      const std::lock_guard hold(mutex_);
      ++cancels;
      if (const auto found = held_.find(&overlapped); found != held_.end() && !cancel_ignored) {
        found->second.ended = found->second.cancelled = true;
      }
      ended_.notify_all();
    };
    return calls;
  }

  // The driver ends every request it holds: with their answers, or failed
  // with `error`.
  void release(DWORD error = ERROR_SUCCESS) {
    const std::lock_guard hold(mutex_);
    for (auto& [overlapped, request] : held_) {
      request.ended = true;
      request.end_error = error;
    }
    ended_.notify_all();
  }
  std::size_t held_count() {
    const std::lock_guard hold(mutex_);
    return held_.size();
  }
  // Until every handle is closed again (the waiters are done), at most 5 s.
  bool all_closed() {
    for (int i = 0; i < 500 && open_handles != 0; ++i) std::this_thread::sleep_for(10ms);
    return open_handles == 0;
  }

  // Requests after enumeration's INQUIRYs.
  const seen_request& last() const { return requests.back(); }

 private:
  struct held {
    HANDLE handle;
    DWORD code;
    void* in;
    DWORD in_bytes;
    bool ended = false;
    bool cancelled = false;
    DWORD end_error = ERROR_SUCCESS;
  };

  bool control(HANDLE handle, DWORD code, void* in, DWORD in_bytes, void* out, DWORD out_bytes,
               DWORD& returned, DWORD& error) {
    const std::lock_guard hold(mutex_);
    const std::string path = handles_.at(reinterpret_cast<std::uintptr_t>(handle));
    fake_device& device = devices.at(path);
    error = ERROR_SUCCESS;
    if (code == IOCTL_SCSI_GET_ADDRESS) {
      if (!device.has_address || out_bytes < sizeof(SCSI_ADDRESS)) {
        error = ERROR_INVALID_FUNCTION;
        return false;
      }
      std::memcpy(out, &device.address, sizeof device.address);
      returned = sizeof device.address;
      return true;
    }
    EXPECT_EQ(code, DWORD{IOCTL_SCSI_PASS_THROUGH_DIRECT});
    EXPECT_EQ(in, out);  // the results come back in the same block
    auto& request = *static_cast<SCSI_PASS_THROUGH_DIRECT*>(in);
    seen_request seen{path, request, in_bytes, {}};
    if (request.DataIn == SCSI_IOCTL_DATA_OUT && request.DataBuffer != nullptr) {
      const auto* data = static_cast<const std::uint8_t*>(request.DataBuffer);
      seen.data_out.assign(data, data + request.DataTransferLength);
    }
    requests.push_back(seen);
    auto* sense = static_cast<std::uint8_t*>(in) + request.SenseInfoOffset;
    returned = in_bytes;
    return device.answer ? device.answer(request, sense, error) : default_answer(device, request);
  }

  std::mutex mutex_;
  std::condition_variable ended_;
  std::map<OVERLAPPED*, held> held_;
  std::map<std::uintptr_t, std::string> handles_;
  std::uintptr_t next_handle_ = 0x100;
};

std::string text16(const std::uint8_t (&field)[16]) {
  return std::string(reinterpret_cast<const char*>(field),
                     strnlen(reinterpret_cast<const char*>(field), 16));
}

request_block exec_block(std::uint8_t host, std::uint8_t target, std::uint8_t flags,
                         std::initializer_list<std::uint8_t> cdb, std::uint8_t* buffer,
                         std::uint32_t length) {
  request_block block{};
  block.exec.SRB_Cmd = SC_EXEC_SCSI_CMD;
  block.exec.SRB_HaId = host;
  block.exec.SRB_Flags = flags;
  block.exec.SRB_Target = target;
  block.exec.SRB_BufLen = length;
  block.exec.SRB_BufPointer = buffer;
  block.exec.SRB_SenseLen = sense_bytes_asked;
  block.exec.SRB_CDBLen = static_cast<std::uint8_t>(cdb.size());
  std::copy(cdb.begin(), cdb.end(), block.exec.CDBByte);
  return block;
}

bool page_aligned(const void* pointer) {
  return reinterpret_cast<std::uintptr_t>(pointer) % 4096 == 0;
}

// Two adapters, the second with two buses: host adapters come out ordered
// by (port, path), whatever order the names came in.
class spti_bus : public ::testing::Test {
 protected:
  void SetUp() override {
    fake.devices["\\\\.\\PhysicalDrive0"].has_address = false;  // e.g. an IDE disk
    fake.order.push_back("\\\\.\\PhysicalDrive0");
    fake.add("\\\\.\\PhysicalDrive1", 3, 0, 4);
    fake.add("\\\\.\\PhysicalDrive2", 2, 1, 0, 0x07);
    fake.add("\\\\.\\CdRom0", 2, 0, 5, 0x05);
    fake.add("\\\\.\\E:", 2, 0, 5, 0x05);  // the letter of CdRom0
    fake.add("\\\\.\\PhysicalDrive3", 3, 0, 2, 0x00).address.Lun = 1;
  }
  fake_system fake;
};

TEST_F(spti_bus, groups_port_and_path_into_host_adapters_in_order) {
  spti_manager manager(fake.system());
  EXPECT_EQ(manager.support_info(), std::uint32_t{SS_COMP} << 8 | 3u);
  EXPECT_EQ(fake.open_handles, 0);

  for (std::uint8_t host = 0; host < 3; ++host) {
    request_block block{};
    block.inquiry.SRB_Cmd = SC_HA_INQUIRY;
    block.inquiry.SRB_HaId = host;
    ASSERT_EQ(manager.send(&block), SS_COMP);
    EXPECT_EQ(block.inquiry.SRB_Status, SS_COMP);
    EXPECT_EQ(block.inquiry.HA_Count, 3);
    EXPECT_EQ(text16(block.inquiry.HA_ManagerId), "WINDOWS SPTI");
    EXPECT_EQ(block.inquiry.HA_Unique[3], 8);
  }
  request_block beyond{};
  beyond.inquiry.SRB_Cmd = SC_HA_INQUIRY;
  beyond.inquiry.SRB_HaId = 3;
  EXPECT_EQ(manager.send(&beyond), SS_INVALID_HA);
  EXPECT_EQ(beyond.inquiry.SRB_Status, SS_INVALID_HA);

  // (2,0) -> 0, (2,1) -> 1, (3,0) -> 2; types from INQUIRY.
  const struct {
    std::uint8_t host, target;
    std::uint32_t status;
    std::uint8_t type;
  } expected[] = {{0, 5, SS_COMP, 0x05},   {1, 0, SS_COMP, 0x07},   {2, 4, SS_COMP, 0x00},
                  {2, 2, SS_NO_DEVICE, 0}, {0, 0, SS_NO_DEVICE, 0}, {5, 0, SS_INVALID_HA, 0}};
  for (const auto& want : expected) {
    request_block block{};
    block.device.SRB_Cmd = SC_GET_DEV_TYPE;
    block.device.SRB_HaId = want.host;
    block.device.SRB_Target = want.target;
    EXPECT_EQ(manager.send(&block), want.status) << int{want.host} << ":" << int{want.target};
    EXPECT_EQ(block.device.SRB_Status, want.status);
    if (want.status == SS_COMP) {
      EXPECT_EQ(block.device.SRB_DeviceType, want.type);
    }
  }
  request_block lun1{};
  lun1.device.SRB_Cmd = SC_GET_DEV_TYPE;
  lun1.device.SRB_HaId = 0;
  lun1.device.SRB_Target = 5;
  lun1.device.SRB_Lun = 1;
  EXPECT_EQ(manager.send(&lun1), SS_NO_DEVICE);

  // The letter was the same device as CdRom0: one entry, through CdRom0.
  ASSERT_EQ(manager.devices().size(), 3u);
  EXPECT_EQ(manager.devices()[0].path, "\\\\.\\CdRom0");
  EXPECT_TRUE(manager.access_problem().empty());
}

TEST_F(spti_bus, enumeration_asks_inquiry_and_trusts_it_over_the_name) {
  fake.add("\\\\.\\CdRom1", 4, 0, 1, 0x7F);  // qualifier 3: nothing there
  fake_device& failing = fake.add("\\\\.\\CdRom2", 4, 0, 2);
  failing.answer = [](SCSI_PASS_THROUGH_DIRECT&, std::uint8_t*, DWORD& error) {
    error = ERROR_IO_DEVICE;
    return false;
  };
  spti_manager manager(fake.system());
  // Host 3 is port 4; its only device kept the type of its name.
  ASSERT_EQ(manager.support_info() & 0xFF, 4u);
  request_block block{};
  block.device.SRB_Cmd = SC_GET_DEV_TYPE;
  block.device.SRB_HaId = 3;
  block.device.SRB_Target = 1;
  EXPECT_EQ(manager.send(&block), SS_NO_DEVICE);
  block.device.SRB_Target = 2;
  EXPECT_EQ(manager.send(&block), SS_COMP);
  EXPECT_EQ(block.device.SRB_DeviceType, 0x05);

  const seen_request& inquiry = fake.requests.front();
  EXPECT_EQ(inquiry.request.Cdb[0], 0x12);
  EXPECT_EQ(inquiry.request.DataIn, SCSI_IOCTL_DATA_IN);
  EXPECT_EQ(inquiry.request.Cdb[4], inquiry.request.DataTransferLength);
}

class spti_transfers : public spti_bus {
 protected:
  void SetUp() override {
    spti_bus::SetUp();
    manager = std::make_unique<spti_manager>(fake.system());
    fake.requests.clear();
  }
  // Host 2 target 4 is PhysicalDrive1.
  void expect_common(const seen_request& seen, std::uint8_t cdb_length) {
    EXPECT_EQ(seen.path, "\\\\.\\PhysicalDrive1");
    EXPECT_EQ(seen.request.Length, sizeof(SCSI_PASS_THROUGH_DIRECT));
    EXPECT_EQ(seen.request.CdbLength, cdb_length);
    EXPECT_EQ(seen.request.SenseInfoLength, sense_bytes_asked);
    // The sense bytes lie inside the block handed to the driver.
    EXPECT_GE(seen.request.SenseInfoOffset, sizeof(SCSI_PASS_THROUGH_DIRECT));
    EXPECT_LE(seen.request.SenseInfoOffset + seen.request.SenseInfoLength, seen.in_bytes);
    EXPECT_EQ(seen.request.PathId, 0);
    EXPECT_EQ(seen.request.TargetId, 4);
    EXPECT_EQ(seen.request.Lun, 0);
  }
  std::unique_ptr<spti_manager> manager;
};

TEST_F(spti_transfers, read6_and_read10_go_through_an_aligned_buffer_into_the_callers) {
  bytes buffer(3 * 512 + 1, 0xEE);
  request_block read6 =
      exec_block(2, 4, SRB_DIR_IN, {0x08, 0x01, 0x02, 0x03, 3, 0}, buffer.data(), 3 * 512);
  ASSERT_EQ(manager->send(&read6), SS_COMP);
  EXPECT_EQ(read6.exec.SRB_Status, SS_COMP);
  const seen_request& six = fake.last();
  expect_common(six, 6);
  EXPECT_EQ(six.request.DataIn, SCSI_IOCTL_DATA_IN);
  EXPECT_EQ(six.request.DataTransferLength, 3u * 512);
  EXPECT_EQ(six.request.TimeOutValue, 60u);
  EXPECT_TRUE(page_aligned(six.request.DataBuffer));
  EXPECT_NE(six.request.DataBuffer, buffer.data());
  EXPECT_EQ(std::memcmp(six.request.Cdb, read6.exec.CDBByte, 6), 0);
  for (std::size_t i = 0; i < 3 * 512; ++i) {
    ASSERT_EQ(buffer[i], block_byte(0x010203 + static_cast<std::uint32_t>(i / 512), i % 512)) << i;
  }
  EXPECT_EQ(buffer[3 * 512], 0xEE) << "written past the transfer";

  request_block read10 = exec_block(2, 4, SRB_DIR_IN, {0x28, 0, 0x12, 0x34, 0x56, 0x78, 0, 0, 2, 0},
                                    buffer.data(), 2 * 512);
  ASSERT_EQ(manager->send(&read10), SS_COMP);
  const seen_request& ten = fake.last();
  expect_common(ten, 10);
  EXPECT_EQ(ten.request.DataTransferLength, 2u * 512);
  EXPECT_EQ(ten.request.TimeOutValue, 60u);
  EXPECT_EQ(std::memcmp(ten.request.Cdb, read10.exec.CDBByte, 10), 0);
  EXPECT_EQ(buffer[0], block_byte(0x12345678, 0));
  EXPECT_EQ(buffer[512 + 100], block_byte(0x12345679, 100));
}

TEST_F(spti_transfers, queries_without_a_direction_flag_read_from_the_device) {
  // The request layer sends INQUIRY and READ CAPACITY with no direction bit.
  std::uint8_t inquiry[100] = {};
  request_block query = exec_block(2, 4, 0, {0x12, 0, 0, 0, 100, 0}, inquiry, 100);
  ASSERT_EQ(manager->send(&query), SS_COMP) << "a short INQUIRY answer is normal";
  expect_common(fake.last(), 6);
  EXPECT_EQ(fake.last().request.DataIn, SCSI_IOCTL_DATA_IN);
  EXPECT_EQ(fake.last().request.DataTransferLength, 100u);
  EXPECT_EQ(fake.last().request.TimeOutValue, 10u);
  EXPECT_EQ(std::memcmp(inquiry + 8, "FAKE", 4), 0);

  std::uint8_t capacity[12] = {};
  request_block readcap = exec_block(2, 4, 0, {0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}, capacity, 8);
  ASSERT_EQ(manager->send(&readcap), SS_COMP);
  expect_common(fake.last(), 10);
  EXPECT_EQ(fake.last().request.DataIn, SCSI_IOCTL_DATA_IN);
  EXPECT_EQ(fake.last().request.DataTransferLength, 8u);
  EXPECT_EQ(capacity[3], 0xE7);
  EXPECT_EQ(capacity[6], 0x02);

  // No data at all: no buffer, no direction.
  request_block unit_ready = exec_block(2, 4, 0, {0x00, 0, 0, 0, 0, 0}, nullptr, 0);
  ASSERT_EQ(manager->send(&unit_ready), SS_COMP);
  EXPECT_EQ(fake.last().request.DataIn, SCSI_IOCTL_DATA_UNSPECIFIED);
  EXPECT_EQ(fake.last().request.DataBuffer, nullptr);
}

TEST_F(spti_transfers, a_write_carries_the_callers_bytes) {
  bytes data(512);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i ^ 0x5A);
  request_block write6 = exec_block(2, 4, SRB_DIR_OUT, {0x0A, 0, 0, 7, 1, 0}, data.data(), 512);
  ASSERT_EQ(manager->send(&write6), SS_COMP);
  EXPECT_EQ(fake.last().request.DataIn, SCSI_IOCTL_DATA_OUT);
  EXPECT_EQ(fake.last().data_out, data);
  EXPECT_TRUE(page_aligned(fake.last().request.DataBuffer));
}

TEST_F(spti_transfers, check_condition_reports_the_target_status_and_sense) {
  const std::uint8_t medium_error[18] = {0x70, 0, 0x03, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x11, 0};
  fake.devices["\\\\.\\PhysicalDrive1"].answer = [&](SCSI_PASS_THROUGH_DIRECT& request,
                                                     std::uint8_t* sense, DWORD&) {
    request.ScsiStatus = STATUS_CHKCOND;
    // Past the sense it reports, the driver's buffer holds anything.
    std::memset(sense, 0xAA, request.SenseInfoLength);
    std::memcpy(sense, medium_error, std::min<std::size_t>(request.SenseInfoLength, 18));
    request.SenseInfoLength = std::min<UCHAR>(request.SenseInfoLength, 18);
    request.DataTransferLength = 0;
    return true;
  };
  bytes buffer(512, 0xEE);
  request_block read = exec_block(2, 4, SRB_DIR_IN, {0x08, 0, 0, 9, 1, 0}, buffer.data(), 512);
  ASSERT_EQ(manager->send(&read), SS_ERR);
  EXPECT_EQ(read.exec.SRB_Status, SS_ERR);
  EXPECT_EQ(read.exec.SRB_TargStat, STATUS_CHKCOND);
  EXPECT_EQ(read.exec.SRB_HaStat, 0);
  EXPECT_EQ(std::memcmp(read.exec.SenseArea, medium_error, 16), 0);
  EXPECT_EQ(read.bytes[offsetof(SRB_ExecSCSICmd, SenseArea) + 17], 0x00);
  EXPECT_EQ(read.bytes[offsetof(SRB_ExecSCSICmd, SenseArea) + 18], 0x00)
      << "only the sense the device reported is copied";
  EXPECT_EQ(buffer, bytes(512, 0xEE)) << "nothing of a failed read reaches the caller";

  // A caller with less room gets no more than it asked for.
  request_block small = exec_block(2, 4, SRB_DIR_IN, {0x08, 0, 0, 9, 1, 0}, buffer.data(), 512);
  small.exec.SRB_SenseLen = 4;
  std::memset(small.exec.SenseArea, 0xCC, sizeof small.exec.SenseArea);
  ASSERT_EQ(manager->send(&small), SS_ERR);
  EXPECT_EQ(fake.last().request.SenseInfoLength, 4);
  EXPECT_EQ(small.exec.SenseArea[2], 0x03);
  EXPECT_EQ(small.exec.SenseArea[4], 0xCC);
}

TEST_F(spti_transfers, system_failures_end_in_error_or_no_device) {
  fake_device& disk = fake.devices["\\\\.\\PhysicalDrive1"];
  bytes buffer(512, 0xEE);
  const struct {
    DWORD error;
    std::uint32_t status;
    std::uint8_t host_status;
  } cases[] = {{ERROR_IO_DEVICE, SS_ERR, 0x11},
               // The driver's time-out: final, the readers do not retry it.
               {ERROR_SEM_TIMEOUT, SS_ABORTED, 0x0B},
               {ERROR_TIMEOUT, SS_ABORTED, 0x0B},
               {ERROR_DEVICE_NOT_CONNECTED, SS_NO_DEVICE, 0}};
  for (const auto& each : cases) {
    disk.answer = [&](SCSI_PASS_THROUGH_DIRECT&, std::uint8_t*, DWORD& error) {
      error = each.error;
      return false;
    };
    request_block read = exec_block(2, 4, SRB_DIR_IN, {0x08, 0, 0, 1, 1, 0}, buffer.data(), 512);
    EXPECT_EQ(manager->send(&read), each.status) << each.error;
    EXPECT_EQ(read.exec.SRB_Status, each.status);
    EXPECT_EQ(read.exec.SRB_HaStat, each.host_status) << each.error;
  }

  // A block read that comes back short is not passed off as complete.
  disk.answer = [](SCSI_PASS_THROUGH_DIRECT& request, std::uint8_t*, DWORD&) {
    request.DataTransferLength = 256;
    return true;
  };
  request_block short_read =
      exec_block(2, 4, SRB_DIR_IN, {0x08, 0, 0, 1, 1, 0}, buffer.data(), 512);
  EXPECT_EQ(manager->send(&short_read), SS_ERR);
  EXPECT_EQ(short_read.exec.SRB_HaStat, 0x12);

  // The device went away after it was found.
  disk.open_error = ERROR_FILE_NOT_FOUND;
  request_block gone = exec_block(2, 4, SRB_DIR_IN, {0x08, 0, 0, 1, 1, 0}, buffer.data(), 512);
  EXPECT_EQ(manager->send(&gone), SS_NO_DEVICE);
  EXPECT_EQ(fake.open_handles, 0);
}

TEST_F(spti_transfers, requests_the_bus_cannot_carry_out) {
  bytes buffer(512);
  request_block no_device = exec_block(2, 3, SRB_DIR_IN, {0x08, 0, 0, 0, 1, 0}, buffer.data(), 512);
  EXPECT_EQ(manager->send(&no_device), SS_NO_DEVICE);
  request_block no_host = exec_block(7, 4, SRB_DIR_IN, {0x08, 0, 0, 0, 1, 0}, buffer.data(), 512);
  EXPECT_EQ(manager->send(&no_host), SS_INVALID_HA);
  request_block no_cdb = exec_block(2, 4, SRB_DIR_IN, {}, buffer.data(), 512);
  EXPECT_EQ(manager->send(&no_cdb), SS_INVALID_SRB);
  request_block no_buffer = exec_block(2, 4, SRB_DIR_IN, {0x08, 0, 0, 0, 1, 0}, nullptr, 512);
  EXPECT_EQ(manager->send(&no_buffer), SS_INVALID_SRB);
  EXPECT_TRUE(fake.requests.empty());

  request_block unknown{};
  unknown.header.SRB_Cmd = 0x42;
  EXPECT_EQ(manager->send(&unknown), SS_INVALID_CMD);
  EXPECT_EQ(unknown.header.SRB_Status, SS_INVALID_CMD);
  // Nothing is pending, so there is nothing to abort.
  request_block abort{};
  abort.abort.SRB_Cmd = SC_ABORT_SRB;
  abort.abort.SRB_ToAbort = &no_device;
  EXPECT_EQ(manager->send(&abort), SS_ABORT_FAIL);
  request_block reset{};
  reset.reset.SRB_Cmd = SC_RESET_DEV;
  reset.reset.SRB_HaId = 2;
  reset.reset.SRB_Target = 4;
  EXPECT_EQ(manager->send(&reset), SS_COMP);
  reset.reset.SRB_Target = 3;
  EXPECT_EQ(manager->send(&reset), SS_NO_DEVICE);
}

std::uint8_t spti_status_of(request_block& block) {
  return std::atomic_ref<std::uint8_t>(block.header.SRB_Status).load(std::memory_order_acquire);
}

bool ends_within_5s(request_block& block) {
  for (int i = 0; i < 500 && spti_status_of(block) == SS_PENDING; ++i)
    std::this_thread::sleep_for(10ms);
  return spti_status_of(block) != SS_PENDING;
}

request_block abort_block(std::uint8_t host, request_block& victim) {
  request_block abort{};
  abort.abort.SRB_Cmd = SC_ABORT_SRB;
  abort.abort.SRB_HaId = host;
  abort.abort.SRB_ToAbort = &victim;
  return abort;
}

// A transfer the driver holds is pending: send() returns at once, and the
// results and the status come when the driver ends it, however it ends.
TEST_F(spti_transfers, a_held_transfer_is_pending_until_the_driver_ends_it) {
  fake_device& disk = fake.devices["\\\\.\\PhysicalDrive1"];
  disk.hold_ms = -1;
  const struct {
    DWORD error;
    std::uint8_t status, host_status;
  } endings[] = {{ERROR_SUCCESS, SS_COMP, 0},
                 {ERROR_SEM_TIMEOUT, SS_ABORTED, 0x0B},
                 {ERROR_TIMEOUT, SS_ABORTED, 0x0B},
                 {ERROR_IO_DEVICE, SS_ERR, 0x11}};
  for (const auto& ending : endings) {
    bytes buffer(512, 0xEE);
    request_block read = exec_block(2, 4, SRB_DIR_IN, {0x08, 0, 0, 9, 1, 0}, buffer.data(), 512);
    ASSERT_EQ(manager->send(&read), SS_PENDING) << ending.error;
    EXPECT_EQ(spti_status_of(read), SS_PENDING);
    EXPECT_EQ(fake.held_count(), 1u);
    EXPECT_EQ(buffer, bytes(512, 0xEE)) << "results before the driver ended the transfer";
    fake.release(ending.error);
    ASSERT_TRUE(ends_within_5s(read)) << ending.error;
    EXPECT_EQ(spti_status_of(read), ending.status) << ending.error;
    EXPECT_EQ(read.exec.SRB_HaStat, ending.host_status) << ending.error;
    EXPECT_EQ(buffer[0], ending.status == SS_COMP ? block_byte(9, 0) : 0xEE) << ending.error;
    EXPECT_TRUE(fake.all_closed());
  }
  EXPECT_EQ(fake.cancels, 0);
}

// SC_ABORT_SRB cancels a held transfer and ends it SS_ABORTED at once; what
// the driver answers later never reaches the caller's block or buffer, even
// when the next transfer already runs.
TEST_F(spti_transfers, an_aborted_transfer_is_cancelled_and_its_late_answer_dropped) {
  fake_device& disk = fake.devices["\\\\.\\PhysicalDrive1"];
  disk.hold_ms = -1;
  // A driver that does not honour the cancel: the answer comes anyway.
  fake.cancel_ignored = true;
  bytes first(512, 0xEE);
  request_block stuck = exec_block(2, 4, SRB_DIR_IN, {0x08, 0, 0, 9, 1, 0}, first.data(), 512);
  ASSERT_EQ(manager->send(&stuck), SS_PENDING);
  EXPECT_EQ(fake.held_count(), 1u);

  request_block abort = abort_block(2, stuck);
  EXPECT_EQ(manager->send(&abort), SS_COMP);
  EXPECT_EQ(spti_status_of(abort), SS_COMP);
  EXPECT_EQ(spti_status_of(stuck), SS_ABORTED);
  EXPECT_EQ(fake.cancels, 1);
  // Asked again, there is nothing left to abort.
  request_block again = abort_block(2, stuck);
  EXPECT_EQ(manager->send(&again), SS_ABORT_FAIL);

  disk.hold_ms = 0;
  bytes second(512, 0xEE);
  request_block next = exec_block(2, 4, SRB_DIR_IN, {0x08, 0, 0, 5, 1, 0}, second.data(), 512);
  ASSERT_EQ(manager->send(&next), SS_COMP);
  EXPECT_EQ(second[0], block_byte(5, 0));
  const void* next_buffer = fake.last().request.DataBuffer;

  stuck.exec.SRB_Status = 0x77;  // what a late write would overwrite
  fake.release();
  EXPECT_TRUE(fake.all_closed());
  ASSERT_EQ(fake.held_count(), 0u);
  EXPECT_NE(fake.last().request.DataBuffer, next_buffer) << "two transfers shared one buffer";
  EXPECT_EQ(stuck.exec.SRB_Status, 0x77);
  EXPECT_EQ(first, bytes(512, 0xEE));
  EXPECT_EQ(second[0], block_byte(5, 0));
}

// Through the request layer: a slow transfer is waited for; one that never
// ends is aborted at the time limit, cancelled in the driver and not retried
// by the block reader.
TEST_F(spti_transfers, the_request_layer_waits_for_pending_transfers_and_aborts_stuck_ones) {
  install_aspi_manager(manager.get());
  devices().aspi_unit_size = 512;
  fake_device& disk = fake.devices["\\\\.\\PhysicalDrive1"];
  bytes buffer(512);
  scsi_request request{};
  request.command = 0x08;
  request.host_adapter = 2;
  request.target = 4;
  request.block_address = 7;
  request.block_count = 1;
  request.buffer = buffer.data();
  disk.hold_ms = 30;
  EXPECT_EQ(aspi_rw(request), SS_COMP);
  EXPECT_EQ(buffer[0], block_byte(7, 0));

  const wait_limits saved = current_wait_limits();
  set_wait_limits({100ms, 100ms});
  disk.hold_ms = -1;
  const int before = fake.starts;
  EXPECT_EQ(read_blocks(request), SS_ABORTED);
  set_wait_limits(saved);
  EXPECT_EQ(fake.cancels, 1);
  EXPECT_TRUE(fake.all_closed());
  EXPECT_EQ(fake.starts, before + 1) << "the stuck read was tried again";
  install_aspi_manager(nullptr);
  reset_device_state();
}

// The request layer's own routines, which poll the status, on this manager.
TEST_F(spti_transfers, the_request_routines_read_through_it) {
  install_aspi_manager(manager.get());
  EXPECT_EQ(aspi_init(), 3);
  std::uint8_t capacity[12];
  EXPECT_EQ(aspi_readcap(2, 4, capacity), SS_COMP);
  EXPECT_EQ(capacity[3], 0xE7);
  devices().aspi_unit_size = 512;
  bytes buffer(4 * 512);
  scsi_request request{};
  request.command = 0x08;
  request.host_adapter = 2;
  request.target = 4;
  request.block_address = 0x300000;  // beyond READ(6): goes out as READ(10)
  request.block_count = 4;
  request.buffer = buffer.data();
  EXPECT_EQ(aspi_rw(request), SS_COMP);
  EXPECT_EQ(fake.last().request.Cdb[0], 0x28);
  EXPECT_EQ(buffer[3 * 512 + 5], block_byte(0x300003, 5));
  install_aspi_manager(nullptr);
  reset_device_state();
}

TEST(spti_access, denied_everywhere_shows_one_adapter_that_says_so) {
  fake_system fake;
  fake.order.push_back("\\\\.\\PhysicalDrive0");  // not there at all
  fake.add("\\\\.\\PhysicalDrive1", 1, 0, 0).open_error = ERROR_ACCESS_DENIED;
  fake.add("\\\\.\\CdRom0", 1, 0, 1).open_error = ERROR_ACCESS_DENIED;
  spti_manager manager(fake.system());

  EXPECT_EQ(manager.access_problem(),
            "Access to \\\\.\\PhysicalDrive1 was denied: run the program as administrator.");
  EXPECT_EQ(manager.support_info(), std::uint32_t{SS_COMP} << 8 | 1u);
  request_block inquiry{};
  inquiry.inquiry.SRB_Cmd = SC_HA_INQUIRY;
  ASSERT_EQ(manager.send(&inquiry), SS_COMP);
  EXPECT_EQ(inquiry.inquiry.HA_Count, 1);
  EXPECT_EQ(text16(inquiry.inquiry.HA_ManagerId), spti_need_admin_id);
  EXPECT_LE(std::strlen(spti_need_admin_id), 16u);
  for (std::uint8_t target = 0; target < 8; ++target) {
    request_block type{};
    type.device.SRB_Cmd = SC_GET_DEV_TYPE;
    type.device.SRB_Target = target;
    EXPECT_EQ(manager.send(&type), SS_NO_DEVICE);
  }
  std::uint8_t data[8];
  request_block read = exec_block(0, 1, 0, {0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}, data, 8);
  EXPECT_EQ(manager.send(&read), SS_NO_DEVICE);
}

TEST(spti_access, a_front_end_that_prints_the_reason_gets_no_extra_adapter) {
  fake_system fake;
  fake.add("\\\\.\\CdRom0", 1, 0, 1).open_error = ERROR_ACCESS_DENIED;
  spti_manager manager(fake.system(), false);
  EXPECT_EQ(manager.support_info(), std::uint32_t{SS_NO_ADAPTERS} << 8);
  EXPECT_FALSE(manager.access_problem().empty());
  request_block inquiry{};
  inquiry.inquiry.SRB_Cmd = SC_HA_INQUIRY;
  EXPECT_EQ(manager.send(&inquiry), SS_INVALID_HA);
}

TEST(spti_access, a_refusal_beside_working_devices_is_kept_but_not_shown_as_an_adapter) {
  fake_system fake;
  fake.add("\\\\.\\PhysicalDrive0", 1, 0, 0).open_error = ERROR_ACCESS_DENIED;
  fake.add("\\\\.\\CdRom0", 1, 0, 1, 0x05);
  spti_manager manager(fake.system());
  EXPECT_EQ(manager.support_info(), std::uint32_t{SS_COMP} << 8 | 1u);
  request_block inquiry{};
  inquiry.inquiry.SRB_Cmd = SC_HA_INQUIRY;
  ASSERT_EQ(manager.send(&inquiry), SS_COMP);
  EXPECT_EQ(text16(inquiry.inquiry.HA_ManagerId), "WINDOWS SPTI");
  EXPECT_NE(manager.access_problem().find("PhysicalDrive0"), std::string::npos);
}

TEST(spti_access, nothing_found_is_an_empty_bus) {
  fake_system fake;
  fake.order = {"\\\\.\\PhysicalDrive0", "\\\\.\\CdRom0"};
  spti_manager manager(fake.system());
  EXPECT_EQ(manager.support_info(), std::uint32_t{SS_NO_ADAPTERS} << 8);
  EXPECT_TRUE(manager.access_problem().empty());
  request_block inquiry{};
  inquiry.inquiry.SRB_Cmd = SC_HA_INQUIRY;
  EXPECT_EQ(manager.send(&inquiry), SS_INVALID_HA);
}

// The real system calls, on whatever this machine has: under Wine usually
// nothing, or devices it will not open. The manager must come up, answer,
// and be done well within the time a person waits for a dialog.
TEST(spti_real, starts_and_reports_cleanly_on_this_machine) {
  const auto start = std::chrono::steady_clock::now();
  spti_manager manager;
  const std::uint32_t info = manager.support_info();
  const std::uint32_t status = info >> 8;
  EXPECT_TRUE(status == SS_COMP || status == SS_NO_ADAPTERS) << std::hex << info;
  if (status == SS_COMP) {
    EXPECT_GE(info & 0xFF, 1u);
  }
  install_aspi_manager(&manager);
  const int hosts = aspi_init();
  for (int host = 0; host < hosts; ++host) {
    char manager_id[16], unique[16];
    EXPECT_EQ(aspi_host_inq(static_cast<std::uint8_t>(host), manager_id, unique), hosts);
  }
  install_aspi_manager(nullptr);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
}

TEST(spti_real, is_the_platform_fallback_without_an_aspi_library) {
  // Wine's WNASPI32.DLL serves no host adapter, so the pass-through is taken.
  aspi_manager& chosen = install_platform_aspi_manager();
  EXPECT_NE(dynamic_cast<spti_manager*>(&chosen), nullptr);
  EXPECT_EQ(installed_aspi_manager(), &chosen);
  install_aspi_manager(nullptr);
}

// zelvorant-cli's devices on this machine: a manager is always there (an
// empty bus at worst), and the only reason it gives is the one for rights.
TEST(spti_real, the_command_line_gets_the_platform_devices) {
  const cli::real_devices real = cli::open_real_devices();
  ASSERT_NE(real.manager, nullptr);
  const std::uint32_t status = real.manager->support_info() >> 8;
  EXPECT_TRUE(status == SS_COMP || status == SS_NO_ADAPTERS);
  for (const std::string& reason : real.reasons) {
    EXPECT_NE(reason.find("run the program as administrator."), std::string::npos) << reason;
  }
}

}  // namespace
