// Poses for the screenshots of the read-me: each brings one window up as a
// user would see it, writes its place into DATA_DIR\pose.txt ("x y width
// height" in screen pixels) and holds still until the screenshot script has
// deleted that file.
#include <cstdio>
#include <string>

#include "tests/wine/gui_cases.h"

namespace gui {
namespace {

void hold(const context& data, HWND window) {
  settle(window);
  Sleep(300);  // the last paint
  RECT rect{};
  GetWindowRect(window, &rect);
  const std::string marker = data.path("pose.txt");
  std::FILE* file = std::fopen(marker.c_str(), "w");
  if (!check(file != nullptr, "cannot write " + marker)) return;
  std::fprintf(file, "%ld %ld %ld %ld\n", rect.left, rect.top, rect.right - rect.left,
               rect.bottom - rect.top);
  std::fclose(file);
  check(wait_until([&] { return !exists(marker); }, 60000), "nobody took the screenshot");
}

void pose_main(const context& data, program& app) {
  set_item_text(app.main, id_edit_file, "C:\\Images\\Mac volume.hfs");
  set_item_text(app.main, id_edit_iso, "C:\\Images\\Product CD.iso");
  hold(data, app.main);
}

void pose_partition(const context& data, program& app) {
  copy_file(data.path("plain.iso"), data.path("pose.iso"));
  set_item_text(app.main, id_edit_file, data.path("two.hfs"));
  set_item_text(app.main, id_edit_iso, data.path("pose.iso"));
  click(app.main, id_start);
  HWND dialog = wait_titled(app.pid(), partition_caption, job_timeout_ms);
  if (!check(dialog != nullptr, "no partition dialog")) return;
  click(dialog, 301);
  wait_until([&] { return is_checked(dialog, 301); }, message_timeout_ms);
  hold(data, dialog);
}

void pose_floppy(const context& data, program& app) {
  click(app.main, id_floppy);
  click(app.main, id_browse_floppy);
  HWND dialog = wait_titled(app.pid(), floppy_caption, message_timeout_ms);
  if (!check(dialog != nullptr, "no drive dialog")) return;
  hold(data, dialog);
}

void pose_device(const context& data, program& app) {
  click(app.main, id_scsi);
  click(app.main, id_browse_scsi);
  HWND dialog = wait_titled(app.pid(), device_caption, job_timeout_ms);
  if (!check(dialog != nullptr, "no device dialog")) return;
  click(dialog, 303);
  wait_until([&] { return is_checked(dialog, 303); }, message_timeout_ms);
  hold(data, dialog);
}

}  // namespace

void add_poses(std::vector<test_case>& cases) {
  cases.push_back({"pose_main", pose_main});
  cases.push_back({"pose_partition", pose_partition});
  cases.push_back({"pose_floppy", pose_floppy});
  cases.push_back({"pose_device", pose_device});
}

}  // namespace gui
