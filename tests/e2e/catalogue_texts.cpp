// Prints the program's fixed texts as bash assignments, TEXT[name]=$'...',
// which tests/e2e/lib.sh reads: the scripts check what zelvorant-cli prints
// against the catalogue, not against copies of its words.
#include <cstdio>
#include <string>

#include "hybrid/messages.h"

namespace {

namespace text = hybrid::text;

struct named_text {
  const char* name;
  std::string value;
};

// The texts the scripts look for, whole.
const named_text texts[] = {
    {"working", text::working},
    {"completed", text::completed},
    {"already_hybrid", text::already_hybrid},
    {"no_hfs_partition", text::no_hfs_partition},
    {"not_mac_volume", text::not_mac_volume},
    {"floppy_not_direct", text::floppy_not_direct},
    {"same_file", text::same_file},
    {"iso_in_use", text::iso_in_use},
    {"hfs_image_in_use", text::hfs_image_in_use},
    {"stopped", text::stopped},
    {"source_changed", text::source_changed},
    {"iso_left", text::iso_restored_suffix(true)},
    {"hfs_image_kept", text::hfs_image_kept_suffix},
    {"undo_not_hybrid", text::undo_not_hybrid},
    {"dry_run_done", text::dry_run_done},
    {"answered_ok", text::answered_ok},
    {"answered_cancel", text::answered_cancel},
    {"no_host_adapter_answers", text::no_host_adapter_answers},
    {"not_a_regular_file", text::not_a_regular_file},
    {"source_is_hfs_target", text::source_is_hfs_target},
    {"blocks_shared", text::blocks_shared},
    // With the values the scripts' images give them.
    {"undo_1_mib_after_data", text::undo_bytes_after_data(1048576)},
    // PROBLEM stands for --info's words, which the script puts in.
    {"planned_hybrid_unsound", text::planned_hybrid_unsound({"PROBLEM"})},
    // The completion lines with @ for each path and name, 0 for each number.
    {"completed_hybrid", text::completed_hybrid("@", 0, {{"@", 0}})},
    {"completed_hfs_image", text::completed_hfs_image("@", 0, {{"@", 0}})},
    {"completed_undo", text::completed_undo("@", 0)},
    {"answered_no_input", text::answered_no_input},
    {"cannot_be_opened", text::cannot_be_opened},
    {"answered_cancel_size", text::answered_cancel_for("--accept-size")},
    {"answered_cancel_system_area", text::answered_cancel_for("--overwrite-system-area")},
    {"answered_cancel_after_volume", text::answered_cancel_for("--remove-after-volume")},
    {"answered_cancel_after_data", text::answered_cancel_for("--remove-after-data")},
    {"answered_ok_size", text::answered_ok_by("--accept-size")},
    {"idle", text::idle},
    {"error_prefix", text::program_error("")},
    // REASON stands for the system's words.
    {"floppy_tool_not_started", text::floppy_tool_not_started("REASON")},
};

// bash's $'...' quoting: every byte but a letter, a digit or a space as an
// octal escape, so that no quote, backslash or line break is taken as bash's.
std::string quoted(const std::string& value) {
  std::string out = "$'";
  for (const unsigned char c : value) {
    const bool plain =
        (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == ' ';
    if (plain) {
      out += static_cast<char>(c);
    } else {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\%03o", c);
      out += escape;
    }
  }
  return out + "'";
}

}  // namespace

int main() {
  for (const named_text& t : texts) {
    std::printf("TEXT[%s]=%s\n", t.name, quoted(t.value).c_str());
  }
  return 0;
}
