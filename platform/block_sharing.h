// Files that share blocks: a file system with copy-on-write extents (XFS
// with reflink, btrfs, ReFS) can make a range of one file the very blocks
// of another in one call, instead of copying the bytes. A shared block
// stays shared until either file is rewritten there. The build picks
// block_sharing_linux.cpp (FICLONERANGE), block_sharing_win32.cpp
// (FSCTL_DUPLICATE_EXTENTS_TO_FILE), or block_sharing_posix.cpp, which
// shares nothing.
#pragma once

#include <cstdint>
#include <cstdio>

namespace platform {

// The size that both offsets and the length of a share between these two
// open files must be multiples of, when their file systems are of a kind
// that shares blocks and they may share with each other; 0 otherwise. The
// file systems still decide when asked: this says only that asking is
// worth one call.
std::uint64_t sharing_block_bytes(std::FILE* source, std::FILE* target);

// Makes the `length` bytes of `target` from `target_offset` the blocks of
// `source` from `source_offset`, extending `target` when they lie past its
// end. False when the system refused (another file system, other devices,
// no support, a range it does not take): nothing of the range can then be
// counted on, and the caller writes it. The streams' positions are left
// to the caller to set again.
bool share_blocks(std::FILE* source, std::uint64_t source_offset, std::FILE* target,
                  std::uint64_t target_offset, std::uint64_t length);

}  // namespace platform
