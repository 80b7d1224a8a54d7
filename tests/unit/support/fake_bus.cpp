#include "fake_bus.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "hybrid/apm/big_endian.h"
#include "scsi/block_reader.h"
#include "scsi/device_state.h"

namespace test {
namespace {

std::uint32_t cdb_address(const std::uint8_t* cdb, bool ten) {
  return ten ? hybrid::get_be32(cdb + 2)
             : (std::uint32_t{cdb[1]} << 16 | std::uint32_t{cdb[2]} << 8 | cdb[3]);
}

std::uint32_t cdb_count(const std::uint8_t* cdb, bool ten) {
  if (ten) return hybrid::get_be16(cdb + 7);
  return cdb[4] == 0 ? 256u : cdb[4];
}

void put_text(std::uint8_t* at, const std::string& text, std::size_t width) {
  std::memset(at, ' ', width);
  std::memcpy(at, text.data(), std::min(width, text.size()));
}

}  // namespace

fake_device device_of(std::vector<std::uint8_t> data, bool cdrom) {
  fake_device device;
  if (cdrom) {
    device.type = 5;
    device.block_bytes = 2048;
    data.resize((data.size() + 2047) / 2048 * 2048);
  }
  device.data = std::move(data);
  return device;
}

std::uint32_t fake_bus::support_info() {
  return hosts > 0 ? (std::uint32_t{scsi::SS_COMP} << 8) | static_cast<std::uint32_t>(hosts)
                   : std::uint32_t{scsi::SS_NO_ADAPTERS} << 8;
}

std::uint32_t fake_bus::send(void* raw) {
  auto& block = *static_cast<scsi::request_block*>(raw);
  block_copy copy;
  std::memcpy(copy.data(), block.bytes, copy.size());
  sent.push_back(copy);
  if (refuse_with != 0) return refuse_with;

  std::uint8_t status = scsi::SS_COMP;
  switch (block.header.SRB_Cmd) {
    case scsi::SC_HA_INQUIRY:
      if (block.header.SRB_HaId >= hosts) {
        status = scsi::SS_INVALID_HA;
        break;
      }
      block.inquiry.HA_Count = static_cast<std::uint8_t>(hosts);
      std::memcpy(block.inquiry.HA_ManagerId, manager_id.data(),
                  std::min<std::size_t>(16, manager_id.size()));
      std::memcpy(block.inquiry.HA_Unique, "UNIQUE", 6);
      break;
    case scsi::SC_GET_DEV_TYPE: {
      const auto found = devices.find({block.device.SRB_HaId, block.device.SRB_Target});
      if (found == devices.end()) {
        status = scsi::SS_NO_DEVICE;
      } else {
        block.device.SRB_DeviceType = static_cast<std::uint8_t>(found->second.type);
      }
      break;
    }
    case scsi::SC_EXEC_SCSI_CMD:
      status = execute(block.exec);
      if (status == scsi::SS_PENDING) return scsi::SS_PENDING;
      break;
    case scsi::SC_ABORT_SRB:
    case scsi::SC_RESET_DEV:
      break;
    default:
      status = scsi::SS_INVALID_CMD;
  }
  block.header.SRB_Status = status;
  return status;
}

std::uint8_t fake_bus::execute(scsi::SRB_ExecSCSICmd& exec) {
  const auto found = devices.find({exec.SRB_HaId, exec.SRB_Target});
  if (found == devices.end()) return scsi::SS_NO_DEVICE;
  fake_device& device = found->second;
  const std::uint8_t* cdb = exec.CDBByte;
  const std::uint8_t op = cdb[0];
  const bool transfer = op == 0x08 || op == 0x0A || op == 0x28 || op == 0x2A;
  if (transfer) {
    ++transfer_count;
    if (hang_from_transfer != 0 && transfer_count >= hang_from_transfer) return scsi::SS_PENDING;
    if (device.no_six_byte_transfers && (op == 0x08 || op == 0x0A)) {
      exec.SRB_TargStat = scsi::STATUS_CHKCOND;
      std::uint8_t* sense =
          reinterpret_cast<std::uint8_t*>(&exec) + offsetof(scsi::SRB_ExecSCSICmd, SenseArea);
      sense[0] = 0x72;  // descriptor format: key in byte 1, ASC in byte 2
      sense[1] = 0x05;
      sense[2] = 0x20;
      return scsi::SS_ERR;
    }
    if (fault) {
      if (const std::uint8_t status = fault(exec); status != 0) return status;
    }
    const bool ten = op == 0x28 || op == 0x2A;
    const std::uint64_t offset = std::uint64_t{cdb_address(cdb, ten)} * device.block_bytes;
    const std::uint64_t bytes = std::uint64_t{cdb_count(cdb, ten)} * device.block_bytes;
    if (bytes > exec.SRB_BufLen || offset + bytes > device.data.size()) return scsi::SS_ERR;
    if (op == 0x08 || op == 0x28) {
      std::memcpy(exec.SRB_BufPointer, device.data.data() + offset,
                  static_cast<std::size_t>(bytes));
    } else {
      std::memcpy(device.data.data() + offset, exec.SRB_BufPointer,
                  static_cast<std::size_t>(bytes));
    }
    return scsi::SS_COMP;
  }
  if (op == 0x25) {
    const auto blocks = static_cast<std::uint32_t>((device.data.size() + device.block_bytes - 1) /
                                                   device.block_bytes);
    hybrid::put_be32(exec.SRB_BufPointer, blocks - 1);
    hybrid::put_be32(exec.SRB_BufPointer + 4, device.block_bytes);
    return scsi::SS_COMP;
  }
  if (op == 0x12) {
    std::uint8_t data[36] = {};
    data[0] = static_cast<std::uint8_t>(device.type);
    put_text(data + 8, device.vendor, 8);
    put_text(data + 16, device.product, 16);
    put_text(data + 32, device.revision, 4);
    std::memcpy(exec.SRB_BufPointer, data, std::min<std::size_t>(sizeof data, exec.SRB_BufLen));
    return scsi::SS_COMP;
  }
  return op == 0x1E || op == 0x00 ? scsi::SS_COMP : scsi::SS_ERR;
}

std::vector<fake_bus::command> fake_bus::commands() const {
  std::vector<command> out;
  for (const block_copy& copy : sent) {
    scsi::request_block block;
    std::memcpy(block.bytes, copy.data(), copy.size());
    if (block.header.SRB_Cmd != scsi::SC_EXEC_SCSI_CMD) continue;
    const std::uint8_t* cdb = block.exec.CDBByte;
    const bool ten = block.exec.SRB_CDBLen == 10 && cdb[0] != 0x25;
    out.push_back({cdb[0], cdb_address(cdb, ten), cdb_count(cdb, ten)});
  }
  return out;
}

bus_scope::bus_scope(fake_bus& bus) : saved_(scsi::current_wait_limits()) {
  scsi::reset_device_state();
  scsi::install_aspi_manager(&bus);
  scsi::set_wait_limits({std::chrono::milliseconds(200), std::chrono::milliseconds(200)});
}

bus_scope::~bus_scope() {
  scsi::install_aspi_manager(nullptr);
  scsi::set_wait_limits(saved_);
  scsi::reset_device_state();
}

}  // namespace test
