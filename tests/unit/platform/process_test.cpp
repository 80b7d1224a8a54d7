#include "platform/process.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <csignal>
#include <vector>

#include "platform/drives_posix.h"
#include "test_support.h"
#include "tool_test_support.h"

namespace {

using platform::tool_run;
using outcome = platform::tool_run::outcome;

// Tools in a program folder, a tools folder, a current folder, a system
// folder and two search-path folders with an empty member between them, none
// of them on the real PATH.
struct RunTool : ::testing::Test {
  test::temp_folder program, tools, current, system, path1, path2, work;
  platform::tool_places places = [this] {
    platform::tool_places p =
        test::tool_places_in(program.path(), path1.path() + "::" + path2.path());
    p.tools_folder = tools.path();
    p.current_folder = current.path();
    p.system_folders = system.path();
    return p;
  }();
};

TEST_F(RunTool, PassesTheWordsStartsInTheFolderAndGivesNoInput) {
  test::write_script(program / "probe",
                     "pwd -P > where.txt\n"
                     "for a in \"$@\"; do echo \"[$a]\"; done > args.txt\n"
                     "cat > input.txt\n"
                     "echo 'to nobody'");
  const tool_run run = platform::run_tool("probe.EXE  /A:   x$y /F \t z  ", work.path(), places);
  EXPECT_EQ(run.result, outcome::exited);
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(test::read_text(work / "where.txt"),
            std::filesystem::canonical(work.path()).string() + "\n");
  EXPECT_EQ(test::read_text(work / "args.txt"), "[/A:]\n[x$y]\n[/F]\n[z]\n");
  EXPECT_EQ(test::read_text(work / "input.txt"), "");
}

TEST_F(RunTool, ReportsExitCodesAndSignals) {
  test::write_script(program / "three", "exit 3");
  test::write_script(program / "notfound", "exit 127");
  test::write_script(program / "victim", "kill -TERM $$");
  tool_run run = platform::run_tool("three", work.path(), places);
  EXPECT_EQ(run.result, outcome::exited);
  EXPECT_EQ(run.exit_code, 3);
  // A tool's own 127 is not a failure to start.
  run = platform::run_tool("notfound.exe", work.path(), places);
  EXPECT_EQ(run.result, outcome::exited);
  EXPECT_EQ(run.exit_code, 127);
  run = platform::run_tool("victim", work.path(), places);
  EXPECT_EQ(run.result, outcome::killed);
  EXPECT_EQ(run.exit_code, SIGTERM);
}

// A copy of "tool" in each folder a row names, exiting with the folder's
// own code; only the program's folder, the tools folder and the search path
// count, in that order. The Windows program's current and system folders,
// the tool's scratch folder (work) and an empty member of the search path
// never do.
TEST_F(RunTool, LooksNextToTheProgramThenInTheToolsFolderThenOnThePath) {
  const struct {
    const test::temp_folder* folder;
    int code;
  } all[] = {{&program, 5}, {&tools, 6},  {&path1, 1}, {&path2, 2},
             {&current, 4}, {&system, 3}, {&work, 9}};
  const struct {
    std::vector<const test::temp_folder*> holding;
    int expected;  // -1: not found
  } rows[] = {
      {{&current, &system, &work}, -1},          {{&path2, &current, &system, &work}, 2},
      {{&path1, &path2, &current}, 1},           {{&tools, &path1, &current}, 6},
      {{&program, &tools, &path1, &current}, 5},
  };
  for (std::size_t i = 0; i < std::size(rows); ++i) {
    const auto& row = rows[i];
    for (const auto& place : all) {
      std::filesystem::remove(*place.folder / "tool");
      if (std::find(row.holding.begin(), row.holding.end(), place.folder) != row.holding.end()) {
        test::write_script(*place.folder / "tool", "exit " + std::to_string(place.code));
      }
    }
    const tool_run run = platform::run_tool("tool", work.path(), places);
    if (row.expected < 0) {
      EXPECT_EQ(run.result, outcome::could_not_start) << "row " << i;
    } else {
      EXPECT_EQ(run.exit_code, row.expected) << "row " << i;
    }
  }
  // A file that cannot be run is passed over.
  chmod((program / "tool").c_str(), 0644);
  EXPECT_EQ(platform::run_tool("tool", work.path(), places).exit_code, 6);
}

// The places of a real run: whatever folder the user stands in, and an empty
// member of PATH, which a shell would take for it, run nothing.
TEST_F(RunTool, TheCurrentFolderIsNeverSearched) {
  test::write_script(current / "tool", "exit 4");
  test::scoped_env path("PATH", ":" + path1.path() + ":");
  const auto here = std::filesystem::current_path();
  std::filesystem::current_path(current.path());
  const tool_run run = platform::run_tool("tool", work.path(), platform::default_tool_places());
  std::filesystem::current_path(here);
  EXPECT_EQ(run.result, outcome::could_not_start);
  test::write_script(path1 / "tool", "exit 1");
  EXPECT_EQ(platform::run_tool("tool", work.path(), platform::default_tool_places()).exit_code, 1);
}

TEST_F(RunTool, TellsWhyAToolCouldNotStart) {
  tool_run run = platform::run_tool("absent.exe /A:", work.path(), places);
  EXPECT_EQ(run.result, outcome::could_not_start);
  EXPECT_EQ(run.error_text, "No program named absent was found next to this program, in " +
                                tools.path() + " or on the search path.");
  platform::tool_places unknown_program = places;
  unknown_program.program_folder.clear();
  EXPECT_EQ(platform::run_tool("absent", work.path(), unknown_program).error_text,
            "No program named absent was found in " + tools.path() + " or on the search path.");

  test::write_script(program / "tool", "exit 0");
  run = platform::run_tool("tool", work / "gone", places);
  EXPECT_EQ(run.result, outcome::could_not_start);
  EXPECT_NE(run.error_text.find("Cannot enter the folder " + (work / "gone")), std::string::npos);

  // Found, but the system cannot run it.
  std::ofstream(program / "broken") << "#!/no/such/interpreter\n";
  chmod((program / "broken").c_str(), 0755);
  run = platform::run_tool("broken", work.path(), places);
  EXPECT_EQ(run.result, outcome::could_not_start);
  EXPECT_EQ(run.error_text, "Cannot run " + (program / "broken") + ": No such file or directory.");

  EXPECT_EQ(platform::run_tool("   ", work.path(), places).result, outcome::could_not_start);
}

TEST(PrivateFolder, IsNewAndClosedToOthersInTheTemporaryFolder) {
  test::temp_folder base;
  test::scoped_env tmpdir("TMPDIR", base.path());
  std::string first, second, error;
  ASSERT_TRUE(platform::make_private_folder(first, error)) << error;
  ASSERT_TRUE(platform::make_private_folder(second, error)) << error;
  EXPECT_NE(first, second);
  EXPECT_EQ(first.rfind(base.path() + "/", 0), 0u);
  struct stat info {};
  ASSERT_EQ(stat(first.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700u);

  test::scoped_env missing("TMPDIR", base / "gone");
  EXPECT_FALSE(platform::make_private_folder(first, error));
  EXPECT_EQ(error.rfind("Cannot make a folder in " + (base / "gone") + ": ", 0), 0u);
}

TEST(Drives, CountsCdromAndFloppyNodes) {
  test::temp_folder dev;
  for (const char* name : {"sr0", "sr1", "sr12", "sr", "srx", "sr1a", "sda", "fd0", "fd2"}) {
    test::write_file(dev / name, {});
  }
  EXPECT_EQ(platform::count_cdrom_drives_in(dev.path()), 3);
  EXPECT_EQ(platform::count_floppy_drives_in(dev.path()), 1);
  test::write_file(dev / "fd1", {});
  EXPECT_EQ(platform::count_floppy_drives_in(dev.path()), 2);
  EXPECT_EQ(platform::count_cdrom_drives_in(dev / "gone"), 0);
}

// The stand-in imaging tool, run the way the job runs it.
struct Dskgrab : ::testing::Test {
  test::temp_folder work;
  platform::tool_places places = test::tool_places_in(ZELVORANT_TOOL_DIR);
  test::scoped_env image{"ZELVORANT_FLOPPY_IMAGE", work / "disk.img"};

  tool_run grab(const std::string& arguments) {
    return platform::run_tool("dskgrab.exe " + arguments, work.path(), places);
  }
};

TEST_F(Dskgrab, CopiesTheGeometrysBytesOrUpToTheEndOfTheDisk) {
  const auto disk = test::pattern(3000, 9);
  test::write_file(work / "disk.img", disk);
  tool_run run = grab("/A: /Fout /O100 /P2 /S3 /T4 /R /1 00001 79118");
  EXPECT_EQ(run.result, outcome::exited);
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(test::read_file(work / "out"), test::slice(disk, 0, 2400));

  run = grab("/b: /Fout /O512 /P80 /S18 /T2");
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(test::read_file(work / "out"), disk);
}

TEST_F(Dskgrab, FailsWithoutLeavingAFile) {
  test::write_file(work / "disk.img", test::pattern(1000, 1));
  for (const char* arguments : {"/Fout /O512", "/C: /Fout", "/A: /O512", "/A: /Fout /Oabc",
                                "/A: /Fout /S0", "/A: /Fno/such/folder/out"}) {
    const tool_run run = grab(arguments);
    EXPECT_EQ(run.result, outcome::exited) << arguments;
    EXPECT_EQ(run.exit_code, 1) << arguments;
    EXPECT_FALSE(std::filesystem::exists(work / "out")) << arguments;
  }
  std::filesystem::remove(work / "disk.img");
  EXPECT_EQ(grab("/A: /Fout").exit_code, 1);
  EXPECT_FALSE(std::filesystem::exists(work / "out"));
}

}  // namespace
