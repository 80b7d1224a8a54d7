#include <linux/fs.h>
#include <linux/magic.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/vfs.h>

#include <algorithm>

#include "platform/block_sharing.h"

namespace platform {
namespace {

// bcachefs shares extents too; older kernel headers do not name it.
constexpr unsigned long bcachefs_magic = 0xca451a4eUL;

bool shares_blocks(unsigned long kind) {
  return kind == XFS_SUPER_MAGIC || kind == BTRFS_SUPER_MAGIC || kind == OCFS2_SUPER_MAGIC ||
         kind == bcachefs_magic;
}

}  // namespace

std::uint64_t sharing_block_bytes(std::FILE* source, std::FILE* target) {
  struct statfs source_fs {};
  struct statfs target_fs {};
  struct stat source_info {};
  struct stat target_info {};
  const int source_fd = fileno(source);
  const int target_fd = fileno(target);
  if (fstatfs(source_fd, &source_fs) != 0 || fstatfs(target_fd, &target_fs) != 0 ||
      fstat(source_fd, &source_info) != 0 || fstat(target_fd, &target_info) != 0) {
    return 0;
  }
  const auto kind = static_cast<unsigned long>(target_fs.f_type);
  if (static_cast<unsigned long>(source_fs.f_type) != kind || !shares_blocks(kind)) return 0;
  // A btrfs subvolume shows as a device of its own, yet shares blocks with
  // the others of its file system; elsewhere another device is another
  // file system, which the kernel refuses (EXDEV).
  if (kind != BTRFS_SUPER_MAGIC && source_info.st_dev != target_info.st_dev) return 0;
  const auto block = std::max(source_fs.f_bsize, target_fs.f_bsize);
  return block > 0 ? static_cast<std::uint64_t>(block) : 0;
}

bool share_blocks(std::FILE* source, std::uint64_t source_offset, std::FILE* target,
                  std::uint64_t target_offset, std::uint64_t length) {
  // A length of 0 would share the source up to its end.
  if (length == 0) return false;
  file_clone_range range{};
  range.src_fd = fileno(source);
  range.src_offset = source_offset;
  range.src_length = length;
  range.dest_offset = target_offset;
  return ioctl(fileno(target), FICLONERANGE, &range) == 0;
}

}  // namespace platform
