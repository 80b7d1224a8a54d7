#include "test_support.h"

#include <atomic>
#include <cstring>
#include <filesystem>
#include <random>

namespace test {

bool failing_stream::fails_now() {
  ++operations;
  if (operations == fail_at) {
    failed_ = true;
    return true;
  }
  failed_ = false;
  return false;
}

std::size_t failing_stream::read(void* buffer, std::size_t count) {
  if (fails_now()) return 0;
  return memory_stream::read(buffer, count);
}

bool failing_stream::write(const void* buffer, std::size_t count) {
  if (fails_now()) return false;
  std::uint64_t at = 0;
  memory_stream::tell(at);
  if (at + count > size_limit) {
    failed_ = true;
    return false;
  }
  journal.push_back("write@" + std::to_string(at) + "+" + std::to_string(count));
  return memory_stream::write(buffer, count);
}

bool failing_stream::seek(std::uint64_t offset) {
  return !fails_now() && memory_stream::seek(offset);
}
bool failing_stream::seek_to_end() { return !fails_now() && memory_stream::seek_to_end(); }
bool failing_stream::tell(std::uint64_t& offset) {
  return !fails_now() && memory_stream::tell(offset);
}
bool failing_stream::flush() {
  if (fails_now()) return false;
  journal.push_back("flush");
  return memory_stream::flush();
}
bool failing_stream::sync_to_disk() {
  if (fails_now()) return false;
  journal.push_back("sync");
  return memory_stream::sync_to_disk();
}
bool failing_stream::length(std::uint64_t& bytes) {
  return !fails_now() && memory_stream::length(bytes);
}
bool failing_stream::truncate(std::uint64_t bytes) {
  if (fails_now()) return false;
  journal.push_back("truncate@" + std::to_string(bytes));
  return memory_stream::truncate(bytes);
}

std::vector<std::uint8_t> pattern(std::size_t bytes, std::uint8_t seed) {
  std::vector<std::uint8_t> out(bytes);
  for (std::size_t i = 0; i < bytes; ++i) {
    out[i] = static_cast<std::uint8_t>(seed + i / 512 * 7 + i % 251);
  }
  return out;
}

std::vector<std::uint8_t> hfs_image(const std::vector<map_entry>& entries,
                                    std::uint32_t total_blocks) {
  std::vector<std::uint8_t> image = pattern(std::size_t{total_blocks} * 512, 0x40);
  std::memset(image.data(), 0, (entries.size() + 1) * 512);
  image[0] = 'E';
  image[1] = 'R';
  hybrid::put_be16(image.data() + 2, 512);
  hybrid::put_be32(image.data() + 4, total_blocks);
  image[20] = 0xAA;  // a driver descriptor that a hybrid must not carry over
  for (std::size_t i = 0; i < entries.size(); ++i) {
    std::uint8_t* block = image.data() + (i + 1) * 512;
    block[0] = 'P';
    block[1] = 'M';
    hybrid::put_be32(block + hybrid::pm::map_blocks, static_cast<std::uint32_t>(entries.size()));
    hybrid::put_be32(block + hybrid::pm::first_block, entries[i].first_block);
    hybrid::put_be32(block + hybrid::pm::block_count, entries[i].block_count);
    std::memcpy(block + hybrid::pm::name, entries[i].name.data(), entries[i].name.size());
    std::memcpy(block + hybrid::pm::type, entries[i].type.data(), entries[i].type.size());
    hybrid::put_be32(block + hybrid::pm::data_count, entries[i].block_count);
    hybrid::put_be32(block + hybrid::pm::status, 0x33);
  }
  return image;
}

std::vector<std::uint8_t> iso_image(std::size_t bytes) { return pattern(bytes, 0x11); }

std::vector<std::uint8_t> slice(const std::vector<std::uint8_t>& bytes, std::size_t offset,
                                std::size_t count) {
  return {bytes.begin() + static_cast<std::ptrdiff_t>(offset),
          bytes.begin() + static_cast<std::ptrdiff_t>(offset + count)};
}

std::string unique_temp_path(const std::string& stem) {
  static const std::uint64_t process_part = [] {
    std::random_device seed;
    return std::uint64_t{seed()} << 32 | seed();
  }();
  static std::atomic<unsigned> counter{0};
  const std::string leaf =
      stem + "-" + std::to_string(process_part) + "-" + std::to_string(counter++);
  return (std::filesystem::temp_directory_path() / leaf).string();
}

}  // namespace test
