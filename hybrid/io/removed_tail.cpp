#include "hybrid/io/removed_tail.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <vector>

#include "hybrid/io/copy_stream.h"

namespace hybrid {
namespace {

// The first volume descriptor of an ISO 9660 image: after the 32,768-byte
// system area, one 2,048-byte sector.
constexpr std::uint64_t descriptor_at = 32768;
constexpr std::size_t descriptor_bytes = 2048;

std::uint32_t crc32(const std::uint8_t* bytes, std::size_t count) {
  std::uint32_t crc = 0xFFFFFFFFu;
  for (std::size_t i = 0; i < count; ++i) {
    crc ^= bytes[i];
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

}  // namespace

kept_tail_names kept_tail_names_for(const std::string& iso_name, std::uint64_t from,
                                    std::uint32_t fingerprint) {
  char check[9];
  std::snprintf(check, sizeof check, "%08x", static_cast<unsigned>(fingerprint));
  const std::string complete = iso_name + ".removed-" + std::to_string(from) + "-" + check;
  return {complete, complete + ".incomplete"};
}

bool volume_fingerprint(byte_stream& iso, std::uint32_t& fingerprint) {
  std::array<std::uint8_t, descriptor_bytes> descriptor{};
  if (!iso.seek(descriptor_at) || !read_exact(iso, descriptor.data(), descriptor.size())) {
    return false;
  }
  fingerprint = crc32(descriptor.data(), descriptor.size());
  return true;
}

bool same_bytes(byte_stream& a, std::uint64_t a_at, byte_stream& b, std::uint64_t b_at,
                std::uint64_t count) {
  constexpr std::size_t chunk = 1 << 20;
  std::vector<std::uint8_t> from_a(static_cast<std::size_t>(std::min<std::uint64_t>(count, chunk)));
  std::vector<std::uint8_t> from_b(from_a.size());
  for (std::uint64_t done = 0; done < count;) {
    const auto step = static_cast<std::size_t>(std::min<std::uint64_t>(count - done, chunk));
    if (!a.seek(a_at + done) || !read_exact(a, from_a.data(), step) || !b.seek(b_at + done) ||
        !read_exact(b, from_b.data(), step) ||
        !std::equal(from_a.begin(), from_a.begin() + static_cast<std::ptrdiff_t>(step),
                    from_b.begin())) {
      return false;
    }
    done += step;
  }
  return true;
}

bool removed_tail::fail(step at, const byte_stream* stream) {
  failed_step_ = at;
  failed_stream_ = stream;
  return false;
}

bool removed_tail::remove(std::uint64_t from, tail_keeping keeping, copy_progress* progress) {
  std::uint64_t length = 0;
  if (!iso_.length(length)) return fail(step::measure, &iso_);
  if (length <= from) return true;
  if (keeping == tail_keeping::beside_image) {
    if (!keep_beside(from, length, progress)) return false;
  } else {
    scratch_ = iso_.open_scratch(scratch_refusal_);
    if (!scratch_) return fail(step::make_scratch, nullptr);
    if (!iso_.seek(from)) return fail(step::seek, &iso_);
    copy_buffer buffer;
    switch (copy_stream(iso_, *scratch_, length - from, buffer, progress)) {
      case copy_result::ok:
        break;
      case copy_result::destination_failed:
        return fail(step::write, scratch_.get());
      default:
        return fail(step::read, &iso_);
    }
    if (!scratch_->flush()) return fail(step::write, scratch_.get());
  }
  kept_ = true;
  from_ = from;
  bytes_ = length - from;
  if (!iso_.truncate(from)) return fail(step::write, &iso_);
  return true;
}

// The order is what makes a kill harmless: until the rename, the image
// holds the bytes and the incomplete file is debris; after the folder's
// sync, the complete file holds every byte on the disk, and only then may
// the image lose them.
bool removed_tail::keep_beside(std::uint64_t from, std::uint64_t length, copy_progress* progress) {
  file_folder* folder = iso_.folder();
  if (folder == nullptr) return fail(step::make_scratch, nullptr);
  std::uint32_t fingerprint = 0;
  if (!volume_fingerprint(iso_, fingerprint)) return fail(step::read, &iso_);
  const kept_tail_names names = kept_tail_names_for(iso_.name(), from, fingerprint);
  kept_name_ = names.complete;
  scratch_ = folder->make_file(names.incomplete, iso_);
  if (!scratch_) {
    scratch_refusal_ = folder->error_text();
    return fail(step::keep_file, nullptr);
  }
  incomplete_name_ = names.incomplete;
  if (!iso_.seek(from)) {
    fail(step::seek, &iso_);
    return remove_file();
  }
  copy_buffer buffer;
  switch (copy_stream(iso_, *scratch_, length - from, buffer, progress)) {
    case copy_result::ok:
      break;
    case copy_result::destination_failed:
      return abandon_file(scratch_->error_text());
    default:
      fail(step::read, &iso_);
      return remove_file();
  }
  if (!flush_to_disk(*scratch_)) return abandon_file(scratch_->error_text());
  scratch_.reset();  // closed before its rename: Windows renames no open file
  if (!folder->rename(names.incomplete, names.complete)) {
    return abandon_file(folder->error_text());
  }
  incomplete_name_.clear();
  named_file_ = true;
  if (!folder->sync()) return abandon_file(folder->error_text());
  bool missing = false;
  scratch_ = folder->open_file(names.complete, missing);
  if (!scratch_) return abandon_file(folder->error_text());
  return true;
}

bool removed_tail::abandon_file(const std::string& reason) {
  fail(step::keep_file, nullptr);
  scratch_refusal_ = reason;
  return remove_file();
}

// The image is not cut yet and holds every byte: the file goes again.
bool removed_tail::remove_file() {
  scratch_.reset();
  file_folder& folder = *iso_.folder();
  folder.remove(incomplete_name_.empty() ? kept_name_ : incomplete_name_);
  incomplete_name_.clear();
  named_file_ = false;
  return false;
}

bool removed_tail::put_back() {
  if (!kept_) return true;
  // The cut comes first, but when it fails the bytes written over the
  // appended ones from `from` on put the image back all the same, once the
  // caller has cut it to its old length.
  const bool cut = iso_.truncate(from_);
  copy_buffer buffer;
  const bool written = iso_.seek(from_) && scratch_ && scratch_->seek(0) &&
                       copy_stream(*scratch_, iso_, bytes_, buffer) == copy_result::ok &&
                       iso_.flush();
  return cut && written;
}

bool removed_tail::reads_back() {
  return !kept_ || (scratch_ && same_bytes(iso_, from_, *scratch_, 0, bytes_));
}

bool removed_tail::drop() {
  kept_ = false;
  scratch_.reset();
  if (!named_file_) return true;
  file_folder& folder = *iso_.folder();
  if (!folder.remove(kept_name_)) return false;
  // A removal that does not reach the disk leaves a file that the next run
  // recognises as no longer needed.
  folder.sync();
  named_file_ = false;
  return true;
}

}  // namespace hybrid
