// The device picker's behaviour over the device table: which host adapter is
// shown, which rows are filled, which target is chosen, and what OK, Cancel
// and the close box leave behind. The Windows dialog draws it through
// device_rows; tests keep the rows in memory.
#pragma once

#include <cstdint>
#include <string>

#include "scsi/device_scan.h"

namespace app {

constexpr int picker_rows = 8;  // row k shows target k

// Results of choose_device.
constexpr int picker_done = 0;
constexpr int picker_cancelled = -1;
constexpr int picker_no_capacity = -2;

// What the dialog shows.
class device_rows {
 public:
  virtual ~device_rows() = default;
  virtual void set_driver_text(const char* text) = 0;
  // Enables row `target` and shows the device's vendor, product and revision.
  virtual void show_row(int target, const scsi::device_row& row) = 0;
  // Empties row `target`, takes its mark off and disables it.
  virtual void clear_row(int target) = 0;
  // Marks row `target` and takes the mark off the others.
  virtual void mark_row(int target) = 0;
  virtual void enable_host_buttons(bool next, bool preceding) = 0;
};

// The picker while it is open: host adapters scanned, the caller's specifier
// buffer (at least 5 bytes; its first byte brought the type filter) and the
// result choose_device returns.
struct picker_state {
  int host_count = 0;
  int type_filter = 0;
  char* specifier = nullptr;
  int result = picker_done;
};
picker_state& picker();

// Shows host adapter `host`, or the next one after it that lists devices
// (sel_host follows it). Rows of the host adapter shown before are cleared
// first. Returns the target of the only device listed, else 255.
int show_host_devices(device_rows& rows, int host_count, int host, const scsi::device_table& table);

// Opening: scans for the kind of device the specifier's first byte names and
// shows the first host adapter with devices, choosing its device when it is
// the only one. False when no host adapter answers: the dialog then ends
// with nothing chosen (result -1, empty specifier).
bool open_picker(device_rows& rows, char* specifier);
// A click on row `target`.
void pick_row(device_rows& rows, int target);
// "Next Host" and "Preceding Host". The choice is dropped with the rows of
// the host adapter left; one that has exactly one device chooses it.
void next_host(device_rows& rows);
// Steps back to the nearest earlier host adapter that lists devices; false
// when there is none (nothing changes).
bool preceding_host(device_rows& rows);
// What OK does.
enum class confirm_result {
  nothing_chosen,  // no target chosen: the dialog beeps and stays open
  host_unnamed,    // the device sits on a host adapter no specifier can name
                   // (10 and up): the dialog says so and stays open
  ended,           // the dialog ends with picker().result set
};
// OK: unless the choice is refused, asks the device's capacity (10 tries),
// learns its block length and writes the specifier.
confirm_result confirm_device();
// The dialog says text::unnamed_host for confirm_result::host_unnamed. When
// the scan found no host adapter at all the dialog is not shown: a box says
// text::no_host_adapter, and the edit box is left as it was.

// Cancel and Escape forget the host adapter and target; the close box only
// the target.
void cancel_picker();
void close_picker();

}  // namespace app
