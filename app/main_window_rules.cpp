#include "app/main_window_rules.h"

#include "app/main_window_ids.h"

namespace app {

bool apply_choice(window_choices& choices, int control) {
  switch (control) {
    case IDC_SOURCE_FILE:
      choices.source = hybrid::source_kind::file;
      return true;
    case IDC_SOURCE_DRIVE:
      choices.source = hybrid::source_kind::drive;
      return true;
    case IDC_KIND_FLOPPY:
    case IDC_KIND_SCSI:
    case IDC_KIND_CDROM:
      choices.device = control == IDC_KIND_FLOPPY ? hybrid::device_kind::floppy
                       : control == IDC_KIND_SCSI ? hybrid::device_kind::scsi
                                                  : hybrid::device_kind::cdrom;
      choices.source = hybrid::source_kind::drive;
      return true;
    case IDC_TARGET_ISO:
      choices.target = hybrid::target_kind::iso_image;
      return true;
    case IDC_TARGET_HFS:
      choices.target = hybrid::target_kind::hfs_image;
      return true;
    default:
      return false;
  }
}

bool browse_enabled(const window_choices& choices, int browse_button) {
  const bool drive = choices.source == hybrid::source_kind::drive;
  switch (browse_button) {
    case IDC_BROWSE_SOURCE_FILE:
      return !drive;
    case IDC_BROWSE_FLOPPY:
      return drive && choices.device == hybrid::device_kind::floppy;
    case IDC_BROWSE_SCSI:
      return drive && choices.device == hybrid::device_kind::scsi;
    case IDC_BROWSE_CDROM:
      return drive && choices.device == hybrid::device_kind::cdrom;
    case IDC_BROWSE_ISO:
      return choices.target == hybrid::target_kind::iso_image;
    case IDC_BROWSE_HFS:
      return choices.target == hybrid::target_kind::hfs_image;
    default:
      return false;
  }
}

int source_button(const window_choices& choices) {
  return choices.source == hybrid::source_kind::file ? IDC_SOURCE_FILE : IDC_SOURCE_DRIVE;
}

int device_button(const window_choices& choices) {
  switch (choices.device) {
    case hybrid::device_kind::floppy:
      return IDC_KIND_FLOPPY;
    case hybrid::device_kind::scsi:
      return IDC_KIND_SCSI;
    case hybrid::device_kind::cdrom:
      return IDC_KIND_CDROM;
    case hybrid::device_kind::none:
      break;
  }
  return 0;
}

int target_button(const window_choices& choices) {
  return choices.target == hybrid::target_kind::iso_image ? IDC_TARGET_ISO : IDC_TARGET_HFS;
}

namespace {

std::string cut(std::string text, std::size_t limit) {
  if (text.size() > limit) text.resize(limit);
  return text;
}

int device_edit_box(hybrid::device_kind kind) {
  switch (kind) {
    case hybrid::device_kind::floppy:
      return IDC_EDIT_FLOPPY;
    case hybrid::device_kind::scsi:
      return IDC_EDIT_SCSI;
    case hybrid::device_kind::cdrom:
      return IDC_EDIT_CDROM;
    case hybrid::device_kind::none:
      break;
  }
  return 0;
}

}  // namespace

hybrid::job_request make_job_request(const window_choices& choices,
                                     const std::function<std::string(int edit_box)>& text_of) {
  hybrid::job_request request;
  request.source = choices.source;
  request.device = choices.device;
  request.target = choices.target;
  if (choices.source == hybrid::source_kind::file) {
    request.source_path = text_of(IDC_EDIT_SOURCE_FILE);
  } else if (const int box = device_edit_box(choices.device); box != 0) {
    request.device_text = cut(text_of(box), device_text_limit);
  }
  request.target_path =
      text_of(choices.target == hybrid::target_kind::iso_image ? IDC_EDIT_ISO : IDC_EDIT_HFS);
  return request;
}

bool browse_cdrom(std::string& specifier, const std::function<int(std::string&)>& count_drives,
                  const std::function<int(std::string&)>& pick_device) {
  specifier.clear();
  int result = count_drives(specifier);
  if (result > 1) result = pick_device(specifier);
  return result >= 0;
}

}  // namespace app

namespace app {

during_job command_during_job(int control) {
  // Escape and the close box reach a dialog as IDCANCEL, which is 2.
  constexpr int escape_or_close = 2;
  switch (control) {
    case IDC_MAIN_START:
      return during_job::dispatch;
    case IDC_MAIN_EXIT:
    case escape_or_close:
      return during_job::ask_stop;
    default:
      return during_job::ignore;
  }
}

}  // namespace app
