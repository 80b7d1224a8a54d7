#include "test_support.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <random>

namespace test {

bool failing_stream::next_fails() {
  if (counted_by_ != nullptr) return counted_by_->next_fails();
  ++operations;
  return operations == fail_at || (dead_after != 0 && operations > dead_after);
}

// Each stream says why its own last operation failed, whoever counts it.
bool failing_stream::fails_now() { return failed_ = next_fails(); }

void failing_stream::note(const std::string& entry) {
  if (journal_as_.empty()) {
    journal.push_back(entry);
  } else {
    counted_by_->note(journal_as_ + ": " + entry);
  }
}

bool failing_stream::counted_folder::fails_now() { return failed_ = owner_.next_fails(); }

std::unique_ptr<hybrid::byte_stream> failing_stream::counted_folder::file(const std::string& name) {
  auto file = std::make_unique<failing_stream>(name, owner_.shared_folder()->files[name]);
  file->counted_by_ = owner_.counted_by_ != nullptr ? owner_.counted_by_ : &owner_;
  file->journal_as_ = name;
  return file;
}

std::unique_ptr<hybrid::byte_stream> failing_stream::counted_folder::make_file(
    const std::string& name, const hybrid::byte_stream&) {
  auto& files = owner_.shared_folder()->files;
  if (fails_now() || files.count(name) != 0) return nullptr;
  files[name] = std::make_shared<std::vector<std::uint8_t>>();
  owner_.note("make " + name);
  return file(name);
}

std::unique_ptr<hybrid::byte_stream> failing_stream::counted_folder::open_file(
    const std::string& name, bool& missing) {
  missing = false;
  if (fails_now()) return nullptr;
  missing = owner_.shared_folder()->files.count(name) == 0;
  return missing ? nullptr : file(name);
}

bool failing_stream::counted_folder::rename(const std::string& from, const std::string& to) {
  if (fails_now() || !owner_.shared_folder()->rename(from, to)) return false;
  owner_.note("rename " + from + " > " + to);
  return true;
}

bool failing_stream::counted_folder::remove(const std::string& name) {
  if (fails_now() || !owner_.shared_folder()->remove(name)) return false;
  owner_.note("remove " + name);
  return true;
}

bool failing_stream::counted_folder::sync() {
  if (fails_now()) return false;
  owner_.note("sync folder");
  return true;
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
  note("write@" + std::to_string(at) + "+" + std::to_string(count));
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
  note("flush");
  return memory_stream::flush();
}
bool failing_stream::sync_to_disk() {
  if (fails_now()) return false;
  note("sync");
  return memory_stream::sync_to_disk();
}
bool failing_stream::length(std::uint64_t& bytes) {
  return !fails_now() && memory_stream::length(bytes);
}
bool failing_stream::truncate(std::uint64_t bytes) {
  if (fails_now()) return false;
  note("truncate@" + std::to_string(bytes));
  return memory_stream::truncate(bytes);
}
bool failing_stream::status(platform::file_status& status) {
  return !fails_now() && memory_stream::status(status);
}
std::unique_ptr<hybrid::byte_stream> failing_stream::open_scratch(std::string& why_not) {
  if (fails_now()) {
    why_not = "Injected failure";
    return nullptr;
  }
  auto scratch = std::make_unique<failing_stream>("scratch beside " + name());
  scratch->counted_by_ = this;
  return scratch;
}
std::string failing_stream::error_text() const { return failed_ ? "Injected failure" : ""; }
bool failing_stream::share_blocks(hybrid::byte_stream& source, std::uint64_t source_offset,
                                  std::uint64_t offset, std::uint64_t length) {
  std::vector<std::uint8_t> blocks(static_cast<std::size_t>(length));
  if (fails_now() || refuse_sharing || share_block_bytes == 0 || length % share_block_bytes != 0 ||
      offset % share_block_bytes != 0 || source_offset % share_block_bytes != 0 ||
      offset + length > size_limit || !source.seek(source_offset) ||
      !hybrid::read_exact(source, blocks.data(), blocks.size())) {
    note("share refused");
    return false;
  }
  note("share@" + std::to_string(offset) + "+" + std::to_string(length));
  return memory_stream::seek(offset) && memory_stream::write(blocks.data(), blocks.size());
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
  hybrid::driver_descriptor descriptor;
  descriptor.signature = hybrid::descriptor_signature;
  descriptor.block_size = 512;
  descriptor.block_count = total_blocks;
  descriptor.drivers[2] = 0xAA;  // a driver descriptor that a hybrid must not carry over
  hybrid::encode_driver_descriptor(descriptor, image.data());
  for (std::size_t i = 0; i < entries.size(); ++i) {
    hybrid::partition_entry entry;
    entry.signature = hybrid::entry_signature;
    entry.map_blocks = static_cast<std::uint32_t>(entries.size());
    entry.first_block = entries[i].first_block;
    entry.block_count = entries[i].block_count;
    entry.name = hybrid::map_text_of(entries[i].name);
    entry.type = hybrid::map_text_of(entries[i].type);
    entry.data_count = entries[i].block_count;
    entry.status = 0x33;
    hybrid::encode_partition_entry(entry, image.data() + (i + 1) * 512);
  }
  // Every Apple_HFS partition of three blocks or more begins with a volume
  // ("BD" at its byte 1024), unless its header would fall on the map: the
  // jobs refuse a hybrid whose partition holds none, as --info flags it.
  for (const map_entry& entry : entries) {
    const std::uint64_t header_block = std::uint64_t{entry.first_block} + 2;
    if (entry.type.rfind("Apple_HFS", 0) != 0 || entry.block_count < 3 ||
        header_block <= entries.size() || header_block >= total_blocks) {
      continue;
    }
    std::memcpy(image.data() + header_block * 512, "BD", 2);
  }
  return image;
}

std::vector<std::uint8_t> iso_image(std::size_t bytes) {
  std::vector<std::uint8_t> image = pattern(bytes, 0x11);
  std::fill_n(image.begin(), std::min<std::size_t>(bytes, hybrid::map_area_bytes), 0);
  if (bytes < hybrid::map_area_bytes + 2 * 2048) return image;
  // The primary volume descriptor, declaring at least the whole file, and
  // the terminator of the descriptor set.
  std::uint8_t* primary = image.data() + hybrid::map_area_bytes;
  std::uint8_t* terminator = primary + 2048;
  std::fill_n(primary, 2 * 2048, 0);
  primary[0] = 1;
  terminator[0] = 255;
  for (std::uint8_t* descriptor : {primary, terminator}) {
    std::memcpy(descriptor + 1, "CD001", 5);
    descriptor[6] = 1;
  }
  put_iso_both_endian32(primary + 80, static_cast<std::uint32_t>((bytes + 2047) / 2048));
  primary[128] = 0x00;  // logical block size 2048, both ways
  primary[129] = 0x08;
  primary[130] = 0x08;
  primary[131] = 0x00;
  return image;
}

std::vector<std::uint8_t> with_bytes_after_volume(std::vector<std::uint8_t> iso,
                                                  std::size_t bytes) {
  const std::vector<std::uint8_t> tail = pattern(bytes, 0x5A);
  iso.insert(iso.end(), tail.begin(), tail.end());
  return iso;
}

void put_iso_both_endian32(std::uint8_t* at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<std::uint8_t>(value >> (8 * i));
  hybrid::put_be32(at + 4, value);
}

std::vector<std::uint8_t> bare_volume(const char* signature, std::size_t bytes,
                                      std::uint64_t declared) {
  std::vector<std::uint8_t> volume = pattern(bytes, 9);
  std::memset(volume.data(), 0, 1024);
  std::uint8_t* header = volume.data() + 1024;
  std::memcpy(header, signature, 2);
  if (declared == 0) declared = bytes / 512 * 512;
  if (signature[0] == 'B') {
    // Allocation blocks of 512 bytes from block 4; the alternate Master
    // Directory Block and the last block after them.
    hybrid::put_be16(header + 18, static_cast<std::uint16_t>((declared - 4 * 512 - 1024) / 512));
    hybrid::put_be32(header + 20, 512);
    hybrid::put_be16(header + 28, 4);
  } else {
    hybrid::put_be32(header + 40, 512);
    hybrid::put_be32(header + 44, static_cast<std::uint32_t>(declared / 512));
  }
  return volume;
}

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
