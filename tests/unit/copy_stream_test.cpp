#include "hybrid/copy_stream.h"

#include <gtest/gtest.h>

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
  EXPECT_EQ(log.reports, (std::vector<std::uint64_t>{10 + hybrid::copy_buffer_bytes,
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

}  // namespace
