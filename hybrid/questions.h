// What a job may ask the user, and how it tells progress. Jobs never see a
// window: the Windows program answers with message boxes and the partition
// dialog, the headless front end on the terminal or from its options, tests
// from a script.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "hybrid/apm/partition_map.h"
#include "hybrid/io/copy_progress.h"

namespace hybrid {

struct hybrid_layout;

// What an HFS image job would write: `block_count` 512-byte blocks of the
// device from `first_block`, behind a fresh 64-block map when `with_map`.
// A floppy's size is known only once the imaging tool has read it (0).
struct extract_plan {
  std::string device;
  std::uint64_t first_block = 0;
  std::uint64_t block_count = 0;
  bool with_map = false;
  std::uint64_t image_bytes = 0;
  bool from_file = false;  // `device` names an image file
};

// Results of the partition choice besides a row 0 to 7.
constexpr int choice_cancelled = -1;
constexpr int choice_all = -2;

// The OK/Cancel questions the jobs ask, so that a front end can answer each
// on its own: approving a large image is not approving the loss of a boot
// record.
enum class warning_kind {
  capacity,            // the hybrid would not fit on the medium
  system_area,         // the ISO image's first 32,768 bytes hold data
  bytes_after_volume,  // bytes after the ISO 9660 volume would be removed
  undo_system_area,    // --undo would zero data besides the map
  undo_bytes_after,    // --undo would cut bytes the map does not account for
};

// What each listed row's HFS volume calls itself ("" when it has no HFS
// header or could not be read).
using volume_names = std::array<std::string, max_partitions>;

class questions : public copy_progress {
 public:
  virtual ~questions() = default;

  // A notice with the one button OK.
  virtual void notice(const std::string& text) = 0;
  // A warning with OK and Cancel; true for OK.
  virtual bool warning(const std::string& text) = 0;
  // Which partition: a row 0 to 7, choice_all or choice_cancelled. Jobs ask
  // only when two or more partitions are listed; the rows offered are those
  // before the first slot with an empty name.
  virtual int choose_partition(const partition_list& list) = 0;

  // The same questions for a front end that tells them apart; the window
  // asks them all alike.
  virtual bool warning_about(warning_kind, const std::string& text) { return warning(text); }
  // A front end that shows the volume names beside the rows says so; the
  // job then reads them before it asks.
  virtual bool wants_volume_names() const { return false; }
  virtual int choose_partition_named(const partition_list& list, const volume_names&) {
    return choose_partition(list);
  }
  // The medium the user named, in bytes, for the capacity questions; unset,
  // each job keeps its own CD-ROM's.
  virtual std::optional<std::uint64_t> medium_bytes() const { return std::nullopt; }

  // A dry run: the job makes every check and asks every question, hands
  // its plan over where it would write its first byte, and ends there as
  // done, having written nothing.
  virtual bool dry_run() const { return false; }
  virtual void show_plan(const hybrid_layout&, std::uint64_t /*iso_length*/) {}
  virtual void show_plan(const extract_plan&) {}
};

}  // namespace hybrid
