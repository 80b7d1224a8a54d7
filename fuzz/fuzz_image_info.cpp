// --info on an image made of the fuzz input: the description never reads
// outside the image, its numbers add up, and its JSON is always valid JSON.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "cli/image_report.h"
#include "fuzz_support.h"
#include "hybrid/image_info.h"
#include "hybrid/printable.h"
#include "json_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The input is the start of the image; its first byte says how much of
  // it the image holds, so that images end both inside and after the map.
  if (size < 1) return 0;
  const std::vector<std::uint8_t> image(data + 1, data + size);
  const std::uint64_t length = data[0] == 0 ? image.size() : image.size() * data[0] / 256;
  const hybrid::image_reader read = [&](std::uint64_t offset, std::uint8_t* into,
                                        std::size_t count) {
    fuzz::check(offset <= length && count <= length - offset, "a read past the end of the image");
    std::memcpy(into, image.data() + offset, count);
    return true;
  };
  hybrid::image_info info;
  fuzz::check(hybrid::describe_image(read, length, info), "a read failed on an image in memory");
  fuzz::check(info.length == length, "the length changed");
  fuzz::check(info.data_end <= length && info.bytes_after_data == length - info.data_end,
              "the bytes after the data do not add up");
  fuzz::check(info.entries.size() <= hybrid::max_listed_entries, "more entries than the bound");
  for (const auto& entry : info.entries) {
    fuzz::check(entry.row < hybrid::max_partitions, "a row the partition choice cannot offer");
  }
  const std::string json = cli::info_json(info, "fuzz.iso");
  fuzz::check(test::valid_json(json), "--json gave invalid JSON");
  const std::string text = cli::info_text(info, "fuzz.iso");
  fuzz::check(hybrid::printable(text, hybrid::line_breaks::keep) == text,
              "a control character in the text");
  const std::string picture = cli::layout_picture(info);
  fuzz::check(picture.front() == '[' && picture.back() == ']', "a picture without its brackets");
  return 0;
}
