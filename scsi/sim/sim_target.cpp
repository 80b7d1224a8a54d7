#include "scsi/sim/sim_target.h"

#include <algorithm>
#include <cstring>

#include "scsi/scsi_request.h"

namespace scsi::sim {
namespace {

constexpr std::uint8_t op_test_unit_ready = 0x00;
constexpr std::uint8_t op_read6 = 0x08;
constexpr std::uint8_t op_write6 = 0x0A;
constexpr std::uint8_t op_inquiry = 0x12;
constexpr std::uint8_t op_prevent_allow = 0x1E;
constexpr std::uint8_t op_read_capacity = 0x25;
constexpr std::uint8_t op_read10 = 0x28;
constexpr std::uint8_t op_write10 = 0x2A;

constexpr std::uint8_t type_disk = 0x00;
constexpr std::uint8_t type_cdrom = 0x05;

// Bytes of the command descriptor block the command needs, 0 when the
// target does not know the command.
std::uint8_t cdb_bytes_needed(std::uint8_t opcode) {
  switch (opcode) {
    case op_test_unit_ready:
    case op_read6:
    case op_write6:
    case op_inquiry:
    case op_prevent_allow:
      return 6;
    case op_read_capacity:
    case op_read10:
    case op_write10:
      return 10;
    default:
      return 0;
  }
}

std::uint32_t get_be32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | p[3];
}

void put_be32(std::uint8_t* p, std::uint64_t value) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(value >> (24 - 8 * i));
}

// The flags allow data to come in (to the host) or go out; neither direction
// bit means the adapter takes the direction from the command.
bool direction_allows(std::uint8_t flags, bool out) {
  const auto direction = flags & (SRB_DIR_IN | SRB_DIR_OUT);
  return direction == 0 || direction == (out ? SRB_DIR_OUT : SRB_DIR_IN);
}

outcome data_overrun() {
  outcome result;
  result.status = SS_ERR;
  result.ha_stat = hastat_data_overrun;
  return result;
}

void put_text(std::uint8_t* field, std::size_t width, const std::string& text) {
  std::memset(field, ' ', width);
  std::memcpy(field, text.data(), std::min(width, text.size()));
}

bool printable(const std::string& text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c < 0x7F; });
}

}  // namespace

outcome check_condition(std::uint8_t key, std::uint8_t asc, std::uint8_t ascq) {
  outcome result;
  result.status = SS_ERR;
  result.check_condition = true;
  result.sense_key = key;
  result.asc = asc;
  result.ascq = ascq;
  return result;
}

outcome injected_failure(std::uint8_t status, bool write) {
  if (status == SS_ERR) {
    return check_condition(key_medium_error, write ? asc_write_error : asc_unrecovered_read_error);
  }
  outcome result;
  result.status = status;
  return result;
}

std::array<std::uint8_t, sense_data_bytes> sense_data(const outcome& result) {
  std::array<std::uint8_t, sense_data_bytes> sense{};
  sense[0] = 0x70;  // current error, fixed format
  sense[2] = result.sense_key;
  sense[7] = sense_data_bytes - 8;  // additional sense length
  sense[12] = result.asc;
  sense[13] = result.ascq;
  return sense;
}

bool is_transfer(std::uint8_t opcode) {
  return opcode == op_read6 || opcode == op_write6 || opcode == op_read10 || opcode == op_write10;
}

bool decode_transfer(const std::uint8_t* cdb, std::uint8_t cdb_len, block_range& range) {
  const std::uint8_t opcode = cdb[0];
  if (!is_transfer(opcode) || cdb_len < cdb_bytes_needed(opcode)) return false;
  range.write = opcode == op_write6 || opcode == op_write10;
  if (opcode == op_read6 || opcode == op_write6) {
    range.first = std::uint32_t{cdb[1] & 0x1Fu} << 16 | std::uint32_t{cdb[2]} << 8 | cdb[3];
    range.count = cdb[4] == 0 ? 256 : cdb[4];
  } else {
    range.first = get_be32(cdb + 2);
    range.count = std::uint32_t{cdb[7]} << 8 | cdb[8];
  }
  return true;
}

std::unique_ptr<target> target::open(const sim_device& device, std::string& error) {
  const bool cdrom = device.kind == sim_device::kind::cdrom;
  const std::string product =
      device.product.empty() ? (cdrom ? "SIM CD-ROM" : "SIM DISK") : device.product;
  if (device.vendor.size() > 8 || product.size() > 16 || device.revision.size() > 4 ||
      !printable(device.vendor) || !printable(product) || !printable(device.revision)) {
    error = "vendor, product and revision must be printable and at most 8, 16 and 4 characters";
    return nullptr;
  }
  const std::uint32_t block_bytes = device.block_bytes != 0 ? device.block_bytes
                                    : cdrom                 ? cd_sector_bytes
                                                            : 512u;
  if (block_bytes > 65536) {
    error = "a block of " + std::to_string(block_bytes) + " bytes is more than 65536";
    return nullptr;
  }

  std::unique_ptr<target> result(new target);
  std::string why;
  if (!result->file_.open(device.path, !cdrom, why)) {
    error = "cannot open " + device.path + ": " + why;
    return nullptr;
  }
  result->writable_ = result->file_.writable();
  std::uint64_t bytes = 0;
  if (!result->file_.size(bytes, why)) {
    error = "cannot find the length of " + device.path + ": " + why;
    return nullptr;
  }
  result->blocks_ = (bytes + block_bytes - 1) / block_bytes;
  if (result->blocks_ == 0) {
    error = device.path + " is empty";
    return nullptr;
  }
  if (result->blocks_ > 0xFFFFFFFFu) {
    error = device.path + " has more blocks than 32-bit block numbers reach";
    return nullptr;
  }
  result->block_bytes_ = block_bytes;
  result->no_six_byte_transfers_ = device.no_six_byte_transfers;
  result->peripheral_type_ = cdrom ? type_cdrom : type_disk;

  auto& data = result->inquiry_data_;
  data[0] = result->peripheral_type_;
  data[1] = cdrom ? 0x80 : 0x00;  // removable medium
  data[2] = 0x02;                 // SCSI-2
  data[3] = 0x02;                 // response data format
  data[4] = static_cast<std::uint8_t>(data.size() - 5);
  put_text(&data[8], 8, device.vendor);
  put_text(&data[16], 16, product);
  put_text(&data[32], 4, device.revision);
  return result;
}

target::~target() = default;

outcome target::execute(SRB_ExecSCSICmd& srb) {
  const std::uint8_t* cdb = srb.CDBByte;
  const std::uint8_t needed = cdb_bytes_needed(cdb[0]);
  const bool six_byte_transfer = cdb[0] == op_read6 || cdb[0] == op_write6;
  if (needed == 0 || (six_byte_transfer && no_six_byte_transfers_)) {
    return check_condition(key_illegal_request, asc_invalid_opcode);
  }
  if (srb.SRB_CDBLen < needed)
    return check_condition(key_illegal_request, asc_invalid_field_in_cdb);
  // SCSI-2 puts the logical unit in the top bits of byte 1; only unit 0 exists.
  if ((cdb[1] & 0xE0) != 0) return check_condition(key_illegal_request, asc_lun_not_supported);
  switch (cdb[0]) {
    case op_inquiry:
      return inquiry(srb);
    case op_read_capacity:
      return read_capacity(srb);
    case op_prevent_allow:
      locked_.store((cdb[4] & 0x01) != 0);
      return {};
    case op_test_unit_ready:
      return {};
    default:
      return transfer(srb);
  }
}

outcome target::inquiry(SRB_ExecSCSICmd& srb) const {
  if (!direction_allows(srb.SRB_Flags, false)) return data_overrun();
  // Vital product data pages are not offered.
  if ((srb.CDBByte[1] & 0x01) != 0 || srb.CDBByte[2] != 0) {
    return check_condition(key_illegal_request, asc_invalid_field_in_cdb);
  }
  const std::size_t bytes =
      std::min<std::size_t>({inquiry_data_.size(), srb.CDBByte[4], std::size_t{srb.SRB_BufLen}});
  if (bytes > 0) std::memcpy(srb.SRB_BufPointer, inquiry_data_.data(), bytes);
  outcome result;
  result.bytes_read = bytes;
  return result;
}

outcome target::read_capacity(SRB_ExecSCSICmd& srb) const {
  if (!direction_allows(srb.SRB_Flags, false) || srb.SRB_BufLen < 8) return data_overrun();
  std::uint8_t* out = srb.SRB_BufPointer;
  put_be32(out, blocks_ - 1);
  put_be32(out + 4, block_bytes_);
  outcome result;
  result.bytes_read = 8;
  return result;
}

outcome target::transfer(SRB_ExecSCSICmd& srb) {
  block_range range;
  decode_transfer(srb.CDBByte, srb.SRB_CDBLen, range);
  if (!direction_allows(srb.SRB_Flags, range.write)) return data_overrun();
  if (range.write && !writable_) return check_condition(key_data_protect, asc_write_protected);
  if (std::uint64_t{range.first} + range.count > blocks_) {
    return check_condition(key_illegal_request, asc_lba_out_of_range);
  }
  const std::uint64_t bytes = std::uint64_t{range.count} * block_bytes_;
  if (bytes > srb.SRB_BufLen) return data_overrun();
  const std::uint64_t offset = std::uint64_t{range.first} * block_bytes_;
  const auto size = static_cast<std::size_t>(bytes);
  outcome result;
  const bool cached =
      !range.write && ahead_.valid && ahead_.first == range.first && ahead_.count == range.count;
  ahead_.valid = false;
  next_.count = 0;
  if (cached) {
    std::memcpy(srb.SRB_BufPointer, ahead_.bytes.data(), size);
    next_ = {false, range.first + range.count, range.count};
    result.bytes_read = bytes;
    return result;
  }
  if (range.write) {
    if (!file_.write_at(srb.SRB_BufPointer, size, offset)) {
      return check_condition(key_medium_error, asc_write_error);
    }
    result.bytes_written = bytes;
    return result;
  }
  std::size_t got = 0;
  if (!file_.read_at(srb.SRB_BufPointer, size, offset, got)) {
    return check_condition(key_medium_error, asc_unrecovered_read_error);
  }
  // The image may end inside its last block; the rest of the block reads as
  // zeros.
  std::memset(srb.SRB_BufPointer + got, 0, size - got);
  result.bytes_read = bytes;
  next_ = {false, range.first + range.count, range.count};
  return result;
}

void target::read_ahead() {
  constexpr std::uint64_t max_ahead_bytes = 1u << 20;
  const block_range wanted = next_;
  next_.count = 0;
  const std::uint64_t bytes = std::uint64_t{wanted.count} * block_bytes_;
  if (wanted.count == 0 || bytes > max_ahead_bytes ||
      std::uint64_t{wanted.first} + wanted.count > blocks_) {
    return;
  }
  ahead_.bytes.resize(static_cast<std::size_t>(bytes));
  std::size_t got = 0;
  if (!file_.read_at(ahead_.bytes.data(), ahead_.bytes.size(),
                     std::uint64_t{wanted.first} * block_bytes_, got)) {
    return;  // the request itself will meet the failure
  }
  std::memset(ahead_.bytes.data() + got, 0, ahead_.bytes.size() - got);
  ahead_ = {true, wanted.first, wanted.count, std::move(ahead_.bytes)};
}

}  // namespace scsi::sim
