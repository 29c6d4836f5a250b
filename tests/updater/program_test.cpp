// The built morrex as a user starts it, on the virtual clock: exit codes, what
// each stream carries (UTF-8 on Linux), and the receiver's files afterwards.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/updater/program_files.h"
#include "tests/support/files.h"
#include "tests/support/program_run.h"
#include "tests/support/temp_dir_fixture.h"

namespace {

const char BANNER[] = "Update Amtel-Flash Version 1.1, 11.1.2005\n";
const char USAGE[] = "Usage: morrex COMx Programmfile\n";
namespace fs = std::filesystem;

class Program : public TempDirFixture {
 protected:
  Program() : TempDirFixture("morrex_program") {}

  std::string file(const Bytes &bytes) {
    std::string path = dir + "/fw.bin";
    EXPECT_TRUE(write_file(path, bytes));
    return path;
  }

  // Runs the built program with its pauses on the virtual clock and no input.
  ProgramRun run(const std::vector<std::string> &arguments) {
    RunOptions options;
    options.stdin_fd = open("/dev/null", O_RDONLY);
    ProgramRun result = run_program(MORREX_PATH, arguments, dir, options);
    close(options.stdin_fd);
    return result;
  }
};

TEST_F(Program, UpdatesTheReceiverBehindASimPortAndSaysSo) {
  Bytes records = join({page_record(0, 64, 1), page_record(1, 64, 0x80), {0xCC}, {'3'}});
  ProgramRun r = run({"xsim:" + dir + "/receiver", file(join({{'8', 0x3C}, records}))});
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.out, std::string(BANNER) +
                       "2 Sekunden Reset....\n"
                       "\nEmpfaenger sollte kurz hupen/blinken bzw. Dauerton/Dauerblinken beenden\n"
                       "   0\r   1\r   2\rfertig\n");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(read_file(dir + "/receiver/flash.bin"), flash_image(records, 64));
  std::string log = read_text(dir + "/receiver/wire.log");
  EXPECT_EQ(log.find(" ERR "), std::string::npos) << log;
}

// MORREX_PORT gives the port (with its reset prefix) when the command line
// names only the program file: the update and a check run as with that port
// given; a port on the command line wins; an empty variable is none.
TEST_F(Program, MorrexPortGivesThePortWhenTheCommandLineNamesNone) {
  Bytes records = join({page_record(0, 64, 1), {'3'}});
  std::string fw = file(join({{'8', 0x3C}, records}));
  ProgramRun given = run({"xsim:" + dir + "/given", fw});
  ASSERT_EQ(given.code, 0) << given.err;
  ProgramRun check = run({"--check", "rsim:", fw});
  ASSERT_EQ(check.code, 0) << check.err;
  struct Case {
    const char *what;
    std::vector<std::string> environment;
    std::vector<std::string> args;
    const char *used;  // the receiver's folder that got the firmware; nullptr: none
    int code;
    std::string out;
  } cases[] = {
      {"variable", {"MORREX_PORT=xsim:%/env"}, {fw}, "env", 0, given.out},
      {"command line wins", {"MORREX_PORT=xsim:%/env"}, {"xsim:%/line", fw}, "line", 0, given.out},
      {"check", {"MORREX_PORT=rsim:"}, {"--check", fw}, nullptr, 0, check.out},
      {"empty", {"MORREX_PORT="}, {fw}, nullptr, 9, std::string(BANNER) + USAGE},
      {"unset", {}, {fw}, nullptr, 9, std::string(BANNER) + USAGE},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(dir + "/env");
    fs::remove_all(dir + "/line");
    RunOptions options;
    options.stdin_fd = open("/dev/null", O_RDONLY);
    options.environment = with_dir(c.environment, dir);
    ProgramRun r = run_program(MORREX_PATH, with_dir(c.args, dir), dir, options);
    close(options.stdin_fd);
    EXPECT_EQ(r.code, c.code);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err, "");
    for (const char *folder : {"env", "line"}) {
      bool used = c.used != nullptr && strcmp(c.used, folder) == 0;
      EXPECT_EQ(fs::exists(dir + "/" + folder + "/flash.bin"), used) << folder;
    }
  }
}

TEST_F(Program, CountsEveryRecordOverTheLastOnOneConsoleLine) {
  Bytes records(1100, 0xCC);
  records.push_back('3');
  ProgramRun r = run({"rsim:", file(join({{'8', 0}, records}))});
  EXPECT_EQ(r.code, 0);
  std::string progress;
  char count[16];
  for (int i = 0; i < 1100; i++) {
    snprintf(count, sizeof count, "%4d\r", i);
    progress += count;
  }
  std::string tail = progress + "fertig\n";
  ASSERT_GE(r.out.size(), tail.size());
  EXPECT_EQ(r.out.substr(r.out.size() - tail.size()), tail);
}

struct ExitCase {
  const char *name;
  std::vector<std::string> arguments;  // "@" stands for the program file, "%" for dir
  Bytes file;
  int code;
  const char *out;  // after the banner
  std::string err;
};

std::vector<ExitCase> exit_cases() {
  return {
      {"usage", {}, {}, 9, "Usage: morrex COMx Programmfile\n", ""},
      {"port_only", {"rsim:%/receiver"}, {}, 9, "Usage: morrex COMx Programmfile\n", ""},
      {"no_port",
       {"/nonexistent/tty", "@"},
       {'8', 0, '3'},
       1,
       "",
       // The cause in the system's words: the C library's.
       "Open /nonexistent/tty: Error 2\nGrund: " + system_words(ENOENT) +
           "\nVorhandene Schnittstellen zeigt: morrex --ports\n"},
      {"no_file",
       {"rsim:%/receiver", "%/missing.bin"},
       {},
       2,
       "",
       "%/missing.bin: No such file or directory\n"},
      {"bad_cpu",
       {"rsim:%/receiver", "@"},
       {0xFC, 0, '3'},
       3,
       "ung\xC3\xBCltige CPU-Kennung!\n",
       ""},
      {"file_ends", {"rsim:%/receiver", "@"}, {'8', 0, 'u', 1}, 4, "interner Fehler 1\n", ""},
      {"bad_record", {"rsim:%/receiver", "@"}, {'8', 0, 'U'}, 5, "interner Fehler 2\n", ""},
      {"help", {"--help"}, {}, 0, "morrex schreibt", ""},
      // An option morrex does not have touches no port and flashes nothing.
      {"bad_option",
       {"xsim:%/receiver", "@", "--verify"},
       {'8', 0, 'U'},
       9,
       "Usage: morrex COMx Programmfile\n",
       "morrex: unbekannte Option: --verify (morrex --help zeigt die Optionen)\n"},
  };
}

std::string expand(std::string text, const std::string &dir, const std::string &file) {
  if (text == "@") return file;
  size_t at = text.find('%');
  if (at != std::string::npos) text.replace(at, 1, dir);
  return text;
}

class ExitCodes : public Program, public ::testing::WithParamInterface<ExitCase> {};

TEST_P(ExitCodes, EachEndHasItsCodeAndItsMessageOnItsStream) {
  const ExitCase &c = GetParam();
  std::string path = file(c.file);
  std::vector<std::string> arguments;
  for (const std::string &a : c.arguments) arguments.push_back(expand(a, dir, path));
  ProgramRun r = run(arguments);
  EXPECT_EQ(r.code, c.code);
  std::string out = std::string(BANNER) + c.out;
  EXPECT_EQ(r.out.substr(0, out.size()), out);
  if (c.code != 0) {
    EXPECT_EQ(r.out.size(), out.size()) << r.out;
  }
  EXPECT_EQ(r.err, expand(c.err, dir, path));
  // Whatever the fault, the receiver saw no byte.
  std::string log = read_text(dir + "/receiver/wire.log");
  EXPECT_EQ(log.find(" TX "), std::string::npos) << log;
  if (c.arguments.size() < 2) {
    EXPECT_FALSE(std::filesystem::exists(dir + "/receiver"));
  }
}

INSTANTIATE_TEST_SUITE_P(Ends, ExitCodes, ::testing::ValuesIn(exit_cases()),
                         [](const ::testing::TestParamInfo<ExitCase> &i) { return i.param.name; });

}  // namespace
