// The main window on its own: how it starts, its choices and Browse buttons,
// Help, the ways to end it, and every refusal of Start.
#include <array>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "tests/wine/gui_cases.h"

namespace gui {
namespace {

constexpr std::array<int, 7> radios = {id_file,  id_drive, id_floppy, id_scsi,
                                       id_cdrom, id_iso,   id_hfs};
constexpr std::array<int, 6> browse_buttons = {id_browse_file,  id_browse_floppy, id_browse_scsi,
                                               id_browse_cdrom, id_browse_iso,    id_browse_hfs};
constexpr std::array<int, 6> edit_boxes = {id_edit_file,  id_edit_floppy, id_edit_scsi,
                                           id_edit_cdrom, id_edit_iso,    id_edit_hfs};

// "checked 201 401; browse 501 505": the radio buttons that are checked and
// the Browse buttons that are enabled. A disabled edit box is named too,
// since none ever is.
std::string choices(HWND main) {
  std::string text = "checked";
  // Appended piece by piece: GCC 12 at -O2 takes `" " + std::to_string(id)`
  // for an overlapping copy and stops a Release build (-Werror=restrict).
  const auto add_id = [&text](int id) {
    text += ' ';
    text += std::to_string(id);
  };
  for (int id : radios) {
    if (is_checked(main, id)) add_id(id);
  }
  text += "; browse";
  for (int id : browse_buttons) {
    if (is_enabled(main, id)) add_id(id);
  }
  for (int id : edit_boxes) {
    if (!is_enabled(main, id))
      text.append("; edit ").append(std::to_string(id)).append(" disabled");
  }
  return text;
}

// Waits for the window to show `expected`, then reports what it shows.
bool expect_choices(HWND main, const std::string& expected, const std::string& what) {
  std::string actual;
  wait_until([&] { return (actual = choices(main)) == expected; }, message_timeout_ms);
  settle(main);
  actual = choices(main);
  return check_text(actual, expected, what);
}

void start_up(const context&, program& app) {
  HWND main = app.main;
  expect_choices(main, "checked 201 401; browse 501 505", "right after start-up");
  for (int id : edit_boxes) check_text(item_text(main, id), "", "edit box " + std::to_string(id));
  check_text(item_text(main, id_status), hybrid::text::idle, "status line");
  check_text(item_text(main, id_file), " File:", "radio 201");
  check_text(item_text(main, id_drive), " Drive:", "radio 202");
  check_text(item_text(main, id_floppy), " Mac HD [1.44 MB] floppy disk", "radio 301");
  check_text(item_text(main, id_scsi), " ASPI-driven volume [SCSI]", "radio 302");
  check_text(item_text(main, id_cdrom), " Macintosh CD-ROM [HFS]", "radio 303");
  check_text(item_text(main, id_iso), " ISO image:", "radio 401");
  check_text(item_text(main, id_hfs), " HFS image:", "radio 402");
  check_text(item_text(main, id_start), "Start", "button 102");
  check_text(item_text(main, id_exit), "Exit/Cancel", "button 101");
  check_text(item_text(main, id_help), "Help", "button 100");
  for (int id : browse_buttons)
    check_text(item_text(main, id), "Browse", "button " + std::to_string(id));
  check(GetWindow(main, GW_OWNER) == nullptr, "the main window has an owner");
  centred_on(main, screen_rect(), "the main window is not centred on the screen");
  const LONG style = GetWindowLongA(main, GWL_STYLE);
  check((style & WS_MINIMIZEBOX) == 0 && (style & WS_MAXIMIZEBOX) == 0,
        "the main window has a minimise or maximise box");
  check((style & WS_SYSMENU) != 0, "the main window has no close box");
}

// Each step clicks one radio button and names everything the window must
// show afterwards.
struct step {
  int click;
  const char* expected;
  const char* what;
};

void radio_rules(const context&, program& app) {
  static constexpr step steps[] = {
      {id_drive, "checked 202 401; browse 505",
       "Drive with no device kind enables no device Browse"},
      {id_file, "checked 201 401; browse 501 505", "File again"},
      {id_floppy, "checked 202 301 401; browse 502 505", "floppy checks Drive, enables 502 alone"},
      {id_scsi, "checked 202 302 401; browse 503 505", "SCSI checks Drive, enables 503 alone"},
      {id_cdrom, "checked 202 303 401; browse 504 505", "CD-ROM checks Drive, enables 504 alone"},
      {id_file, "checked 201 303 401; browse 501 505", "File keeps the device kind, disables 504"},
      {id_drive, "checked 202 303 401; browse 504 505", "Drive again re-enables 504"},
      {id_hfs, "checked 202 303 402; browse 504 506", "HFS image target"},
      {id_iso, "checked 202 303 401; browse 504 505", "ISO image target"},
      {id_hfs, "checked 202 303 402; browse 504 506", "HFS image target again"},
      {id_file, "checked 201 303 402; browse 501 506", "File with the HFS image target"},
      {id_scsi, "checked 202 302 402; browse 503 506", "SCSI from the file source"},
      {id_file, "checked 201 302 402; browse 501 506", "File keeps SCSI"},
      {id_drive, "checked 202 302 402; browse 503 506", "Drive re-enables 503"},
      {id_floppy, "checked 202 301 402; browse 502 506", "floppy after SCSI"},
      {id_file, "checked 201 301 402; browse 501 506", "File keeps floppy"},
      {id_drive, "checked 202 301 402; browse 502 506", "Drive re-enables 502"},
      {id_drive, "checked 202 301 402; browse 502 506", "Drive twice changes nothing"},
      {id_iso, "checked 202 301 401; browse 502 505", "back to the ISO image"},
  };
  for (const step& s : steps) {
    click(app.main, s.click);
    if (!expect_choices(app.main, s.expected, std::to_string(s.click) + ": " + s.what)) return;
  }
  // The notification code does not matter, only the control.
  PostMessageA(app.main, WM_COMMAND, MAKEWPARAM(id_cdrom, BN_DOUBLECLICKED), 0);
  expect_choices(app.main, "checked 202 303 401; browse 504 505", "303 with another notification");
  // The edit boxes take any text, whatever is chosen.
  for (int id : edit_boxes) {
    set_item_text(app.main, id, "typed " + std::to_string(id));
    check_text(item_text(app.main, id), "typed " + std::to_string(id), "text of edit box");
  }
  check_text(item_text(app.main, id_status), hybrid::text::idle, "status line after the choices");
}

void help_box(const context&, program& app) {
  click(app.main, id_help);
  HWND box = wait_box(app.pid(), message_timeout_ms);
  if (!check(box != nullptr, "Help shows no message box")) return;
  const std::string shown = item_text(box, message_text_id);
  if (check_text(shown, hybrid::text::help_text, "help text")) {
    // Five lines of contact, then the beta notice after an empty line.
    const std::string contact = shown.substr(0, shown.find("\n\n"));
    int breaks = 0;
    for (char c : contact) breaks += c == '\n' ? 1 : 0;
    check(breaks == 4, "the contact paragraph has " + std::to_string(breaks + 1) + " lines, not 5");
  }
  check(GetWindow(box, GW_OWNER) == app.main, "the help box is not owned by the main window");
  dismiss(box, IDOK);
  no_box(app.pid(), app.main, "after the help box");
  check(app.running(), "the program ended after the help box");
}

void ends_by(program& app, void (*action)(HWND), const char* what) {
  action(app.main);
  DWORD code = 99;
  if (check(app.wait_exit(message_timeout_ms, code),
            std::string(what) + " does not end the program")) {
    check(code == 0, std::string(what) + ": exit code " + std::to_string(code));
  }
}

void exit_button(const context&, program& app) {
  ends_by(
      app, [](HWND main) { click(main, id_exit); }, "Exit/Cancel");
}
void escape_key(const context&, program& app) {
  ends_by(
      app, [](HWND main) { command(main, IDCANCEL); }, "Escape");
}
void close_button(const context&, program& app) {
  ends_by(
      app, [](HWND main) { close_box(main); }, "the close box");
}

// Presses Start and expects `text` in a box owned by the main window, after
// which the window is as it was.
void expect_refusal(program& app, const std::string& text, const std::string& what) {
  const std::string before = [&] {
    std::string all = choices(app.main);
    for (int id : edit_boxes) all.append("|").append(item_text(app.main, id));
    return all;
  }();
  click(app.main, id_start);
  expect_box(app.pid(), text, app.main, what);
  no_box(app.pid(), app.main, what);
  std::string after = choices(app.main);
  for (int id : edit_boxes) after.append("|").append(item_text(app.main, id));
  check_text(after, before, what + ": the window changed");
  check_text(item_text(app.main, id_status), hybrid::text::idle, what + ": status line");
}

void refusals(const context& data, program& app) {
  HWND main = app.main;
  const std::string plain = read_file(data.path("plain.iso"));
  copy_file(data.path("plain.iso"), data.path("refused.iso"));

  // Drive chosen but no device kind: nothing names a device.
  click(main, id_drive);
  expect_choices(main, "checked 202 401; browse 505", "Drive");
  set_item_text(main, id_edit_iso, data.path("refused.iso"));
  expect_refusal(app, hybrid::text::no_drive, "drive source without a device kind");

  // Each device kind with its box empty, the other boxes filled.
  set_item_text(main, id_edit_floppy, "");
  set_item_text(main, id_edit_scsi, "A030");
  set_item_text(main, id_edit_cdrom, "C120");
  click(main, id_floppy);
  expect_choices(main, "checked 202 301 401; browse 502 505", "floppy");
  expect_refusal(app, hybrid::text::no_drive, "floppy with box 602 empty");
  set_item_text(main, id_edit_floppy, "A:");
  set_item_text(main, id_edit_scsi, "");
  click(main, id_scsi);
  expect_choices(main, "checked 202 302 401; browse 503 505", "SCSI");
  expect_refusal(app, hybrid::text::no_drive, "SCSI with box 603 empty");
  set_item_text(main, id_edit_scsi, "A030");
  set_item_text(main, id_edit_cdrom, "");
  click(main, id_cdrom);
  expect_choices(main, "checked 202 303 401; browse 504 505", "CD-ROM");
  expect_refusal(app, hybrid::text::no_drive, "CD-ROM with box 604 empty");

  // A drive source with an HFS image target needs a target path, and one
  // that can be created.
  set_item_text(main, id_edit_cdrom, "C120");
  click(main, id_hfs);
  expect_choices(main, "checked 202 303 402; browse 504 506", "HFS image target");
  expect_refusal(app, hybrid::text::no_file, "drive source, HFS image target without a path");
  const std::string nowhere = data.path("no such folder\\out.hfs");
  set_item_text(main, id_edit_hfs, nowhere);
  expect_refusal(app, hybrid::text::error_opening(nowhere), "HFS image target in a missing folder");

  // A file source with an HFS image target is refused before any path is
  // looked at, with every box empty or not.
  click(main, id_file);
  expect_choices(main, "checked 201 303 402; browse 501 506", "File");
  expect_refusal(app, hybrid::text::incoherent, "file to HFS image, source box empty");
  set_item_text(main, id_edit_file, data.path("one.hfs"));
  expect_refusal(app, hybrid::text::incoherent, "file to HFS image, both boxes filled");

  // File source, ISO target. The device kind still checked (CD-ROM, its box
  // now empty) is not looked at.
  set_item_text(main, id_edit_cdrom, "");
  click(main, id_iso);
  expect_choices(main, "checked 201 303 401; browse 501 505", "ISO image target");
  set_item_text(main, id_edit_file, "");
  expect_refusal(app, hybrid::text::no_file, "file source without a path");
  const std::string missing_hfs = data.path("missing.hfs");
  set_item_text(main, id_edit_file, missing_hfs);
  expect_refusal(app, hybrid::text::error_opening(missing_hfs), "missing source file");
  set_item_text(main, id_edit_file, data.path("one.hfs"));
  set_item_text(main, id_edit_iso, "");
  expect_refusal(app, hybrid::text::no_file, "ISO target without a path");
  const std::string missing_iso = data.path("missing.iso");
  set_item_text(main, id_edit_iso, missing_iso);
  expect_refusal(app, hybrid::text::error_opening(missing_iso), "missing ISO image");
  check(!exists(missing_iso), "the missing ISO image was created");
  // The same file under two spellings.
  set_item_text(main, id_edit_iso, data.data + "\\.\\one.hfs");
  expect_refusal(app, hybrid::text::same_file, "source and target the same file");

  check(read_file(data.path("refused.iso")) == plain, "a refused Start changed the ISO image");
}

}  // namespace

// The ISO chooser offers its own filter, then every file (emulators name
// their images .img, .dsk, .hda, .toast or .cdr); Cancel leaves box 605.
void file_chooser(const context&, program& app) {
  set_item_text(app.main, id_edit_iso, "kept.iso");
  click(app.main, id_browse_iso);
  HWND chooser = wait_titled(app.pid(), hybrid::text::open_file_title, message_timeout_ms);
  if (!check(chooser != nullptr, "Browse 505 opened no chooser")) return;
  constexpr int file_types = 0x470;  // the chooser's file type box (cmb1)
  HWND types = GetDlgItem(chooser, file_types);
  DWORD_PTR count = 0;
  SendMessageTimeoutA(types, CB_GETCOUNT, 0, 0, SMTO_NORMAL, message_timeout_ms, &count);
  // The filter's descriptions: the first part of each pair.
  std::vector<std::string> expected;
  bool description = true;
  for (const char* part = hybrid::text::iso_filter; *part != '\0'; part += std::strlen(part) + 1) {
    if (description) expected.push_back(part);
    description = !description;
  }
  check(count == expected.size(), "the chooser offers " + std::to_string(count) +
                                      " file types, not " + std::to_string(expected.size()));
  for (std::size_t i = 0; i < expected.size() && i < count; ++i) {
    // The chooser keeps its texts in UTF-16 (Wine's does, across processes).
    wchar_t wide[128] = {};
    DWORD_PTR ignored = 0;
    SendMessageTimeoutW(types, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(wide), SMTO_NORMAL,
                        message_timeout_ms, &ignored);
    const std::string text(wide, wide + wcslen(wide));  // ASCII texts
    check_text(text, expected[i], "file type " + std::to_string(i) + " of the chooser");
  }
  command(chooser, IDCANCEL);
  wait_gone(chooser, message_timeout_ms);
  check_text(item_text(app.main, id_edit_iso), "kept.iso", "box 605 after a cancelled chooser");
}

void add_main_window_cases(std::vector<test_case>& cases) {
  cases.push_back({"file_chooser", file_chooser});
  cases.push_back({"start_up", start_up});
  cases.push_back({"radio_rules", radio_rules});
  cases.push_back({"help_box", help_box});
  cases.push_back({"exit_button", exit_button});
  cases.push_back({"escape_key", escape_key});
  cases.push_back({"close_box", close_button});
  cases.push_back({"refusals", refusals});
}

const std::vector<test_case>& all_cases() {
  static const std::vector<test_case> cases = [] {
    std::vector<test_case> list;
    add_main_window_cases(list);
    add_job_cases(list);
    add_device_cases(list);
    add_poses(list);
    return list;
  }();
  return cases;
}

}  // namespace gui
