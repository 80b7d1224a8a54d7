// The main window (template 1): the program's one window. The job dispatch
// speaks to the user through show_message and set_status.
#pragma once

#include <windows.h>

#include <string>

namespace app {

INT_PTR CALLBACK main_dialog_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

// The file chooser: 1 when a file was chosen and its path written into edit
// box `edit_box` of `owner`, 0 when cancelled (the box is left alone). The
// filter's first pattern is also the name the chooser opens with.
int browse_file(HWND owner, int edit_box, const char* default_extension, const char* title,
                const char* filter);

// A box owned by the main window, captioned with the program title, OK.
void show_message(const std::string& text);
// The status line at the foot of the main window, repainted at once: the
// job that follows reads the window's messages only between chunks.
void set_status(const std::string& text);

}  // namespace app
