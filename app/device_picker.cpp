#include "app/device_picker.h"

#include <array>

#include "scsi/aspi.h"
#include "scsi/aspi_defs.h"
#include "scsi/device_state.h"

namespace app {
namespace {

constexpr int capacity_attempts = 10;
constexpr int type_cdrom = 5;

const scsi::device_row* header_of(const scsi::device_table& table, int host) {
  for (const scsi::device_row& row : table) {
    if (row.host == scsi::end_marker_host) break;
    if (row.host == host && row.target == scsi::header_row_target) return &row;
  }
  return nullptr;
}

// Calls `each` for every device row listed under host adapter `host`.
template <typename Each>
int for_each_device(const scsi::device_table& table, int host, Each each) {
  const scsi::device_row* header = header_of(table, host);
  if (header == nullptr) return 0;  // a full table has no room for its group
  int count = 0;
  for (const scsi::device_row* row = header + 1; row != table.data() + table.size(); ++row) {
    if (row->host != host || row->target == scsi::header_row_target) break;
    if (row->target >= picker_rows) continue;
    each(*row);
    ++count;
  }
  return count;
}

// A choice belongs to the host adapter it was made on: once another one is
// shown (and the old rows are cleared) it would name a device the user can
// no longer see, or another device with the same target id. Only a host
// adapter with exactly one device chooses for the user.
void settle_choice(device_rows& rows, int only_target) {
  scsi::device_state& state = scsi::devices();
  state.sel_target = static_cast<std::uint8_t>(only_target);
  if (only_target != scsi::no_selection) rows.mark_row(only_target);
}

}  // namespace

picker_state& picker() {
  static picker_state state;
  return state;
}

int show_host_devices(device_rows& rows, int host_count, int host,
                      const scsi::device_table& table) {
  scsi::device_state& state = scsi::devices();
  for (int target = 0; target < picker_rows; ++target) rows.clear_row(target);
  int result = scsi::no_selection;
  for (int current = host; current < host_count; ++current) {
    const scsi::device_row* header = header_of(table, current);
    rows.set_driver_text(header != nullptr ? header->product : "");
    int last_target = scsi::no_selection;
    const int shown = for_each_device(table, current, [&](const scsi::device_row& row) {
      rows.show_row(row.target, row);
      last_target = row.target;
    });
    if (shown > 0) {
      result = shown == 1 ? last_target : scsi::no_selection;
      break;
    }
    if (current < host_count - 1) ++state.sel_host;
  }
  rows.enable_host_buttons(state.sel_host != host_count - 1, state.sel_host != 0);
  return result;
}

bool open_picker(device_rows& rows, char* specifier) {
  picker_state& p = picker();
  scsi::device_state& state = scsi::devices();
  p.specifier = specifier;
  p.type_filter = static_cast<std::int8_t>(specifier[0]);
  state.sel_target = scsi::no_selection;
  state.sel_host = 0;
  rows.enable_host_buttons(false, false);
  p.host_count = scsi::scan_devices(scsi::shared_device_table(), p.type_filter) >> 8;
  if (p.host_count == 0) {
    // Nothing to choose from: the caller must not mistake the type byte
    // still in the buffer for a device.
    p.result = picker_cancelled;
    specifier[0] = '\0';
    return false;
  }
  settle_choice(rows, show_host_devices(rows, p.host_count, 0, scsi::shared_device_table()));
  return true;
}

void pick_row(device_rows& rows, int target) {
  rows.mark_row(target);
  scsi::devices().sel_target = static_cast<std::uint8_t>(target);
}

void next_host(device_rows& rows) {
  scsi::device_state& state = scsi::devices();
  ++state.sel_host;
  settle_choice(rows, show_host_devices(rows, picker().host_count, state.sel_host,
                                        scsi::shared_device_table()));
}

bool preceding_host(device_rows& rows) {
  scsi::device_state& state = scsi::devices();
  const scsi::device_table& table = scsi::shared_device_table();
  for (int host = state.sel_host - 1; host >= 0; --host) {
    if (for_each_device(table, host, [](const scsi::device_row&) {}) == 0) continue;
    state.sel_host = static_cast<std::uint8_t>(host);
    settle_choice(rows, show_host_devices(rows, picker().host_count, host, table));
    return true;
  }
  return false;
}

confirm_result confirm_device() {
  picker_state& p = picker();
  scsi::device_state& state = scsi::devices();
  if (state.sel_target == scsi::no_selection) return confirm_result::nothing_chosen;
  // One digit names the host adapter: '0' + 10 gave "A:00", a floppy drive,
  // and '0' + 11 gave "A;10", which the jobs read as the last host adapter.
  if (state.sel_host >= scsi::specifier_hosts) return confirm_result::host_unnamed;
  std::array<std::uint8_t, 512> answer{};
  bool answered = false;
  for (int attempt = 0; attempt < capacity_attempts && !answered; ++attempt) {
    answered = scsi::aspi_readcap(state.sel_host, state.sel_target, answer.data()) == scsi::SS_COMP;
  }
  if (!answered) {
    p.result = picker_no_capacity;
    return confirm_result::ended;
  }
  const std::uint32_t block_length = (std::uint32_t{answer[4]} << 24) |
                                     (std::uint32_t{answer[5]} << 16) |
                                     (std::uint32_t{answer[6]} << 8) | std::uint32_t{answer[7]};
  if (block_length != 0) {
    state.aspi_unit_size = static_cast<std::uint16_t>(block_length & 0xFFFF);
    state.unit_size_host = state.sel_host;
    state.unit_size_target = state.sel_target;
  }
  char* out = p.specifier;
  out[0] = p.type_filter == type_cdrom ? 'C' : 'A';
  out[1] = static_cast<char>('0' + state.sel_host);
  out[2] = static_cast<char>('0' + state.sel_target);
  out[3] = '0';
  out[4] = '\0';
  p.result = picker_done;
  return confirm_result::ended;
}

void cancel_picker() {
  scsi::devices().sel_host = scsi::no_selection;
  scsi::devices().sel_target = scsi::no_selection;
  picker().result = picker_cancelled;
}

void close_picker() {
  scsi::devices().sel_target = scsi::no_selection;
  picker().result = picker_cancelled;
}

}  // namespace app
