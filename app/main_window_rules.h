// What the main window's radio buttons and Browse buttons do, and how Start
// reads the window into a job_request. The Windows dialog keeps no state of
// its own: it reads the marks from its controls, applies a click here and
// shows the result, so these rules are the whole behaviour.
#pragma once

#include <functional>
#include <string>

#include "hybrid/job_dispatch.h"

namespace app {

// The marks of the three radio groups. The window starts with the file
// source, the ISO image target and no device kind.
struct window_choices {
  hybrid::source_kind source = hybrid::source_kind::file;
  hybrid::device_kind device = hybrid::device_kind::none;
  hybrid::target_kind target = hybrid::target_kind::iso_image;
};

// A click on one of the seven radio buttons; false for any other control.
// Picking a device kind also picks the drive source; picking the file source
// leaves the device kind marked, so going back to the drive brings it back.
bool apply_choice(window_choices& choices, int control);

// Whether a Browse button (501 to 506) is enabled. A device kind's button
// only while that kind is marked and the drive is the source.
bool browse_enabled(const window_choices& choices, int browse_button);

// The radio button marked in each group; 0 when no device kind is.
int source_button(const window_choices& choices);
int device_button(const window_choices& choices);
int target_button(const window_choices& choices);

// A device specifier is read into a 32-byte buffer: a longer text is cut.
// Paths are taken whole: a path cut short names another file, which the job
// would then open, and paths past 260 characters are ordinary where the
// system allows long paths.
constexpr std::size_t device_text_limit = 31;

// Builds the request from the marks and the edit boxes' texts. Only the boxes
// that the request uses are read: the source file's for a file source, the
// marked device kind's for a drive, and the target's.
hybrid::job_request make_job_request(const window_choices& choices,
                                     const std::function<std::string(int edit_box)>& text_of);

// The CD-ROM's Browse. `count_drives` is find_cdrom: it counts the CD-ROM
// drives and names the device when there is exactly one. With several,
// `pick_device` (the device picker for CD-ROMs) decides. Returns true when
// `specifier` is to go into the edit box: with no drive that empties it.
bool browse_cdrom(std::string& specifier, const std::function<int(std::string&)>& count_drives,
                  const std::function<int(std::string&)>& pick_device);

// What a command of the main window does while a job runs. The window
// handles no input then, except Start, which reaches the dispatch and its
// refusal, and the ways to end the program, which ask whether to stop the
// job. Nothing opens a Browse dialog or Help in the middle of a job.
enum class during_job { dispatch, ask_stop, ignore };
during_job command_during_job(int control);

}  // namespace app
