#include "hybrid/image_info.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <set>

#include "hybrid/hybrid_layout.h"
#include "hybrid/hybrid_writer.h"
#include "hybrid/jobs.h"
#include "hybrid/messages.h"
#include "test_support.h"

namespace {

using hybrid::image_info;
using hybrid::memory_stream;
using test::map_entry;

constexpr std::size_t info_iso_blocks = 80;
constexpr std::size_t info_iso_bytes = info_iso_blocks * 512;

// Describes `bytes`; any read outside them fails the test.
image_info describe(const std::vector<std::uint8_t>& bytes, std::uint64_t length) {
  image_info info;
  const hybrid::image_reader read = [&](std::uint64_t offset, std::uint8_t* into,
                                        std::size_t count) {
    if (offset > length || count > length - offset) {
      ADD_FAILURE() << "read of " << count << " bytes at " << offset << " past " << length;
      return false;
    }
    std::memcpy(into, bytes.data() + offset, count);
    return true;
  };
  EXPECT_TRUE(hybrid::describe_image(read, length, info));
  return info;
}
image_info describe(const std::vector<std::uint8_t>& bytes) {
  return describe(bytes, bytes.size());
}

// An HFS Master Directory Block named `name` at byte 1024 of a partition.
void put_hfs_header(std::vector<std::uint8_t>& image, std::size_t partition_start,
                    const std::string& name) {
  std::uint8_t* header = image.data() + partition_start + 1024;
  std::memcpy(header, "BD", 2);
  header[36] = static_cast<std::uint8_t>(name.size());
  std::memcpy(header + 37, name.data(), name.size());
}

std::set<std::string> problem_codes(const image_info& info) {
  std::set<std::string> codes;
  for (const auto& problem : info.problems) codes.insert(problem.code);
  return codes;
}

struct expected_entry {
  int row, hfsutils, partx;
  const char* type;
  const char* volume;  // nullptr: not an HFS entry
};

std::vector<std::uint8_t> make_hybrid(std::vector<std::uint8_t> hfs, int answer) {
  memory_stream source("hfs.img", std::move(hfs));
  memory_stream iso("cd.iso", test::iso_image(info_iso_bytes));
  test::scripted_questions ask;
  ask.partition_answer = answer;
  EXPECT_EQ(test::told(hybrid::hybridize_from_file(source, iso, ask), ask), 1);
  return iso.bytes();
}

std::vector<std::uint8_t> two_volumes() {
  auto hfs = test::hfs_image({{"Apple_partition_map", "Apple", 1, 63},
                              {"Apple_HFS", "First", 64, 30},
                              {"Apple_Free", "", 94, 6},
                              {"Apple_HFS", "Second", 100, 20}},
                             120);
  put_hfs_header(hfs, 64 * 512, "Uno");
  put_hfs_header(hfs, 100 * 512, "Dos");
  return hfs;
}

// Every kind of hybrid the job writes is described as sound, with the
// numbers each reader gives its partitions.
TEST(ImageInfo, TheJobsHybridsAreSound) {
  auto bare = test::bare_volume("BD", 40 * 512);
  put_hfs_header(bare, 0, "Bare");
  const struct {
    const char* what;
    std::vector<std::uint8_t> hfs;
    int answer;
    std::vector<expected_entry> entries;
    std::uint64_t appended;
  } cases[] = {
      {"a fresh map over a bare volume",
       bare,
       hybrid::choice_all,
       {{-1, 0, 1, "Apple_partition_map", nullptr}, {0, 1, 2, "Apple_HFS", "Bare"}},
       40 * 512},
      {"a merged map",
       two_volumes(),
       hybrid::choice_all,
       {{-1, 0, 1, "Apple_partition_map", nullptr},
        {0, 1, 2, "Apple_HFS", "Uno"},
        {1, 2, 3, "Apple_HFS", "Dos"}},
       50 * 512},
      {"a chosen partition",
       two_volumes(),
       1,
       {{-1, 0, 1, "Apple_partition_map", nullptr}, {0, 1, 2, "Apple_HFS", "Dos"}},
       20 * 512},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const image_info info = describe(make_hybrid(c.hfs, c.answer));
    EXPECT_TRUE(info.sound()) << (info.problems.empty() ? "" : info.problems[0].text);
    EXPECT_TRUE(info.iso.present);
    EXPECT_EQ(info.iso.bytes, info_iso_bytes);
    EXPECT_TRUE(info.system_area.apple_map);
    EXPECT_EQ(info.bytes_after_iso, c.appended);
    EXPECT_EQ(info.bytes_after_data, 0u);
    ASSERT_EQ(info.entries.size(), c.entries.size());
    for (std::size_t i = 0; i < c.entries.size(); ++i) {
      const auto& entry = info.entries[i];
      EXPECT_EQ(entry.row, c.entries[i].row) << i;
      EXPECT_EQ(entry.hfsutils_number, c.entries[i].hfsutils) << i;
      EXPECT_EQ(entry.partx_number, c.entries[i].partx) << i;
      EXPECT_EQ(entry.type, c.entries[i].type) << i;
      if (c.entries[i].volume) {
        EXPECT_EQ(entry.volume.found, hybrid::hfs_volume_info::kind::hfs) << i;
        EXPECT_EQ(entry.volume.name, c.entries[i].volume) << i;
      }
    }
  }
}

// Each fault of a damaged image is named, and only the faults it has.
TEST(ImageInfo, ProblemsAreNamed) {
  const auto hybrid = make_hybrid(two_volumes(), hybrid::choice_all);
  const struct {
    const char* what;
    std::function<void(std::vector<std::uint8_t>&)> damage;
    std::set<std::string> codes;
  } cases[] = {
      {"entries past the end of the file",
       [](auto& image) { image.resize(image.size() - 10 * 512); },
       {"past_end", "block_count"}},
      {"a map count that lies",
       [](auto& image) { hybrid::put_be32(image.data() + 512 + 4, 9); },
       {"map_count", "entry_counts"}},
      {"a count too small for the entries",
       [](auto& image) {
         for (std::size_t block = 1; block <= 3; ++block) {
           hybrid::put_be32(image.data() + block * 512 + 4, 2);
         }
       },
       {"beyond_count"}},
      {"a partition without its volume header",
       [](auto& image) { image[info_iso_bytes + 1024] = 0; },
       {"no_volume"}},
      {"an entry over the ISO data",
       [](auto& image) { hybrid::put_be32(image.data() + 1024 + 8, 70); },
       {"overlaps_iso", "no_volume"}},
      {"an ISO volume longer than the file",
       [](auto& image) {
         test::put_iso_both_endian32(image.data() + 32768 + 80, 1000);
         hybrid::put_be32(image.data() + 4, 1000 * 4);
       },
       {"iso_truncated", "block_count"}},
      {"bytes nobody knows",
       [](auto& image) { std::fill(image.begin(), image.end(), 0x5A); },
       {"unknown"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    auto image = hybrid;
    c.damage(image);
    EXPECT_EQ(problem_codes(describe(image)), c.codes);
  }
}

// An ISO image with an El Torito boot record, a Joliet descriptor and Rock
// Ridge in its root directory, sector by sector.
std::vector<std::uint8_t> iso_with_extensions() {
  std::vector<std::uint8_t> image(32768 + 5 * 2048);
  const auto sector = [&](std::size_t n) { return image.data() + n * 2048; };
  const std::uint8_t types[] = {0, 1, 2, 255};
  for (std::size_t i = 0; i < 4; ++i) {
    sector(16 + i)[0] = types[i];
    std::memcpy(sector(16 + i) + 1, "CD001", 5);
  }
  std::memcpy(sector(16) + 7, "EL TORITO SPECIFICATION", 23);
  std::uint8_t* primary = sector(17);
  test::put_iso_both_endian32(primary + 80, 21);
  const std::uint8_t block_size[] = {0x00, 0x08, 0x08, 0x00};
  std::memcpy(primary + 128, block_size, 4);
  std::memcpy(primary + 40, "DISC                            ", 32);
  test::put_iso_both_endian32(primary + 156 + 2, 20);
  std::memcpy(sector(18) + 88, "%/E", 3);
  // The root's "." record: 34 bytes, then SUSP's SP and Rock Ridge's RR.
  const std::uint8_t susp[] = {'S', 'P', 7, 1, 0xBE, 0xEF, 0, 'R', 'R', 5, 1, 0x81};
  std::uint8_t* dot = sector(20);
  dot[0] = 34 + sizeof susp;
  dot[32] = 1;
  std::memcpy(dot + 34, susp, sizeof susp);
  return image;
}

TEST(ImageInfo, IsoExtensionsAreFound) {
  const image_info full = describe(iso_with_extensions());
  EXPECT_TRUE(full.sound());
  EXPECT_EQ(full.iso.name, "DISC");
  EXPECT_EQ(full.iso.blocks, 21u);
  EXPECT_TRUE(full.iso.el_torito);
  EXPECT_TRUE(full.iso.joliet);
  EXPECT_TRUE(full.iso.rock_ridge);
  EXPECT_TRUE(full.system_area.empty);

  const image_info plain = describe(test::iso_image(info_iso_bytes));
  EXPECT_TRUE(plain.iso.present);
  EXPECT_FALSE(plain.iso.el_torito || plain.iso.joliet || plain.iso.rock_ridge);

  auto with_boot_record = test::iso_image(info_iso_bytes);
  with_boot_record[510] = 0x55;
  with_boot_record[511] = 0xAA;
  with_boot_record[446 + 4] = 0xEE;  // the GPT's protective partition
  with_boot_record[446 + 12] = 0x50;
  std::memcpy(with_boot_record.data() + 512, "EFI PART", 8);
  const image_info booted = describe(with_boot_record);
  EXPECT_TRUE(booted.system_area.pc_boot_record && booted.system_area.gpt);
  EXPECT_FALSE(booted.system_area.apple_map || booted.system_area.other);
}

// Other tools' hybrids are judged by what their readers need: padding past
// the Driver Descriptor's count, or a count that describes nothing in the
// image, is no fault of an image; a job's own plan is held to the count it
// writes. A count short of the entries is a fault either way.
TEST(ImageInfo, DriverDescriptorsAreJudgedByWhoseImageItIs) {
  const auto hybrid = make_hybrid(two_volumes(), hybrid::choice_all);
  const std::uint32_t blocks = static_cast<std::uint32_t>(hybrid.size() / 512);
  const struct {
    const char* what;
    std::uint32_t count;
    bool valid;
    std::set<std::string> any_image, own_hybrid;
  } rows[] = {
      {"the job's own count", blocks + 3, true, {}, {}},
      {"padding after the counted blocks", blocks, true, {}, {"block_count"}},
      {"a count short of the entries", blocks - 20, true, {"block_count"}, {"block_count"}},
      {"code where the count would be", 0xEB02FFFFu, false, {}, {"block_count"}},
      {"no count", 0, false, {}, {"block_count"}},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.what);
    auto image = hybrid;
    image.resize(image.size() + 3 * 512);  // zeros after the last partition
    hybrid::put_be32(image.data() + 4, r.count);
    for (const auto rules : {hybrid::judged_as::any_image, hybrid::judged_as::own_hybrid}) {
      image_info info;
      ASSERT_TRUE(hybrid::describe_image(
          [&](std::uint64_t at, std::uint8_t* into, std::size_t n) {
            std::memcpy(into, image.data() + at, n);
            return true;
          },
          image.size(), info, rules));
      EXPECT_EQ(info.descriptor_valid, r.valid);
      EXPECT_EQ(problem_codes(info),
                rules == hybrid::judged_as::any_image ? r.any_image : r.own_hybrid);
    }
  }
}

// 0x55AA alone ends the system area of some tools' ISO images; a PC boot
// record has a partition in its table or code before it.
TEST(ImageInfo, ABootSignatureAloneIsNoBootRecord) {
  const struct {
    const char* what;
    std::function<void(std::uint8_t*)> fill;
    bool record, signature;
  } rows[] = {
      {"empty entries, every other field set",
       [](std::uint8_t* block0) {
         for (std::size_t entry = 446; entry < 510; entry += 16) {
           std::fill_n(block0 + entry + 1, 3, 0xFF);
           std::fill_n(block0 + entry + 5, 3, 0xFF);
           std::fill_n(block0 + entry + 8, 4, 0x01);
         }
       },
       false, true},
      {"a partition in the table",
       [](std::uint8_t* block0) {
         block0[446 + 16 + 4] = 0xEE;
         block0[446 + 16 + 12] = 0x40;
       },
       true, false},
      {"a type without a length", [](std::uint8_t* block0) { block0[446 + 4] = 0x83; }, false,
       true},
      {"code", [](std::uint8_t* block0) { block0[0] = 0xEB; }, true, false},
      {"an Apple Driver Descriptor", [](std::uint8_t* block0) { std::memcpy(block0, "ER", 2); },
       false, true},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.what);
    auto image = test::iso_image(info_iso_bytes);
    image[510] = 0x55;
    image[511] = 0xAA;
    r.fill(image.data());
    const image_info info = describe(image);
    EXPECT_EQ(info.system_area.pc_boot_record, r.record);
    EXPECT_EQ(info.system_area.pc_boot_signature, r.signature);
    EXPECT_FALSE(info.system_area.other);
  }
}

// Cut anywhere, a hybrid is still described from what is there, and no
// read goes past the cut.
TEST(ImageInfo, ReadsStayInsideTheFile) {
  const auto image = make_hybrid(two_volumes(), hybrid::choice_all);
  for (std::size_t length = 0; length <= image.size(); length += 257) {
    const image_info info = describe(image, length);
    EXPECT_LE(info.data_end, length);
  }
}

std::vector<std::uint8_t> fixture(const char* name) {
  std::ifstream in(std::string(ZELVORANT_FIXTURES) + "/" + name, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A map of 2048-byte blocks, as Mac CD-ROMs and DVDs carry it, is listed as
// partx lists it, every number in 512-byte blocks; no job takes it, so it
// offers no row, and hfsutils refuses it.
TEST(ImageInfo, MapsOfLargerBlocksAreScaled) {
  const image_info dvd = describe(fixture("node-apm-mac-osx-snow-leopard.bin"));
  EXPECT_EQ(dvd.map_block_size, 2048u);
  std::vector<std::string> seen;  // partx's number, first, blocks; row, hfsutils' number
  for (const auto& e : dvd.entries) {
    seen.push_back(std::to_string(e.partx_number) + " " + std::to_string(e.first_block) + " " +
                   std::to_string(e.block_count) + " " + std::to_string(e.row) + " " +
                   std::to_string(e.hfsutils_number));
  }
  EXPECT_EQ(seen, (std::vector<std::string>{"1 4 60 -1 0", "2 64 2020420 -1 0",
                                            "3 2020488 13157944 -1 0", "4 15178432 12 -1 0"}));
  // Only the head of the disc: its count and entries reach past the file.
  EXPECT_EQ(problem_codes(dvd), (std::set<std::string>{"block_count", "past_end", "no_volume"}));

  // A whole disc: the volume is where the scaled entry puts it.
  std::vector<std::uint8_t> disc(56 * 2048);
  std::memcpy(disc.data(), "ER\x08\x00", 4);
  for (const std::uint32_t n : {1u, 2u}) {
    std::uint8_t* entry = disc.data() + n * 2048;
    std::memcpy(entry, "PM", 2);
    hybrid::put_be32(entry + 4, 2);
    hybrid::put_be32(entry + 8, n == 1 ? 1 : 16);
    hybrid::put_be32(entry + 12, n == 1 ? 2 : 40);
    const char* type = n == 1 ? "Apple_partition_map" : "Apple_HFS";
    std::memcpy(entry + 48, type, std::strlen(type));
  }
  put_hfs_header(disc, 16 * 2048, "Big");
  const image_info big = describe(disc);
  ASSERT_EQ(big.entries.size(), 2u);
  EXPECT_EQ(big.entries[1].first_block, 64u);
  EXPECT_EQ(big.entries[1].volume.name, "Big");
  EXPECT_EQ(big.data_end, disc.size());
}

// The judge of a plan and --info on the hybrid written from that plan say
// the same, for the four sources whose hybrids --info once flagged: each plan
// is written here without being judged, as the jobs once wrote it.
TEST(ImageInfo, APlanIsJudgedAsItsWrittenHybridIsDescribed) {
  const map_entry map = {"Apple_partition_map", "Apple", 1, 63};
  const map_entry one = {"Apple_HFS", "One", 64, 40};
  const auto source = [](const std::vector<map_entry>& entries) {
    return test::hfs_image(entries, 104);
  };
  auto overlapping = source({map, one, {"Apple_HFS", "B", 70, 30}});
  overlapping[72 * 512] = 0;  // B begins inside One's volume, where no header stands
  const hybrid::plan_source terms{{}, {}, [] { return std::string("unreadable"); }, {}, "none"};
  // A merged map unless a partition is chosen; "PM" put back as the source
  // had it, damaged, where the planner mends it.
  const struct {
    const char* what;
    std::vector<std::uint8_t> hfs;
    hybrid::hfs_partition chosen;
    bool damaged_pm;
    std::set<std::string> codes;
  } rows[] = {
      {"a damaged \"PM\" as the source had it", source({map, one}), {}, true, {"map_count"}},
      {"an entry over the map",
       source({map, one, {"Apple_HFS", "Map", 0, 64}}),
       {},
       false,
       {"no_volume"}},
      {"overlapping entries", overlapping, {}, false, {"no_volume"}},
      {"two blocks before a volume's header", source({map}), {"Short", 0, 2}, false, {"no_volume"}},
      {"a sound map", source({map, one}), {}, false, {}},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.what);
    memory_stream hfs("hfs.img", r.hfs);
    memory_stream iso("cd.iso", test::iso_image(info_iso_bytes));
    hybrid::hybrid_layout layout;
    ASSERT_FALSE(r.chosen.block_count
                     ? hybrid::plan_chosen_partition(r.chosen, info_iso_bytes, terms, layout)
                     : hybrid::layout_merged_map(hfs, info_iso_bytes, 104 * 512, layout));
    if (r.damaged_pm) layout.head[2 * 512] = 'X';
    hybrid::stream_blocks blocks(hfs);
    const hybrid::job_stop judged = hybrid::judge_planned_hybrid(layout, iso, blocks, terms);

    test::scripted_questions ask;
    const auto copy = [&](const hybrid::append_run& run, std::uint64_t) {
      const bool copied = iso.write(r.hfs.data() + static_cast<std::size_t>(run.source_offset),
                                    static_cast<std::size_t>(run.byte_count));
      return copied ? hybrid::accepted() : hybrid::refusal::because("not copied");
    };
    ASSERT_EQ(hybrid::write_hybrid(iso, layout, ask, copy).code(), 1);
    const image_info info = describe(iso.bytes());
    EXPECT_EQ(problem_codes(info), r.codes);
    std::vector<std::string> problems;
    for (const auto& problem : info.problems) problems.push_back(problem.text);
    EXPECT_EQ(judged ? judged->text() : "",
              problems.empty() ? "" : hybrid::text::planned_hybrid_unsound(problems));
  }
}

// A 32-bit first block and count that add up past 2^32 blocks end past the
// file, and are not wrapped round to a small number.
TEST(ImageInfo, BlockFieldsDoNotWrap) {
  auto image = make_hybrid(two_volumes(), hybrid::choice_all);
  hybrid::put_be32(image.data() + 1024 + 8, 0xFFFFFFF0u);
  hybrid::put_be32(image.data() + 1024 + 12, 0x20);
  const auto codes = problem_codes(describe(image));
  EXPECT_TRUE(codes.count("past_end"));
}

}  // namespace
