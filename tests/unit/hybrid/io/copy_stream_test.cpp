#include "hybrid/io/copy_stream.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>

#include "hybrid/io/file_stream.h"
#include "test_support.h"

namespace {

using hybrid::copy_result;

// Counts the progress reports a copy gives.
struct progress_log : test::scripted_questions {
  std::vector<std::uint64_t> reports;
  void copy_advanced(std::uint64_t done) override { reports.push_back(done); }
};

TEST(CopyStream, CopiesExactlyTheBytesAskedAcrossBufferBoundaries) {
  const std::size_t size = hybrid::copy_buffer_bytes * 2 + 904;
  const auto source_bytes = test::pattern(size + 5000, 7);
  hybrid::memory_stream source("src", source_bytes), destination("dst", {1, 2, 3});
  ASSERT_TRUE(source.seek(5000));
  ASSERT_TRUE(destination.seek_to_end());
  hybrid::copy_buffer buffer;
  progress_log log;
  EXPECT_EQ(hybrid::copy_stream(source, destination, size, buffer, &log, 10), copy_result::ok);
  ASSERT_EQ(destination.bytes().size(), 3 + size);
  EXPECT_EQ(test::slice(destination.bytes(), 3, size), test::slice(source_bytes, 5000, size));
  EXPECT_EQ(log.reports,
            (std::vector<std::uint64_t>{10 + hybrid::copy_buffer_bytes,
                                        10 + 2 * hybrid::copy_buffer_bytes, 10 + size}));
  std::uint64_t at = 0;
  source.tell(at);
  EXPECT_EQ(at, 5000 + size);

  EXPECT_EQ(hybrid::copy_stream(source, destination, 0, buffer), copy_result::ok);
  EXPECT_EQ(destination.bytes().size(), 3 + size);
}

TEST(CopyStream, NeverPadsAShortSourceWithStaleBytes) {
  hybrid::memory_stream source("src", test::pattern(3000, 1)), destination("dst");
  hybrid::copy_buffer buffer;
  std::fill(buffer.bytes.begin(), buffer.bytes.end(), 0xEE);
  EXPECT_EQ(hybrid::copy_stream(source, destination, 4096, buffer), copy_result::source_ended);
  EXPECT_TRUE(destination.bytes().empty());

  test::failing_stream broken("src", test::pattern(4096, 1));
  broken.fail_at = 1;
  EXPECT_EQ(hybrid::copy_stream(broken, destination, 4096, buffer), copy_result::source_failed);

  hybrid::memory_stream good("src", test::pattern(4096, 1));
  test::failing_stream full("dst");
  full.size_limit = 100;
  EXPECT_EQ(hybrid::copy_stream(good, full, 4096, buffer), copy_result::destination_failed);
}

// Where a range is shared and where copied, in blocks of 4096 bytes.
TEST(CopyRange, SharesTheAlignedMiddleAndCopiesTheEnds) {
  struct split_row {
    std::uint64_t source, destination, count, block;
    hybrid::sharing_split split;
  };
  const std::vector<split_row> rows = {
      {32768, 40960, 51200, 4096, {0, 49152, 2048}},   // aligned start, a tail to copy
      {512, 41472, 51200, 4096, {3584, 45056, 2560}},  // the same place within a block
      {32768, 41472, 51200, 4096, {51200, 0, 0}},      // places differ: all copied
      {1000, 5096, 3095, 4096, {3095, 0, 0}},          // no whole block after the head
      {1000, 5096, 7192, 4096, {3096, 4096, 0}},       // exactly one block after it
      {0, 0, 4095, 4096, {4095, 0, 0}},                // shorter than a block
      {0, 0, 0, 4096, {0, 0, 0}},                      // nothing at all
      {0, 0, 65536, 0, {65536, 0, 0}},                 // a file system that shares none
      {1u << 31, 3u << 30, 5ull << 32, 65536, {0, 5ull << 32, 0}},  // past 32 bits
  };
  for (std::size_t n = 0; n < rows.size(); ++n) {
    SCOPED_TRACE("row " + std::to_string(n));
    const split_row& row = rows[n];
    const hybrid::sharing_split got =
        hybrid::split_for_sharing(row.source, row.destination, row.count, row.block);
    EXPECT_EQ(got.head, row.split.head);
    EXPECT_EQ(got.shared, row.split.shared);
    EXPECT_EQ(got.tail, row.split.tail);
  }
}

// Two ranges appended one after the other: the bytes are those of a plain
// copy whatever the file system answers, and a refusal is never asked again.
TEST(CopyRange, ARefusalFallsBackToCopyingForTheRestOfTheJob) {
  struct sharing_row {
    const char* what;
    bool refuse;
    long fail_at;  // the destination's operation that fails, 0 none
    std::vector<std::string> journal;
    std::uint64_t shared;
  };
  // Range one: 20,000 bytes from 4096 to 4096 (16,384 shared); range two:
  // 9,000 bytes from 28,192 to 24,096 (8,192 shared between 480 and 328
  // copied). The destination's first operation is the test's own seek.
  const std::vector<sharing_row> rows = {
      {"shared",
       false,
       0,
       {"share@4096+16384", "write@20480+3616", "write@24096+480", "share@24576+8192",
        "write@32768+328"},
       24576},
      {"refused", true, 0, {"share refused", "write@4096+20000", "write@24096+9000"}, 0},
      {"the call failed", false, 2, {"share refused", "write@4096+20000", "write@24096+9000"}, 0},
  };
  const auto source_bytes = test::pattern(40000, 5);
  for (const sharing_row& row : rows) {
    SCOPED_TRACE(row.what);
    hybrid::memory_stream source("src", source_bytes);
    test::failing_stream destination("dst", test::pattern(4096, 9));
    destination.share_block_bytes = 4096;
    destination.refuse_sharing = row.refuse;
    destination.fail_at = row.fail_at;
    hybrid::block_sharing sharing = hybrid::sharing_between(source, destination);
    hybrid::copy_buffer buffer;
    progress_log log;
    ASSERT_TRUE(source.seek(4096) && destination.seek(4096));
    EXPECT_EQ(hybrid::copy_range(source, 4096, destination, 4096, 20000, buffer, sharing, &log),
              copy_result::ok);
    ASSERT_TRUE(source.seek(28192));
    EXPECT_EQ(
        hybrid::copy_range(source, 28192, destination, 24096, 9000, buffer, sharing, &log, 20000),
        copy_result::ok);
    EXPECT_EQ(destination.journal, row.journal);
    EXPECT_EQ(sharing.shared_bytes, row.shared);
    EXPECT_EQ(sharing.refused, row.shared == 0);
    ASSERT_EQ(destination.bytes().size(), 4096u + 29000u);
    EXPECT_EQ(test::slice(destination.bytes(), 4096, 20000),
              test::slice(source_bytes, 4096, 20000));
    EXPECT_EQ(test::slice(destination.bytes(), 24096, 9000),
              test::slice(source_bytes, 28192, 9000));
    EXPECT_EQ(log.reports.back(), 29000u);
  }
}

// A stop asked for before the share is a stop: nothing more is appended.
TEST(CopyRange, AStopBeforeTheShareStops) {
  hybrid::memory_stream source("src", test::pattern(20000, 5));
  test::failing_stream destination("dst");
  destination.share_block_bytes = 4096;
  hybrid::block_sharing sharing = hybrid::sharing_between(source, destination);
  hybrid::copy_buffer buffer;
  progress_log log;
  log.stop = true;
  EXPECT_EQ(hybrid::copy_range(source, 0, destination, 0, 20000, buffer, sharing, &log),
            copy_result::stopped);
  EXPECT_TRUE(destination.journal.empty());
}

// Counts the bytes that really went through write().
struct write_log : hybrid::memory_stream {
  using memory_stream::memory_stream;
  std::uint64_t written = 0;
  bool write(const void* buffer, std::size_t count) override {
    written += count;
    return memory_stream::write(buffer, count);
  }
};

// Zeros over bytes the destination holds are written; zeros past its end
// are stepped over, except in the last chunk, which gives the length.
TEST(CopyStream, StepsOverZerosOnlyPastTheDestinationsEnd) {
  const std::size_t mib = hybrid::copy_buffer_bytes;
  auto source_bytes = test::pattern(mib, 5);
  source_bytes.resize(5 * mib + 1000, 0);
  hybrid::memory_stream source("src", source_bytes);
  write_log destination("dst", std::vector<std::uint8_t>(3 * mib, 0xAA));
  hybrid::copy_buffer buffer;
  EXPECT_EQ(hybrid::copy_stream(source, destination, source_bytes.size(), buffer), copy_result::ok);
  EXPECT_EQ(destination.bytes(), source_bytes);
  EXPECT_EQ(destination.written, 3 * mib + 1000);
}

}  // namespace

namespace {

std::string temp_file(const std::vector<std::uint8_t>& bytes) {
  const std::string name = test::unique_temp_path("zelvorant-copy");
  std::FILE* file = std::fopen(name.c_str(), "wb");
  if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), file);
  std::fclose(file);
  return name;
}

std::vector<std::uint8_t> file_bytes(const std::string& path) {
  std::vector<std::uint8_t> bytes;
  std::FILE* file = std::fopen(path.c_str(), "rb");
  for (int c; (c = std::fgetc(file)) != EOF;) bytes.push_back(static_cast<std::uint8_t>(c));
  std::fclose(file);
  return bytes;
}

// Between two real files the bulk goes through the kernel; what lands must be
// the same as through the buffer, including bytes the destination still held
// in its own buffer, and the streams must stand where the copy ended.
TEST(CopyStream, FileToFileKeepsOrderAndPositions) {
  const auto source_bytes = test::pattern((9u << 20) + 777, 3);
  const std::string from = temp_file(source_bytes), to = temp_file({9, 9, 9});
  {
    hybrid::file_stream source(from, "rb"), destination(to, "r+b");
    ASSERT_TRUE(source.seek(100));
    ASSERT_TRUE(destination.seek_to_end());
    ASSERT_TRUE(destination.write("pad", 3));  // still buffered when the copy starts
    hybrid::copy_buffer buffer;
    EXPECT_EQ(hybrid::copy_stream(source, destination, (9u << 20), buffer), copy_result::ok);
    ASSERT_TRUE(destination.write("end", 3));
    std::uint8_t next = 0;
    ASSERT_EQ(source.read(&next, 1), 1u);
    EXPECT_EQ(next, source_bytes[100 + (9u << 20)]);
    // Asking for more than the source holds copies what is there and says so.
    hybrid::file_stream again(from, "rb");
    ASSERT_TRUE(again.seek(source_bytes.size() - 10));
    EXPECT_EQ(hybrid::copy_stream(again, destination, 20, buffer), copy_result::source_ended);
  }
  const auto result = file_bytes(to);
  ASSERT_GE(result.size(), 6 + (9u << 20) + 3);
  EXPECT_EQ(test::slice(result, 0, 6), (std::vector<std::uint8_t>{9, 9, 9, 'p', 'a', 'd'}));
  EXPECT_EQ(test::slice(result, 6, 9u << 20), test::slice(source_bytes, 100, 9u << 20));
  EXPECT_EQ(test::slice(result, 6 + (9u << 20), 3), (std::vector<std::uint8_t>{'e', 'n', 'd'}));
  std::remove(from.c_str());
  std::remove(to.c_str());
}

}  // namespace

namespace {

// A source with a hole (where the file system keeps them) copied into a
// real file: what was stepped over reads back as zeros, to the right length.
TEST(CopyStream, AFileSteppedOverReadsBackAsZeros) {
  auto source_bytes = std::vector<std::uint8_t>(2 * hybrid::copy_buffer_bytes + 1, 0);
  source_bytes.back() = 7;
  const std::string from = temp_file({}), to = temp_file({});
  {
    hybrid::file_stream sparse(from, "r+b");
    ASSERT_TRUE(sparse.seek(source_bytes.size() - 1));
    ASSERT_TRUE(sparse.write(&source_bytes.back(), 1));
  }
  {
    hybrid::file_stream source(from, "rb"), destination(to, "r+b");
    hybrid::copy_buffer buffer;
    EXPECT_EQ(hybrid::copy_stream(source, destination, source_bytes.size(), buffer),
              copy_result::ok);
  }
  EXPECT_EQ(file_bytes(to), source_bytes);
  std::remove(from.c_str());
  std::remove(to.c_str());
}

}  // namespace
