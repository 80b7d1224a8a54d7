// dskgrab: copies a floppy disk, raw, into a file. The extraction job runs it
//   dskgrab /A: /Fzelvora$.nt /O512 /P80 /S18 /T2  /R /1 00001 79118
// /A: or /B: picks the drive, /F the file, /O bytes per sector, /P cylinders,
// /S sectors per track, /T heads; other words are accepted and ignored. It
// copies bytes per sector x sectors x heads x cylinders bytes, or up to the
// end of the disk when that comes first. Exits 0 when the file is complete,
// 1 with one line on stderr otherwise.
//
// ZELVORANT_FLOPPY_IMAGE, when set, names an image file to copy instead of
// the drive, so that the job can be tested without a floppy drive.
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "tools/dskgrab/drive.h"

namespace dskgrab {
namespace {

using file_ptr = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;

// Reading an image file is the same on every system.
class image_file final : public disk_source {
 public:
  explicit image_file(std::FILE* file) : file_(file, std::fclose) {}
  bool read(char* buffer, std::size_t want, std::size_t& got, std::string& error) override {
    got = std::fread(buffer, 1, want, file_.get());
    if (got < want && std::ferror(file_.get())) {
      error = std::strerror(errno);
      return false;
    }
    return true;
  }

 private:
  file_ptr file_;
};

}  // namespace

std::unique_ptr<disk_source> open_image(const std::string& path, std::string& error) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    error = std::strerror(errno);
    return nullptr;
  }
  return std::make_unique<image_file>(file);
}

}  // namespace dskgrab

namespace {

struct options {
  char drive = 0;
  std::string file;
  std::uint64_t sector_bytes = 512, cylinders = 80, sectors = 18, heads = 2;
};

int fail(const std::string& why) {
  std::fprintf(stderr, "dskgrab: %s\n", why.c_str());
  return 1;
}

std::string reason() { return std::strerror(errno); }

bool parse_number(const char* text, std::uint64_t& value) {
  const char* end = text + std::strlen(text);
  const auto [at, error] = std::from_chars(text, end, value);
  return error == std::errc() && at == end && value > 0;
}

// Returns an empty text or what is wrong with the command line.
std::string parse(int argc, char** argv, options& chosen) {
  for (int i = 1; i < argc; ++i) {
    const char* word = argv[i];
    if (word[0] != '/' || word[1] == '\0') continue;
    const char letter = static_cast<char>(word[1] & ~0x20);
    const char* rest = word + 2;
    if ((letter == 'A' || letter == 'B') && std::strcmp(rest, ":") == 0) {
      chosen.drive = letter;
    } else if (letter == 'F' && *rest != '\0') {
      chosen.file = rest;
    } else if (letter == 'O' || letter == 'P' || letter == 'S' || letter == 'T') {
      std::uint64_t& value = letter == 'O'   ? chosen.sector_bytes
                             : letter == 'P' ? chosen.cylinders
                             : letter == 'S' ? chosen.sectors
                                             : chosen.heads;
      if (!parse_number(rest, value)) return std::string("bad number in ") + word;
    }
  }
  if (chosen.drive == 0) return "no drive given (/A: or /B:)";
  if (chosen.file.empty()) return "no file given (/F<file>)";
  return {};
}

// A disk larger than 64-bit numbers can say is read to its end.
std::uint64_t disk_bytes(const options& chosen) {
  std::uint64_t total = 1;
  for (const std::uint64_t factor :
       {chosen.sector_bytes, chosen.sectors, chosen.heads, chosen.cylinders}) {
    total = total > UINT64_MAX / factor ? UINT64_MAX : total * factor;
  }
  return total;
}

using dskgrab::file_ptr;

}  // namespace

int main(int argc, char** argv) {
  options chosen;
  if (const std::string wrong = parse(argc, argv, chosen); !wrong.empty()) return fail(wrong);

  const char* image = std::getenv("ZELVORANT_FLOPPY_IMAGE");
  std::string source_name = image != nullptr ? image : "";
  std::string why;
  // The disk is opened first, so that a missing disk leaves no empty file.
  const std::unique_ptr<dskgrab::disk_source> source =
      image != nullptr ? dskgrab::open_image(source_name, why)
                       : dskgrab::open_drive(chosen.drive, chosen.sector_bytes, source_name, why);
  if (!source) return fail("cannot open " + source_name + ": " + why);
  file_ptr target(std::fopen(chosen.file.c_str(), "wb"), std::fclose);
  if (!target) return fail("cannot create " + chosen.file + ": " + reason());

  std::uint64_t remaining = disk_bytes(chosen);
  std::vector<char> chunk(64 * 1024);
  std::string problem;
  while (remaining > 0 && problem.empty()) {
    const std::size_t want =
        remaining < chunk.size() ? static_cast<std::size_t>(remaining) : chunk.size();
    std::size_t got = 0;
    if (!source->read(chunk.data(), want, got, why)) problem = "cannot read " + source_name;
    if (got > 0 && std::fwrite(chunk.data(), 1, got, target.get()) != got) {
      problem = "cannot write " + chosen.file;
    }
    if (got < want) break;
    remaining -= got;
  }
  if (problem.empty() && std::fflush(target.get()) != 0) problem = "cannot write " + chosen.file;
  if (problem.empty() && std::fclose(target.release()) != 0)
    problem = "cannot write " + chosen.file;
  if (!problem.empty()) {
    if (why.empty()) why = reason();
    target.reset();
    std::remove(chosen.file.c_str());
    return fail(problem + ": " + why);
  }
  return 0;
}
