// The fault campaign: each job runs once to count every operation on its
// streams and every request to its device, then once per operation with
// exactly that one failing. Every run must end in one of two ways: the job
// returns 0, tells the user what failed, and leaves the target as promised
// (an ISO image byte-identical, an HFS image empty); or the failure did not
// matter and the result is exactly the fault-free one.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <iomanip>
#include <iostream>
#include <sstream>

#ifndef _WIN32
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <iterator>

#include "hybrid/io/file_stream.h"
#endif

#include "fake_bus.h"
#include "hybrid/io/memory_stream.h"
#include "hybrid/jobs.h"
#include "hybrid/messages.h"
#include "test_support.h"

namespace {

using hybrid::memory_stream;

constexpr std::uint8_t campaign_host = 1, campaign_target = 2;
constexpr const char* disk_name = "SCSI disk at host adapter 1, target 2";
constexpr const char* cdrom_name = "CD-ROM at host adapter 1, target 2";

// A bus that counts distinct requests (by host adapter, target, command and
// command bytes) and fails every attempt of the Nth distinct one, so that a
// reader's retries meet the same failure.
class campaign_bus : public test::fake_bus {
 public:
  long fail_request = 0;  // 1-based; 0 never
  std::vector<std::string> distinct;

  std::uint32_t send(void* raw) override {
    auto& block = *static_cast<scsi::request_block*>(raw);
    const std::string key = request_key(block);
    auto found = std::find(distinct.begin(), distinct.end(), key);
    if (found == distinct.end()) found = distinct.insert(distinct.end(), key);
    if (fail_request != 0 && found - distinct.begin() + 1 == fail_request) {
      block.header.SRB_Status = scsi::SS_ERR;
      return scsi::SS_ERR;
    }
    return fake_bus::send(raw);
  }

 private:
  static std::string request_key(const scsi::request_block& block) {
    std::ostringstream key;
    key << int{block.header.SRB_Cmd} << '/' << int{block.header.SRB_HaId};
    switch (block.header.SRB_Cmd) {
      case scsi::SC_GET_DEV_TYPE:
        key << '/' << int{block.device.SRB_Target};
        break;
      case scsi::SC_EXEC_SCSI_CMD:
        key << '/' << int{block.exec.SRB_Target};
        for (int i = 0; i < block.exec.SRB_CDBLen && i < 16; ++i) {
          key << ' ' << int{block.exec.CDBByte[i]};
        }
        break;
      default:
        break;
    }
    return key.str();
  }
};

// Where one fault is put.
struct fault {
  enum class on { nothing, source_stream, target_stream, device, full_disk } where = on::nothing;
  long nth = 0;  // operation or distinct request, 1-based; for a full disk the byte limit
};

struct outcome {
  int result = -1;
  std::vector<std::string> notices;
  std::vector<std::uint8_t> target;
  std::vector<std::string> files_left;  // beside the target
  long source_operations = 0, target_operations = 0;
  long requests = 0;
};

struct campaign_row {
  std::string job, path;
  long stream_points = 0, request_points = 0, full_disk_points = 0;
  long points = 0, held = 0, unaffected = 0;
};

// One path of one job: how to run it under a fault, and what a failure must
// look like.
struct scenario {
  std::string job, path;
  std::function<outcome(const fault&)> run;
  std::string source_stream_name;  // empty: the source is a device
  std::string target_stream_name;
  std::string device_name;  // empty: the source is a file
  std::vector<std::uint8_t> target_on_failure;
};

std::string describe(const fault& f) {
  switch (f.where) {
    case fault::on::source_stream:
      return "source stream operation " + std::to_string(f.nth);
    case fault::on::target_stream:
      return "target stream operation " + std::to_string(f.nth);
    case fault::on::device:
      return "device request " + std::to_string(f.nth);
    case fault::on::full_disk:
      return "disk full at byte " + std::to_string(f.nth);
    case fault::on::nothing:
      break;
  }
  return "no fault";
}

// Why a failed run does not hold; empty when it does.
std::string check_failure(const scenario& s, const fault& f, const outcome& o) {
  if (o.target != s.target_on_failure) return "the target was changed";
  if (!o.files_left.empty()) return "left beside the target: " + o.files_left[0];
  if (o.notices.size() != 1) return std::to_string(o.notices.size()) + " messages";
  const std::string& notice = o.notices[0];
  // An ISO image read back intact is never called damaged.
  if (!s.target_on_failure.empty() &&
      notice.find(hybrid::text::iso_restored_suffix(false)) != std::string::npos) {
    return "an intact ISO image called damaged: " + notice;
  }
  std::vector<std::string> wanted;
  switch (f.where) {
    case fault::on::source_stream:
      wanted = {s.source_stream_name, "Injected failure"};
      break;
    case fault::on::target_stream:
      wanted = {s.target_stream_name, "Injected failure"};
      break;
    case fault::on::full_disk:
      wanted = {hybrid::text::io_failure(hybrid::text::failed_operation::write,
                                         hybrid::memory_stream(s.target_stream_name)),
                s.target_on_failure.empty() ? hybrid::text::hfs_image_kept_suffix
                                            : hybrid::text::iso_restored_suffix(true)};
      break;
    case fault::on::device:
      wanted = {s.device_name};
      if (notice.find("does not answer") == std::string::npos) {
        const bool names_place = notice.rfind("Block", 0) == 0 || notice.rfind("Sector", 0) == 0;
        if (!names_place) return "no block or sector named: " + notice;
        wanted.push_back("could not be read (ASPI status 04h)");
      }
      break;
    case fault::on::nothing:
      break;
  }
  for (const std::string& part : wanted) {
    if (notice.find(part) == std::string::npos) return "\"" + part + "\" not in: " + notice;
  }
  return {};
}

campaign_row run_campaign(const scenario& s) {
  SCOPED_TRACE(s.job + ", " + s.path);
  campaign_row row{s.job, s.path};
  const outcome clean = s.run({});
  EXPECT_EQ(clean.result, 1);
  EXPECT_TRUE(clean.notices.empty());
  EXPECT_TRUE(clean.files_left.empty());
  if (clean.result != 1) return row;

  std::vector<fault> points;
  for (long n = 1; n <= clean.source_operations; ++n) {
    points.push_back({fault::on::source_stream, n});
  }
  for (long n = 1; n <= clean.target_operations; ++n) {
    points.push_back({fault::on::target_stream, n});
  }
  for (long n = 1; n <= clean.requests; ++n) points.push_back({fault::on::device, n});
  // The disk fills up anywhere in what the job adds to the target.
  const std::size_t start = s.target_on_failure.size();
  for (std::size_t limit = start; limit < clean.target.size(); limit += 4096) {
    points.push_back({fault::on::full_disk, static_cast<long>(limit)});
  }

  row.stream_points = clean.source_operations + clean.target_operations;
  row.request_points = clean.requests;
  row.full_disk_points = static_cast<long>(points.size()) - row.stream_points - row.request_points;
  for (const fault& f : points) {
    const outcome o = s.run(f);
    ++row.points;
    if (o.result == 1 && o.notices.empty() && o.target == clean.target && o.files_left.empty()) {
      ++row.unaffected;
      continue;
    }
    // The job completed, but the file that kept the bytes after the volume
    // could not be deleted: the user is told which.
    if (o.result == 1 && o.target == clean.target && o.files_left.size() == 1 &&
        o.notices == std::vector<std::string>{
                         hybrid::text::tail_file_left(o.files_left[0], "Injected failure")}) {
      ++row.held;
      continue;
    }
    const std::string why =
        o.result == 0 ? check_failure(s, f, o) : "returned " + std::to_string(o.result);
    if (why.empty()) {
      ++row.held;
    } else {
      ADD_FAILURE() << describe(f) << ": " << why;
    }
  }
  // A campaign that found nothing to fail would prove nothing.
  EXPECT_GT(row.points, 20);
  EXPECT_EQ(row.held + row.unaffected, row.points);
  return row;
}

void print_table(const std::vector<campaign_row>& table) {
  std::cout << "\nFault campaign\n"
            << std::left << std::setw(26) << "job" << std::setw(24) << "path" << std::right
            << std::setw(9) << "streams" << std::setw(10) << "requests" << std::setw(11)
            << "disk full" << std::setw(8) << "points" << std::setw(8) << "held" << std::setw(11)
            << "no effect" << '\n';
  campaign_row total{"all jobs", "total"};
  for (const campaign_row& row : table) {
    total.stream_points += row.stream_points;
    total.request_points += row.request_points;
    total.full_disk_points += row.full_disk_points;
    total.points += row.points;
    total.held += row.held;
    total.unaffected += row.unaffected;
  }
  std::vector<campaign_row> rows = table;
  rows.push_back(total);
  for (const campaign_row& row : rows) {
    std::cout << std::left << std::setw(26) << row.job << std::setw(24) << row.path << std::right
              << std::setw(9) << row.stream_points << std::setw(10) << row.request_points
              << std::setw(11) << row.full_disk_points << std::setw(8) << row.points << std::setw(8)
              << row.held << std::setw(11) << row.unaffected << '\n';
  }
  std::cout << std::flush;
}

// The streams of a run: a failing stream, set up for the fault when it is
// the one named.
void arm(test::failing_stream& stream, const fault& f, fault::on which) {
  if (f.where == which) stream.fail_at = f.nth;
  if (which == fault::on::target_stream && f.where == fault::on::full_disk) {
    stream.size_limit = static_cast<std::uint64_t>(f.nth);
  }
}

// `iso` empty: a plain ISO image stand-in of odd length. A warning is
// answered OK. `share_block_bytes`: the ISO image's file system shares
// blocks with the source in blocks of that size.
scenario file_job(const std::string& path, std::vector<std::uint8_t> hfs, int answer,
                  std::vector<std::uint8_t> iso = {}, std::uint64_t share_block_bytes = 0) {
  if (iso.empty()) iso = test::iso_image(80 * 512 + 100);
  scenario s{"hybridize_from_file", path, {}, "hfs.img", "cd.iso", "", iso};
  s.run = [hfs = std::move(hfs), iso, answer, share_block_bytes](const fault& f) {
    test::failing_stream hfs_stream("hfs.img", hfs), iso_stream("cd.iso", iso);
    iso_stream.share_block_bytes = share_block_bytes;
    arm(hfs_stream, f, fault::on::source_stream);
    arm(iso_stream, f, fault::on::target_stream);
    test::scripted_questions ask;
    ask.partition_answer = answer;
    ask.warning_answers = {true};
    outcome o;
    o.result = test::told(hybrid::hybridize_from_file(hfs_stream, iso_stream, ask), ask);
    o.notices = ask.notices;
    o.target = iso_stream.bytes();
    for (const auto& file : iso_stream.shared_folder()->files) o.files_left.push_back(file.first);
    o.source_operations = hfs_stream.operations;
    o.target_operations = iso_stream.operations;
    return o;
  };
  return s;
}

// Two Apple_HFS partitions among other entries, large enough that the
// copies take several transfers.
std::vector<std::uint8_t> campaign_disk() {
  return test::hfs_image({{"Apple_partition_map", "Apple", 1, 63},
                          {"Apple_HFS", "One", 64, 300},
                          {"Apple_Free", "", 364, 10},
                          {"Apple_HFS", "Two", 374, 150}},
                         524);
}

using test::device_of;

// A device job: `job` runs on the bus with the target stream.
using device_job = hybrid::job_outcome (*)(const std::string&, hybrid::byte_stream&,
                                           hybrid::questions&);

scenario device_scenario(const std::string& job_name, device_job job, const std::string& path,
                         bool cdrom, int answer, std::vector<std::uint8_t> target_before,
                         const std::string& target_name) {
  scenario s{job_name, path, {}, "", target_name, cdrom ? cdrom_name : disk_name, target_before};
  const test::fake_device device = device_of(campaign_disk(), cdrom);
  s.run = [=](const fault& f) {
    campaign_bus bus;
    bus.devices[{campaign_host, campaign_target}] = device;
    if (f.where == fault::on::device) bus.fail_request = f.nth;
    test::bus_scope scope(bus);
    test::failing_stream stream(target_name, target_before);
    arm(stream, f, fault::on::target_stream);
    test::scripted_questions ask;
    ask.partition_answer = answer;
    outcome o;
    o.result = test::told(job(cdrom ? "C120" : "A120", stream, ask), ask);
    o.notices = ask.notices;
    o.target = stream.bytes();
    for (const auto& file : stream.shared_folder()->files) o.files_left.push_back(file.first);
    o.target_operations = stream.operations;
    o.requests = static_cast<long>(bus.distinct.size());
    return o;
  };
  return s;
}

TEST(FaultCampaign, EveryFaultPointOfEveryJobHolds) {
  const auto bare_volume = test::bare_volume("BD", 40 * 512 + 100);
  const std::vector<test::map_entry> one = {{"Apple_partition_map", "Apple", 1, 63},
                                            {"Apple_HFS", "MacOS", 64, 100}};
  const std::vector<test::map_entry> two = {{"Apple_partition_map", "Apple", 1, 63},
                                            {"Apple_HFS", "First", 64, 30},
                                            {"Apple_Free", "", 94, 6},
                                            {"Apple_HFS", "Second", 100, 20}};

  std::vector<scenario> scenarios = {
      file_job("merge", test::hfs_image(one, 164), hybrid::choice_cancelled),
      file_job("merge, two partitions", test::hfs_image(two, 120), hybrid::choice_all),
      file_job("chosen row", test::hfs_image(two, 120), 1),
      file_job("chosen first row", test::hfs_image(two, 120), 0),
      file_job("bare volume", bare_volume, hybrid::choice_cancelled),
      // The bytes after the ISO 9660 volume are removed, and kept aside
      // until the job ends: every failure must put them back.
      file_job("bytes after the volume", test::hfs_image(one, 164), hybrid::choice_cancelled,
               test::with_bytes_after_volume(test::iso_image(80 * 512), 3 * 512 + 100)),
      // The first partition's blocks are shared, the second's copied: a
      // fault after the share rolls back as after a copy, and a share
      // that fails is a refusal, with the same bytes copied.
      file_job("shared blocks", test::hfs_image(two, 120), hybrid::choice_all,
               test::iso_image(80 * 512), 4096),
  };
  const auto iso = test::iso_image(40000);  // not a whole number of blocks
  for (const bool cdrom : {false, true}) {
    const std::string from = cdrom ? "CD-ROM, " : "disk, ";
    scenarios.push_back(device_scenario("hybridize_from_device", hybrid::hybridize_from_device,
                                        from + "merge", cdrom, hybrid::choice_all, iso, "cd.iso"));
    scenarios.push_back(device_scenario("hybridize_from_device", hybrid::hybridize_from_device,
                                        from + "chosen row", cdrom, 1, iso, "cd.iso"));
    scenarios.push_back(device_scenario("extract_to_hfs_image", hybrid::extract_to_hfs_image,
                                        from + "whole", cdrom, hybrid::choice_all, {}, "out.img"));
    scenarios.push_back(device_scenario("extract_to_hfs_image", hybrid::extract_to_hfs_image,
                                        from + "chosen row", cdrom, 1, {}, "out.img"));
  }
  std::vector<campaign_row> table;
  for (const scenario& s : scenarios) table.push_back(run_campaign(s));
  print_table(table);
}

#ifndef _WIN32
// A real full disk: the process may not write past a file-size limit. The
// device jobs run in a child with the limit set just above the ISO image,
// and the image on disk must come back byte for byte.
std::vector<std::uint8_t> file_contents(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(FaultCampaign, FileSizeLimitUndoesTheDeviceJobs) {
  const auto iso = test::iso_image(40000);
  for (const bool extraction : {false, true}) {
    for (const bool cdrom : {false, true}) {
      SCOPED_TRACE(std::string(extraction ? "extraction" : "hybrid") + (cdrom ? " CD" : " disk"));
      const std::string path = test::unique_temp_path("zelvorant_fsize");
      {
        std::ofstream out(path, std::ios::binary);
        if (!extraction)
          out.write(reinterpret_cast<const char*>(iso.data()),
                    static_cast<std::streamsize>(iso.size()));
      }
      const pid_t child = fork();
      ASSERT_GE(child, 0);
      if (child == 0) {
        // No SIGXFSZ: the write fails with EFBIG instead, as on a full disk.
        signal(SIGXFSZ, SIG_IGN);
        const rlim_t limit = extraction ? 70 * 512 : 48 * 1024;
        const rlimit fsize{limit, limit};
        if (setrlimit(RLIMIT_FSIZE, &fsize) != 0) _exit(10);
        campaign_bus bus;
        bus.devices[{campaign_host, campaign_target}] = device_of(campaign_disk(), cdrom);
        test::bus_scope scope(bus);
        hybrid::file_stream stream(path, "r+b");
        test::scripted_questions ask;
        ask.partition_answer = hybrid::choice_all;
        const int result =
            extraction
                ? test::told(hybrid::extract_to_hfs_image(cdrom ? "C120" : "A120", stream, ask),
                             ask)
                : test::told(hybrid::hybridize_from_device(cdrom ? "C120" : "A120", stream, ask),
                             ask);
        if (result != 0) _exit(11);
        if (ask.notices.size() != 1) _exit(12);
        const std::string failed = hybrid::text::io_failure(hybrid::text::failed_operation::write,
                                                            hybrid::memory_stream(path));
        if (ask.notices[0].find(failed) == std::string::npos) _exit(13);
        if (ask.notices[0].find("File too large") == std::string::npos) _exit(14);
        const std::string promise = extraction ? hybrid::text::hfs_image_kept_suffix
                                               : hybrid::text::iso_restored_suffix(true);
        if (ask.notices[0].find(promise) == std::string::npos) _exit(15);
        _exit(0);
      }
      int status = 0;
      ASSERT_EQ(waitpid(child, &status, 0), child);
      ASSERT_TRUE(WIFEXITED(status)) << status;
      EXPECT_EQ(WEXITSTATUS(status), 0);
      if (extraction) {
        EXPECT_TRUE(file_contents(path).empty());
      } else {
        EXPECT_TRUE(file_contents(path) == iso);
      }
      std::remove(path.c_str());
    }
  }
}
#endif

}  // namespace
