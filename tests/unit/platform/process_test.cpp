#include "platform/process.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <csignal>

#include "platform/drives_posix.h"
#include "test_support.h"
#include "tool_test_support.h"

namespace {

using platform::tool_run;
using outcome = platform::tool_run::outcome;

// Tools in a program folder, a current folder, a system folder and two
// search-path folders, none of them on the real PATH.
struct RunTool : ::testing::Test {
  test::temp_folder program, current, system, path1, path2, work;
  platform::tool_places places = [this] {
    platform::tool_places p =
        test::tool_places_in(program.path(), path1.path() + "::" + path2.path());
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

// As Windows looks for the program of a command line: the program's folder,
// the current folder (the program's, never the tool's scratch folder), the
// system's folders, then the search path in order.
TEST_F(RunTool, LooksWhereTheSystemLooksInItsOrder) {
  test::write_script(work / "tool", "exit 9");  // the scratch folder: never
  test::write_script(path2 / "tool", "exit 2");
  EXPECT_EQ(platform::run_tool("tool", work.path(), places).exit_code, 2);
  test::write_script(path1 / "tool", "exit 1");
  EXPECT_EQ(platform::run_tool("tool", work.path(), places).exit_code, 1);
  test::write_script(system / "tool", "exit 3");
  EXPECT_EQ(platform::run_tool("tool", work.path(), places).exit_code, 3);
  test::write_script(current / "tool", "exit 4");
  EXPECT_EQ(platform::run_tool("tool", work.path(), places).exit_code, 4);
  test::write_script(program / "tool", "exit 5");
  EXPECT_EQ(platform::run_tool("tool", work.path(), places).exit_code, 5);
  // A file that cannot be run is passed over.
  chmod((program / "tool").c_str(), 0644);
  EXPECT_EQ(platform::run_tool("tool", work.path(), places).exit_code, 4);
}

TEST_F(RunTool, TellsWhyAToolCouldNotStart) {
  tool_run run = platform::run_tool("absent.exe /A:", work.path(), places);
  EXPECT_EQ(run.result, outcome::could_not_start);
  EXPECT_NE(run.error_text.find("No program named absent was found"), std::string::npos);

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
