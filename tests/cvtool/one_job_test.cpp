// tarvel's command-line jobs and --verify, from the outside: the built program
// on the virtual receiver and the virtual clock, with standard input an open
// pipe that never brings a key (a job that waited for one would hang and be
// killed), checked on its exit code, its summary, its files and the wire.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "link/receiver_protocol.h"
#include "tests/support/pty_pair.h"
#include "tests/support/wire_log.h"
#include "tests/support/files.h"
#include "tests/support/program_run.h"
#include "tests/support/temp_dir_fixture.h"

namespace {

namespace fs = std::filesystem;

// Runs a built program on the test's folder ("%" in args); stdout_fd, when
// given, takes its standard output, stdin_fd its standard input.
ProgramRun run_job(const char *path, const std::vector<std::string> &args, const std::string &dir,
                   int stdout_fd = -1, int stdin_fd = -1) {
  RunOptions options;
  options.stdout_fd = stdout_fd;
  options.stdin_fd = stdin_fd;
  return run_program(path, with_dir(args, dir), dir, options);
}

class TarvelJob : public TempDirFixture {
 protected:
  TarvelJob() : TempDirFixture("tarvel_job") {}
  ProgramRun run(const std::vector<std::string> &args) { return run_job(TARVEL_PATH, args, dir); }
  std::string receiver_cvs() { return read_text(dir + "/r/cvs.txt"); }
  std::vector<int> wire() { return sent_bytes(read_wire_log(dir + "/r/wire.log")); }
  // The commands (bank, index, data, opcode) sent after the wake sequence and
  // the line's check, without the quit bytes.
  std::vector<std::vector<int>> commands() {
    std::vector<int> bytes = wire();
    size_t at = 0;
    while (at + 1 < bytes.size() && !(bytes[at] == 0xFE && bytes[at + 1] == 0x55)) at++;
    at += 2;
    at += line_check_length(bytes, at);
    if (ends_with_quit()) bytes.resize(bytes.size() - 4);
    std::vector<std::vector<int>> found;
    for (; at + 4 <= bytes.size(); at += 4) {
      found.push_back(std::vector<int>(bytes.begin() + (long)at, bytes.begin() + (long)at + 4));
    }
    return found;
  }
  bool ends_with_quit() {
    std::vector<int> bytes = wire();
    return bytes.size() >= 4 && std::vector<int>(bytes.end() - 4, bytes.end()) ==
                                    std::vector<int>{0xEE, 0xEE, 0xEE, 0xEE};
  }
};

// ---------------------------------------------------------------- one job

struct JobCase {
  const char *name;
  std::vector<std::string> args;
  const char *existing;  // text of %/cvs.txt before the run, or null
  int code;
  const char *summary;  // the last line of standard output; "" for none
  bool port_used;       // the receiver was opened (and then released)
};

const char GOOD_FILE[] = "CV 3 = 7\nCV 4a = b1010\n";
const char WITH_BAD_LINE[] = "CV 3 = 7\nCV 300 = 1\nCV 4a = b1010\n";
// CV 12 = 100 straddles the 999th character: its first 999 would program 1.
const std::string LONG_LINE_TEXT = std::string(990, ' ') + "CV 12 = 100\nCV 3 = 7\n";
const char *const LONG_LINE_FILE = LONG_LINE_TEXT.c_str();

std::vector<JobCase> job_cases() {
  return {
      {"read_out",
       {"--read-out", "%/cvs.txt", "sim:%/r"},
       nullptr,
       0,
       "tarvel --read-out %/cvs.txt: 398 von 398 CVs gelesen, 0 Lesefehler (Exit-Code 0)",
       true},
      {"read_out_equals_form",
       {"--read-out=%/cvs.txt", "sim:%/r"},
       nullptr,
       0,
       "tarvel --read-out %/cvs.txt: 398 von 398 CVs gelesen, 0 Lesefehler (Exit-Code 0)",
       true},
      {"read_out_no_receiver",
       {"--read-out", "%/cvs.txt", "sim:%/r?absent"},
       nullptr,
       1,
       "tarvel --read-out %/cvs.txt: 0 von 398 CVs gelesen, 0 Lesefehler, Leitung unbrauchbar "
       "(Exit-Code 1)",
       true},
      {"read_out_file_exists", {"--read-out", "%/cvs.txt", "sim:%/r"}, "keep\n", 3, "", false},
      {"read_out_force",
       {"--force", "--read-out", "%/cvs.txt", "sim:%/r"},
       "old\n",
       0,
       "tarvel --read-out %/cvs.txt: 398 von 398 CVs gelesen, 0 Lesefehler (Exit-Code 0)",
       true},
      {"read_out_no_folder", {"--read-out", "%/none/cvs.txt", "sim:%/r"}, nullptr, 3, "", false},
      {"read_out_port_fails",
       {"--read-out", "%/cvs.txt", "sim:%/r?unplug=400"},
       nullptr,
       4,
       "Schnittstelle ausgefallen (Exit-Code 4)",
       true},
      {"program",
       {"--program", "%/cvs.txt", "sim:%/r"},
       GOOD_FILE,
       0,
       "tarvel --program %/cvs.txt: 2 CVs geschrieben, 0 Zeilen ung\xC3\xBCltig (Exit-Code 0)",
       true},
      {"program_line_refused",
       {"--program", "%/cvs.txt", "sim:%/r"},
       WITH_BAD_LINE,
       2,
       "tarvel --program %/cvs.txt: 2 CVs geschrieben, 1 Zeilen ung\xC3\xBCltig (Exit-Code 2)",
       true},
      {"program_verified",
       {"--verify", "--program", "%/cvs.txt", "sim:%/r"},
       GOOD_FILE,
       0,
       "tarvel --program %/cvs.txt: 2 CVs geschrieben, 2 best\xC3\xA4tigt, 0 nicht "
       "best\xC3\xA4tigt, 0 Zeilen ung\xC3\xBCltig (Exit-Code 0)",
       true},
      // An unconfirmed write weighs more than a refused line.
      {"program_unconfirmed",
       {"--verify", "--program", "%/cvs.txt", "sim:%/r?fail=2"},
       WITH_BAD_LINE,
       1,
       "tarvel --program %/cvs.txt: 2 CVs geschrieben, 1 best\xC3\xA4tigt, 1 nicht "
       "best\xC3\xA4tigt, 1 Zeilen ung\xC3\xBCltig (Exit-Code 1)",
       true},
      {"program_no_file", {"--program", "%/cvs.txt", "sim:%/r"}, nullptr, 3, "", false},
      {"program_folder", {"--program", "%", "sim:%/r"}, nullptr, 3, "", false},
      {"read_out_folder", {"--force", "--read-out", "%", "sim:%/r"}, nullptr, 3, "", false},
      // The first write's bytes did not all leave (after 14 bytes of the wake
      // and 160 of the line's check): no CV counts as written.
      {"program_port_fails",
       {"--program", "%/cvs.txt", "sim:%/r?unplug=176"},
       GOOD_FILE,
       4,
       "tarvel --program %/cvs.txt: 0 CVs geschrieben, 0 Zeilen ung\xC3\xBCltig, Schnittstelle "
       "ausgefallen (Exit-Code 4)",
       true},
      {"port_cannot_open", {"--program", "%/cvs.txt", "%/no-such-tty"}, GOOD_FILE, 99, "", false},
      {"no_port", {"--read-out", "%/cvs.txt"}, nullptr, 9, "", false},
      {"two_ports", {"--program", "%/cvs.txt", "sim:%/r", "x.txt"}, GOOD_FILE, 9, "", false},
      {"both_jobs",
       {"--read-out", "%/a.txt", "--program", "%/cvs.txt", "sim:%/r"},
       GOOD_FILE,
       9,
       "",
       false},
      {"force_without_read_out",
       {"--force", "--program", "%/cvs.txt", "sim:%/r"},
       GOOD_FILE,
       9,
       "",
       false},
      {"no_file_name", {"--read-out"}, nullptr, 9, "", false},
      {"two_read_outs",
       {"--read-out", "%/a.txt", "--read-out", "%/b.txt", "sim:%/r"},
       nullptr,
       9,
       "",
       false},
      {"two_programs",
       {"--program", "%/cvs.txt", "sim:%/r", "--program", "%/cvs.txt"},
       GOOD_FILE,
       9,
       "",
       false},
      // A read-out that read nothing, or was cut short, replaces no file.
      {"read_out_no_receiver_keeps_the_file",
       {"--force", "--read-out", "%/cvs.txt", "sim:%/r?absent"},
       "old\n",
       1,
       "tarvel --read-out %/cvs.txt: 0 von 398 CVs gelesen, 0 Lesefehler, Leitung unbrauchbar "
       "(Exit-Code 1)",
       true},
      {"read_out_port_fails_keeps_the_file",
       {"--force", "--read-out", "%/cvs.txt", "sim:%/r?unplug=400"},
       "old\n",
       4,
       "Schnittstelle ausgefallen (Exit-Code 4)",
       true},
      {"program_empty_file",
       {"--program", "%/cvs.txt", "sim:%/r"},
       "",
       3,
       "tarvel --program %/cvs.txt: 0 CVs geschrieben, 0 Zeilen ung\xC3\xBCltig, keine CV-Zeile "
       "(Exit-Code 3)",
       true},
      {"program_no_cv_line",
       {"--program", "%/cvs.txt", "sim:%/r"},
       "CV 300 = 1\nhallo\n",
       3,
       "tarvel --program %/cvs.txt: 0 CVs geschrieben, 2 Zeilen ung\xC3\xBCltig, keine CV-Zeile "
       "(Exit-Code 3)",
       true},
      {"program_overlong_line",
       {"--program", "%/cvs.txt", "sim:%/r"},
       LONG_LINE_FILE,
       2,
       "tarvel --program %/cvs.txt: 1 CVs geschrieben, 1 Zeilen ung\xC3\xBCltig (Exit-Code 2)",
       true},
      {"unknown_option", {"--quiet", "sim:%/r"}, nullptr, 9, "", false},
      // --cvs: any set of CVs into the read-out's file; the summary counts LIST.
      {"read_out_every_cv",
       {"--read-out", "%/cvs.txt", "--cvs", "1-256,1a-256a", "sim:%/r"},
       nullptr,
       0,
       "tarvel --read-out %/cvs.txt: 512 von 512 CVs gelesen, 0 Lesefehler (Exit-Code 0)",
       true},
      {"read_out_range",
       {"--cvs=10-20", "--read-out", "%/cvs.txt", "sim:%/r"},
       nullptr,
       0,
       "tarvel --read-out %/cvs.txt: 11 von 11 CVs gelesen, 0 Lesefehler (Exit-Code 0)",
       true},
      {"read_out_alternative_bank",
       {"--read-out", "%/cvs.txt", "sim:%/r", "--cvs", "250a-256a,7,7,256a"},
       nullptr,
       0,
       "tarvel --read-out %/cvs.txt: 8 von 8 CVs gelesen, 0 Lesefehler (Exit-Code 0)",
       true},
      {"read_out_cvs_no_receiver",
       {"--force", "--read-out", "%/cvs.txt", "--cvs", "250a-256a,7", "sim:%/r?absent"},
       "old\n",
       1,
       "tarvel --read-out %/cvs.txt: 0 von 8 CVs gelesen, 0 Lesefehler, Leitung unbrauchbar "
       "(Exit-Code 1)",
       true},
      // --read and --write: single CVs from the command line.
      {"read",
       {"--read", "1-3,7a", "sim:%/r"},
       nullptr,
       0,
       "tarvel --read 1-3,7a: 4 von 4 CVs gelesen, 0 Lesefehler (Exit-Code 0)",
       true},
      {"read_every_cv",
       {"--read", "1-256,1a-256a", "sim:%/r"},
       nullptr,
       0,
       "tarvel --read 1-256,1a-256a: 512 von 512 CVs gelesen, 0 Lesefehler (Exit-Code 0)",
       true},
      {"read_no_receiver",
       {"--read", "3", "sim:%/r?absent"},
       nullptr,
       1,
       "tarvel --read 3: 0 von 1 CVs gelesen, 0 Lesefehler, Leitung unbrauchbar (Exit-Code 1)",
       true},
      {"read_port_fails",
       {"--read", "1-40", "sim:%/r?unplug=400"},
       nullptr,
       4,
       "Schnittstelle ausgefallen (Exit-Code 4)",
       true},
      {"write",
       {"--write", "7=12,7a=200", "sim:%/r"},
       nullptr,
       0,
       "tarvel --write 7=12,7a=200: 2 CVs geschrieben (Exit-Code 0)",
       true},
      {"write_verified",
       {"--verify", "--write", "7=12,256a=0", "sim:%/r"},
       nullptr,
       0,
       "tarvel --write 7=12,256a=0: 2 CVs geschrieben, 2 best\xC3\xA4tigt, 0 nicht "
       "best\xC3\xA4tigt (Exit-Code 0)",
       true},
      {"write_unconfirmed",
       {"--verify", "--write", "9=10,2a=20,256=255,7=0", "sim:%/r?fail=5"},
       nullptr,
       1,
       "tarvel --write 9=10,2a=20,256=255,7=0: 4 CVs geschrieben, 3 best\xC3\xA4tigt, 1 nicht "
       "best\xC3\xA4tigt (Exit-Code 1)",
       true},
      // A long list is cut in the summary, as in a signal's note.
      {"write_long_list",
       {"--write", "1=1,2=2,3=3,4=4,5=5,6=6,7=7,8=8,9=9,10=10,11=11,12=12,13=13,14=14,15=15,16=16",
        "sim:%/r"},
       nullptr,
       0,
       "tarvel --write 1=1,2=2,3=3,4=4,5=5,6=6,7=7,8=8,9=9,10=10,11=11,12=12,...: 16 CVs "
       "geschrieben (Exit-Code 0)",
       true},
      {"write_no_receiver",
       {"--write", "7=1", "sim:%/r?absent"},
       nullptr,
       1,
       "tarvel --write 7=1: 0 CVs geschrieben, Leitung unbrauchbar (Exit-Code 1)",
       true},
      // After the wake and the line's check, the first write's bytes do not all
      // leave: none counts, and no second is tried.
      {"write_port_fails",
       {"--write", "7=1,8=2", "sim:%/r?unplug=176"},
       nullptr,
       4,
       "tarvel --write 7=1,8=2: 0 CVs geschrieben, Schnittstelle ausgefallen (Exit-Code 4)",
       true},
      {"write_port_fails_after_one",
       {"--write", "7=1,8=2", "sim:%/r?unplug=180"},
       nullptr,
       4,
       "tarvel --write 7=1,8=2: 1 CVs geschrieben, Schnittstelle ausgefallen (Exit-Code 4)",
       true},
  };
}

// The output without the reader thread's report ("Readfile: CODE TEXT\r\n\n").
std::string without_reader_reports(const std::string &out) {
  std::string kept;
  size_t start = 0;
  while (start < out.size()) {
    size_t end = out.find('\n', start);
    end = end == std::string::npos ? out.size() : end + 1;
    size_t at = out.find("Readfile: ", start);
    if (at != std::string::npos && at < end) {
      kept.append(out, start, at - start);              // what the line held before the report
      if (end < out.size() && out[end] == '\n') end++;  // the system text's own line end
    } else {
      kept.append(out, start, end - start);
    }
    start = end;
  }
  return kept;
}

class OneJob : public TarvelJob, public ::testing::WithParamInterface<JobCase> {};

TEST_P(OneJob, EndsWithItsCodeAndSaysWhatHappened) {
  const JobCase &c = GetParam();
  if (c.existing != nullptr) std::ofstream(dir + "/cvs.txt") << c.existing;
  ProgramRun r = run(c.args);
  EXPECT_EQ(r.code, c.code) << r.out << r.err;
  std::string summary = with_dir(c.summary, dir);
  if (!summary.empty()) {
    // The port's reader thread says "Readfile: ..." once when the adapter is
    // pulled, whenever it notices: on a slow machine that is after the summary.
    std::string out = without_reader_reports(r.out);
    ASSERT_GE(out.size(), summary.size() + 1) << r.out;
    EXPECT_EQ(out.substr(out.size() - summary.size() - 1), summary + "\n");
    EXPECT_EQ(count_of(r.out, "(Exit-Code"), 1);
  } else {
    EXPECT_EQ(count_of(r.out, "(Exit-Code"), 0) << r.out;
    EXPECT_NE(r.err, "") << "a job that fails says why";
  }
  // The receiver is released after the job; a job refused before it never
  // touches the port.
  EXPECT_EQ(fs::exists(dir + "/r/wire.log"), c.port_used);
  if (c.port_used && c.code != 4) {
    EXPECT_TRUE(ends_with_quit());
  }
  // A job that failed left the file as it was, and nothing half-written.
  if (c.existing != nullptr && c.code != 0) {
    EXPECT_EQ(read_text(dir + "/cvs.txt"), c.existing);
  }
  for (const auto &entry : fs::directory_iterator(dir)) {
    EXPECT_NE(entry.path().filename().string().rfind(".neu-", 0), 0u) << entry.path();
  }
  EXPECT_EQ(count_of(r.out, "Kommandos"), 0) << "no menu in a job";
}

INSTANTIATE_TEST_SUITE_P(Cases, OneJob, ::testing::ValuesIn(job_cases()),
                         [](const testing::TestParamInfo<JobCase> &info) {
                           return std::string(info.param.name);
                         });

TEST_F(TarvelJob, AReadOutWritesWhatTheMenuReadOutWritesAndProgramsBack) {
  ASSERT_EQ(run({"--read-out", "%/cvs.txt", "sim:%/r"}).code, 0);
  std::string read_out = read_text(dir + "/cvs.txt");
  EXPECT_EQ(count_of(read_out, "\n"), 398);
  EXPECT_EQ(read_out.substr(0, 54), "CV   1  =   0 (b0000 0000)\nCV   1a = 255 (b1111 1111)\n");
  // Nine commands a CV, and for CV 1a's 255 the verify of its complement.
  EXPECT_EQ(commands().size(), 398u * 9 + 1);
  // The same file into a second receiver, each write confirmed.
  fs::rename(dir + "/r", dir + "/first");
  ProgramRun r = run({"--verify", "--program", "%/cvs.txt", "sim:%/r"});
  EXPECT_EQ(r.code, 0) << r.out;
  EXPECT_EQ(count_of(r.out, "nicht best\xC3\xA4tigt!"), 0);
}

// Keys typed on the terminal before and during a job are not read: ESC would
// stop a read-out from the menu, but not one a script started.
TEST_F(TarvelJob, KeysTypedOnTheTerminalDoNotStopAJob) {
  PtyPair pty;
  ASSERT_GE(pty.master, 0);
  int slave = open(pty.slave.c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(slave, 0);
  ASSERT_TRUE(write_all(pty.master, (const unsigned char *)"\033\033q\033", 4));
  ProgramRun r = run_job(TARVEL_PATH, {"--read-out", "%/cvs.txt", "sim:%/r"}, dir, -1, slave);
  close(slave);
  pty.close_master();
  EXPECT_EQ(r.code, 0) << r.out;
  EXPECT_EQ(count_of(read_text(dir + "/cvs.txt"), "\n"), 398);
  EXPECT_EQ(count_of(r.out, "Abgebrochen"), 0);
}

TEST_F(TarvelJob, TheOpenFailureNamesThePortListingAndWaitsForNoKey) {
  std::ofstream(dir + "/cvs.txt") << GOOD_FILE;
  ProgramRun r = run({"--program", "%/cvs.txt", "%/no-such-tty"});
  EXPECT_EQ(r.code, 99);
  EXPECT_EQ(r.err, "Open_in " + dir + "/no-such-tty: Error 2\nGrund: " + system_words(ENOENT) +
                       "\n"
                       "Vorhandene Schnittstellen zeigt: tarvel --ports\n");
}

// On Linux the cause after a failed open is the C library's text in the
// user's language: German where the system has German messages (a locale made
// for the test with localedef), English in the C locale.
TEST_F(TarvelJob, TheCauseOfAFailedOpenIsInTheUsersLanguage) {
  if (access("/usr/share/i18n/locales/de_DE", R_OK) != 0 ||
      access("/usr/share/locale/de/LC_MESSAGES/libc.mo", R_OK) != 0) {
    GTEST_SKIP() << "no German locale source or German C library messages here";
  }
  std::string locales = dir + "/locales";
  fs::create_directories(locales);
  std::string make = "localedef -i de_DE -f UTF-8 " + locales + "/de_DE.UTF-8 >/dev/null 2>&1";
  ASSERT_GE(system(make.c_str()), 0);
  ASSERT_TRUE(fs::exists(locales + "/de_DE.UTF-8/LC_MESSAGES")) << make;
  std::ofstream(dir + "/cvs.txt") << GOOD_FILE;
  struct Case {
    const char *locale;
    const char *port;
    std::string err;
  } cases[] = {
      {"de_DE.UTF-8", "%/no-such-tty", "Error 2\nGrund: Datei oder Verzeichnis nicht gefunden\n"},
      {"de_DE.UTF-8", "%", "Error 5\nGrund: Ist ein Verzeichnis\n"},
      {"C", "%/no-such-tty", "Error 2\nGrund: No such file or directory\n"},
      {"C", "%", "Error 5\nGrund: Is a directory\n"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.locale);
    RunOptions options;
    options.stdin_fd = open("/dev/null", O_RDONLY);
    // glibc's newlocale keeps the list it makes of LOCPATH, which a leak
    // check of a sanitizer build would report; only this test sets LOCPATH.
    options.environment = {"LOCPATH=" + locales, std::string("LC_ALL=") + c.locale,
                           "ASAN_OPTIONS=detect_leaks=0"};
    ProgramRun r =
        run_program(TARVEL_PATH, with_dir({"--compare", "%/cvs.txt", c.port}, dir), dir, options);
    close(options.stdin_fd);
    EXPECT_EQ(r.code, 99);
    EXPECT_EQ(r.err, "Open_in " + with_dir(c.port, dir) + ": " + c.err +
                         "Vorhandene Schnittstellen zeigt: tarvel --ports\n");
  }
}

// TARVEL_PORT gives the port when the command line names none: the job runs
// as with that port given; a port on the command line wins; an empty
// variable is none.
TEST_F(TarvelJob, TarvelPortGivesThePortWhenTheCommandLineNamesNone) {
  std::ofstream(dir + "/cvs.txt") << GOOD_FILE;
  RunOptions options;
  options.stdin_fd = open("/dev/null", O_RDONLY);
  ProgramRun given = run_program(
      TARVEL_PATH, with_dir({"--compare", "%/cvs.txt", "sim:%/given"}, dir), dir, options);
  ASSERT_TRUE(given.code == 0 || given.code == 1) << given.err;
  const std::string missing =
      "tarvel: Schnittstelle fehlt: tarvel --compare DATEI comx (tarvel --help zeigt die "
      "Optionen)\n";
  struct Case {
    const char *what;
    std::vector<std::string> environment;
    std::vector<std::string> args;
    const char *used;  // the receiver's folder the job used; nullptr: none
    int code;
    std::string err;
  } cases[] = {
      {"variable", {"TARVEL_PORT=sim:%/env"}, {"--compare", "%/cvs.txt"}, "env", given.code, ""},
      {"command line wins",
       {"TARVEL_PORT=sim:%/env"},
       {"--compare", "%/cvs.txt", "sim:%/line"},
       "line",
       given.code,
       ""},
      {"empty", {"TARVEL_PORT="}, {"--compare", "%/cvs.txt"}, nullptr, 9, missing},
      {"unset", {}, {"--compare", "%/cvs.txt"}, nullptr, 9, missing},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(dir + "/env");
    fs::remove_all(dir + "/line");
    options.environment = with_dir(c.environment, dir);
    ProgramRun r = run_program(TARVEL_PATH, with_dir(c.args, dir), dir, options);
    EXPECT_EQ(r.code, c.code);
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(fs::exists(dir + "/env/wire.log"), c.used != nullptr && strcmp(c.used, "env") == 0);
    EXPECT_EQ(fs::exists(dir + "/line/wire.log"), c.used != nullptr && strcmp(c.used, "line") == 0);
    if (c.used != nullptr) {
      EXPECT_EQ(r.out, given.out);
    }
  }
  close(options.stdin_fd);
}

// ---------------------------------------------------------------- --verify

struct VerifyCase {
  const char *options;  // receiver options
  bool verify;
  std::vector<int> unconfirmed;  // the lines of the file whose write is not confirmed
  bool line_serves = true;       // else the line's check stands for each verify
};

// Five writes; fail=N leaves every N-th verify unconfirmed. The line's check
// addresses CV 1, which the file leaves alone.
const char FIVE_LINES[] = "CV 9 = 10\nCV 2a = 20\nCV 256 = 255\nCV 7 = 0\nCV 256a = 128\n";
const char *const FIVE_REPORTS[] = {
    "CV   9  =  10 nicht best\xC3\xA4tigt!\n", "CV   2a =  20 nicht best\xC3\xA4tigt!\n",
    "CV 256  = 255 nicht best\xC3\xA4tigt!\n", "CV   7  =   0 nicht best\xC3\xA4tigt!\n",
    "CV 256a = 128 nicht best\xC3\xA4tigt!\n"};

TEST_F(TarvelJob, VerifyReportsExactlyTheUnconfirmedWritesOfAProgrammingRun) {
  // Which verifies fail follows from how many came before: the line's check
  // makes an odd number of them here, and 255 is confirmed by two (its
  // complement must be refused).
  const VerifyCase cases[] = {
      {"", true, {}},
      {"?fail=1", true, {0, 1, 2, 3, 4}, false},
      {"?fail=2", true, {0, 2, 4}},
      {"?fail=5", true, {1}},
      {"?fail=6", true, {2}},
      {"?fail=1", false, {}},
      {"?absent", true, {0, 1, 2, 3, 4}, false},
  };
  std::ofstream(dir + "/cvs.txt") << FIVE_LINES;
  for (const VerifyCase &c : cases) {
    fs::remove_all(dir + "/r");
    std::vector<std::string> args = {"sim:%/r" + std::string(c.options), "%/cvs.txt"};
    if (c.verify) args.insert(args.begin(), "--verify");
    std::string label = std::string(c.options) + (c.verify ? " --verify" : "");
    // p, then q: keys from the pipe, as a user scripts the menu.
    int keys[2];
    ASSERT_EQ(pipe(keys), 0);
    ProgramRun r;
    {
      std::string command = std::string(TARVEL_PATH);
      for (const std::string &a : args) command += " '" + with_dir(a, dir) + "'";
      command = "printf pq | ORN_VIRTUAL_CLOCK=1 ORN_HOME= " + command + " 2>&1";
      FILE *pipe_in = popen(command.c_str(), "r");
      ASSERT_NE(pipe_in, nullptr);
      char buffer[4096];
      size_t got;
      while ((got = fread(buffer, 1, sizeof buffer, pipe_in)) > 0) r.out.append(buffer, got);
      int status = pclose(pipe_in);
      r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    close(keys[0]);
    close(keys[1]);
    EXPECT_EQ(r.code, 0) << label;
    std::string reports;
    for (int line : c.unconfirmed) reports += FIVE_REPORTS[line];
    std::string shown;
    for (const char *report : FIVE_REPORTS) {
      if (r.out.find(report) != std::string::npos) shown += report;
    }
    EXPECT_EQ(shown, reports) << label;
    int unconfirmed = (int)c.unconfirmed.size();
    std::string summary = "\nGeschrieben: 5, best\xC3\xA4tigt: " + std::to_string(5 - unconfirmed) +
                          ", nicht best\xC3\xA4tigt: " + std::to_string(unconfirmed) + "\n";
    EXPECT_EQ(count_of(r.out, summary), c.verify ? 1 : 0) << label << r.out;
    EXPECT_EQ(count_of(r.out, "Geschrieben:"), c.verify ? 1 : 0) << label;
    // Each write is followed by one verify of the written value, and only then
    // (besides the line's checks, at CV 1).
    int verifies = 0, writes = 0;
    std::vector<std::vector<int>> sent;
    for (const std::vector<int> &command : commands()) {
      if (command[0] != 0 || command[1] != 0) sent.push_back(command);
    }
    for (size_t i = 0; i < sent.size(); i++) {
      if (sent[i][3] == CMD_WRITE) writes++;
      if (sent[i][3] != CMD_VERIFY) continue;
      verifies++;
      ASSERT_GT(i, 0u);
      if (sent[i - 1][3] == CMD_VERIFY) {
        // The complement of a confirmed 255.
        EXPECT_EQ(sent[i], (std::vector<int>{0, 255, 0, CMD_VERIFY})) << label;
        continue;
      }
      EXPECT_EQ(sent[i - 1][3], CMD_WRITE) << label;
      EXPECT_EQ(std::vector<int>(sent[i].begin(), sent[i].begin() + 3),
                std::vector<int>(sent[i - 1].begin(), sent[i - 1].begin() + 3))
          << label;
    }
    EXPECT_EQ(writes, 5) << label;
    EXPECT_GE(verifies, c.verify && c.line_serves ? 5 : 0) << label;
    EXPECT_LE(verifies, c.verify && c.line_serves ? 6 : 0) << label;
  }
}

// On a line whose answers come late, a refused verify is asked once more (a
// yes counts only with the complement refused): a receiver that refuses every
// second verify has each write confirmed there, where an ideal line reports
// them (above).
TEST_F(TarvelJob, OnASlowLineARefusedVerifyIsAskedOnceMore) {
  std::ofstream(dir + "/cvs.txt") << FIVE_LINES;
  ProgramRun r = run({"-q", "--verify", "--program", "%/cvs.txt", "sim:%/r?tick=4000,fail=2"});
  EXPECT_EQ(r.code, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("5 CVs geschrieben, 5 best\xC3\xA4tigt, 0 nicht best\xC3\xA4tigt"),
            std::string::npos)
      << r.out;
  std::string held = receiver_cvs();
  for (const char *line : {"CV   9  =  10", "CV   2a =  20", "CV 256  = 255", "CV 256a = 128"}) {
    EXPECT_NE(held.find(line), std::string::npos) << line;
  }
}

// The verify is sampled as a read's: DSR 1 ms after its opcode, the next byte
// 3 ms after that.
TEST_F(TarvelJob, TheVerifyAfterAWriteIsTimedLikeARead) {
  std::ofstream(dir + "/cvs.txt") << FIVE_LINES;
  ASSERT_EQ(run({"--verify", "--program", "%/cvs.txt", "sim:%/r"}).code, 0);
  std::vector<WireEvent> events = read_wire_log(dir + "/r/wire.log");
  int checked = 0;
  bool written = false;  // the line's check comes before the first write
  for (size_t i = 0; i + 2 < events.size(); i++) {
    written = written || (events[i].event == "TX" && events[i].value == "AE");
    if (!written || events[i].event != "TX" || events[i].value != "AF") continue;
    ASSERT_EQ(events[i + 1].event, "DSR");
    EXPECT_EQ(events[i + 1].us - events[i].us, 1000);
    ASSERT_EQ(events[i + 2].event, "TX");
    // 3 ms, then the next byte's own line time.
    EXPECT_EQ(events[i + 2].us - events[i + 1].us, 3000 + 260);
    checked++;
  }
  // Five writes, and 255's complement verified after its own.
  EXPECT_EQ(checked, 6);
}

TEST_F(TarvelJob, TheDialogueReportsAnUnconfirmedWriteOnALineOfItsOwn) {
  struct Case {
    const char *options;
    bool verify;
    bool reported;
  } cases[] = {{"?fail=1", true, true}, {"", true, false}, {"?fail=1", false, false}};
  for (const Case &c : cases) {
    fs::remove_all(dir + "/r");
    // e, CV 3, p, value 9, then back to the menu and out.
    std::string command = std::string(
                              "printf 'e\\b3\\rp\\b\\b\\b9\\r\\033q' | ORN_VIRTUAL_CLOCK=1 "
                              "ORN_HOME= ") +
                          TARVEL_PATH + (c.verify ? " --verify" : "") + " 'sim:" + dir + "/r" +
                          c.options + "' 2>&1";
    FILE *pipe_in = popen(command.c_str(), "r");
    ASSERT_NE(pipe_in, nullptr);
    std::string out;
    char buffer[4096];
    size_t got;
    while ((got = fread(buffer, 1, sizeof buffer, pipe_in)) > 0) out.append(buffer, got);
    EXPECT_EQ(pclose(pipe_in), 0);
    EXPECT_EQ(count_of(out, "\nCV   3  =   9 nicht best\xC3\xA4tigt!\n"), c.reported ? 1 : 0)
        << c.options << c.verify << out;
    EXPECT_NE(receiver_cvs().find("CV   3  =   9 (b0000 1001)"), std::string::npos);
  }
}

// ---------------------------------------------------------------- window title

struct TitleCase {
  const char *program;
  std::vector<std::string> args;
  const char *first, *last;  // the first and last title shown
};

TEST_F(TarvelJob, LongJobsShowTheirProgressInTheTerminalTitleAndPutItBack) {
  std::ofstream(dir + "/cvs.txt") << FIVE_LINES;
  std::string firmware = std::string("8\x5a", 2) + "u" + std::string(1, '\0') +
                         std::string(64, 'x') + "u\x01" + std::string(64, 'y') + "3";
  std::ofstream(dir + "/fw.bin", std::ios::binary) << firmware;
  const TitleCase cases[] = {
      {TARVEL_PATH,
       {"--read-out", "%/out.txt", "sim:%/r"},
       "tarvel: Auslesen 0%",
       "tarvel: Auslesen 100% (noch 0:00)"},
      {TARVEL_PATH,
       {"--program", "%/cvs.txt", "sim:%/r"},
       "tarvel: Programmieren 0%",
       "tarvel: Programmieren 100% (noch 0:00)"},
      {MORREX_PATH,
       {"xsim:%/m", "%/fw.bin"},
       "morrex: Update 0%",
       "morrex: Update 99% (noch 0:01)"},
  };
  for (const TitleCase &c : cases) {
    PtyPair pty;
    ASSERT_GE(pty.master, 0);
    int slave = open(pty.slave.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(slave, 0);
    std::string shown;
    bool done = false;
    std::thread reader([&] {
      while (!done) shown += read_some(pty.master, 1 << 20, 50);
    });
    ProgramRun r = run_job(c.program, c.args, dir, slave);
    close(slave);
    usleep(200000);
    done = true;
    reader.join();
    pty.close_master();
    EXPECT_EQ(r.code, 0) << c.program << r.err;
    size_t push = shown.find("\033[22;0t");
    size_t first = shown.find(std::string("\033]0;") + c.first + "\007");
    size_t last = shown.find(std::string("\033]0;") + c.last + "\007");
    size_t pop = shown.find("\033]0;\007\033[23;0t");
    EXPECT_NE(push, std::string::npos) << c.first;
    EXPECT_LT(push, first) << c.first;
    EXPECT_LT(first, last) << c.first;
    EXPECT_LT(last, pop) << c.first;
    EXPECT_NE(pop, std::string::npos) << c.first;
    EXPECT_EQ(shown.find("\033]0;", pop + 1), std::string::npos) << "nothing after the end";
    // Not on a file: the title is for terminals only.
    fs::remove_all(dir + "/r");
    fs::remove(dir + "/out.txt");
    ProgramRun to_file = run_job(c.program, c.args, dir);
    EXPECT_EQ(to_file.code, 0);
    EXPECT_EQ(to_file.out.find("\033]"), std::string::npos) << c.first;
  }
}

// ---------------------------------------------------------------- hostile targets

// What may stand at a job's file besides a file: each is refused with exit 3
// before the port is opened, at once (a FIFO must not block the check).
struct HostileTarget {
  const char *what;
  std::vector<std::string> args;
  const char *error;  // the end of the message on standard error
};

const std::string LONG_NAME = "%/" + std::string(300, 'n') + ".txt";

const HostileTarget hostile_targets[] = {
    {"program from a FIFO", {"--program", "%/fifo", "sim:%/r"}, "fifo: Not a regular file\n"},
    {"read-out into a FIFO",
     {"--force", "--read-out", "%/fifo", "sim:%/r"},
     "fifo: Not a regular file\n"},
    {"program from an endless device",
     {"--program", "/dev/zero", "sim:%/r"},
     "/dev/zero: Not a regular file\n"},
    {"read-out into a device that takes no byte",
     {"--force", "--read-out", "/dev/full", "sim:%/r"},
     "/dev/full: Not a regular file\n"},
    {"read-out under a name too long for the file system",
     {"--read-out", LONG_NAME, "sim:%/r"},
     "File name too long\n"},
    {"read-out through a link into a missing folder",
     {"--read-out", "%/dangling", "sim:%/r"},
     "dangling: No such file or directory\n"},
    // The job holds its file in memory: more than 4 MiB is no data file.
    {"program from a file too large to hold",
     {"--program", "%/huge.txt", "sim:%/r"},
     "huge.txt: File too large\n"},
    {"compare with a file too large to hold",
     {"--compare", "%/huge.txt", "sim:%/r"},
     "huge.txt: File too large\n"},
};

TEST_F(TarvelJob, TargetsThatAreNoFileAreRefusedBeforeThePort) {
  ASSERT_EQ(mkfifo((dir + "/fifo").c_str(), 0600), 0);
  ASSERT_EQ(symlink((dir + "/missing/x.txt").c_str(), (dir + "/dangling").c_str()), 0);
  write_text(dir + "/huge.txt", "CV 3 = 7\n");
  fs::resize_file(dir + "/huge.txt", 4 * 1024 * 1024 + 1);
  for (const HostileTarget &c : hostile_targets) {
    SCOPED_TRACE(c.what);
    auto start = std::chrono::steady_clock::now();
    ProgramRun r = run(c.args);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(r.code, 3) << r.out << r.err;
    std::string error = c.error;
    ASSERT_GE(r.err.size(), error.size()) << r.err;
    EXPECT_EQ(r.err.substr(r.err.size() - error.size()), error);
    EXPECT_FALSE(fs::exists(dir + "/r")) << "the receiver was never opened";
    EXPECT_FALSE(fs::exists(dir + "/missing"));
    for (const auto &entry : fs::directory_iterator(dir)) {
      EXPECT_NE(entry.path().filename().string().rfind(".neu-", 0), 0u) << entry.path();
    }
  }
}

// ---------------------------------------------------------------- progress

// A job shows each CV on a line ended by CR on a terminal, over the one
// before; into a file or a pipe (a log), and with -q, no such line. The last
// progress line is ended (or written over by a whole line) before the next
// message.
struct ProgressCase {
  const char *what;
  std::vector<std::string> args;
  const char *last_progress;  // the last progress line on a terminal
  const char *next;           // what follows it there
};

const ProgressCase progress_cases[] = {
    {"--read-out",
     {"--read-out", "%/out.txt", "sim:%/r"},
     "CV 199a =  57 (b0011 1001)",
     "\ntarvel --read-out"},
    {"--program", {"--program", "%/cvs.txt", "sim:%/r"}, "CV   4a =  10", "\ntarvel --program"},
    {"--compare",
     {"--compare", "%/cvs.txt", "sim:%/r"},
     "CV   3  =   2 (b0000 0010)",
     "\rCV   4a: Datei  10 (b0000 1010), Empf\xC3\xA4nger 252"},
    {"--backup",
     {"--program", "%/cvs.txt", "--backup", "%/old.txt", "sim:%/r"},
     "CV   4a = 252 (b1111 1100)",
     "\n2 CVs gesichert in"},
};

// Standard output without the window title's and the terminal's sequences,
// with plain line ends.
std::string text_of(const std::string &out) {
  static const std::regex sequences("\x1b\\]0;[^\x07\x1b]*\x07|\x1b\\[[0-9;?]*[ -/]*[@-~]");
  // A title between a CR and its line feed leaves the CR: it is a line end.
  return std::regex_replace(std::regex_replace(out, sequences, ""), std::regex("\r+\n"), "\n");
}

TEST_F(TarvelJob, ShowsItsProgressOnATerminalOnly) {
  for (const ProgressCase &c : progress_cases) {
    for (ProgramOutput output : {OUTPUT_FILE, OUTPUT_PIPE, OUTPUT_TERMINAL}) {
      for (bool quiet : {false, true}) {
        SCOPED_TRACE(std::string(c.what) + (quiet ? " -q" : "") + " into " +
                     (output == OUTPUT_TERMINAL ? "a terminal" : "a file or pipe"));
        remove_tree(dir);
        fs::create_directories(dir);
        write_text(dir + "/cvs.txt", "CV 3 = 2\nCV 4a = 10\n");
        std::vector<std::string> args = c.args;
        if (quiet) args.insert(args.begin(), "-q");
        ProgramRun r = run_program_into(output, TARVEL_PATH, with_dir(args, dir), dir, {});
        // The CRs before a line feed are taken out; those left end progress lines.
        std::string text = text_of(r.out);
        bool shown = output == OUTPUT_TERMINAL && !quiet;
        EXPECT_EQ(text.find('\r') != std::string::npos, shown) << text;
        if (shown) {
          EXPECT_NE(text.find(std::string(c.last_progress) + c.next), std::string::npos) << text;
        }
      }
    }
  }
}

// ---------------------------------------------------------------- option forms

// Options stand before or after the port; short forms; anything else that
// starts with "-" is a usage error that opens nothing.
struct OptionForm {
  const char *what;
  std::vector<std::string> args;
  int code;
  const char *out;  // a part of standard output, or ""
  const char *err;  // a part of standard error, or ""
  bool port_used;
};

const OptionForm option_forms[] = {
    {"the job after the port",
     {"sim:%/r", "--program", "%/cvs.txt"},
     0,
     "2 CVs geschrieben",
     "",
     true},
    {"verify and the = form after the port",
     {"sim:%/r", "--verify", "--program=%/cvs.txt"},
     0,
     "2 best\xC3\xA4tigt",
     "",
     true},
    {"help after the port", {"sim:%/r", "--help"}, 0, "Usage: tarvel", "", false},
    {"-h", {"-h"}, 0, "Usage: tarvel", "", false},
    {"-?", {"-?", "sim:%/r"}, 0, "Usage: tarvel", "", false},
    {"/?", {"/?"}, 0, "Usage: tarvel", "", false},
    {"-V after the port", {"sim:%/r", "-V"}, 0, "tarvel " PROJECT_VERSION_TEXT "\n", "", false},
    {"an unknown short option", {"-x", "sim:%/r"}, 9, "", "unbekannte Option: -x", false},
    {"an unknown long option after the port",
     {"sim:%/r", "--bogus"},
     9,
     "",
     "unbekannte Option: --bogus",
     false},
    {"an option that takes no value", {"--verify=1", "sim:%/r"}, 9, "", "--verify=1", false},
    {"quiet without a job", {"-q", "sim:%/r"}, 9, "", "--quiet", false},
    {"a job file missing at the end",
     {"sim:%/r", "--program"},
     9,
     "",
     "Dateiname fehlt nach: --program",
     false},
};

TEST_F(TarvelJob, OptionsAreTakenWhereverTheyStand) {
  std::ofstream(dir + "/cvs.txt") << GOOD_FILE;
  for (bool posixly_correct : {false, true}) {
    // A variable that makes some C libraries stop at the first non-option.
    if (posixly_correct) setenv("POSIXLY_CORRECT", "1", 1);
    for (const OptionForm &c : option_forms) {
      SCOPED_TRACE(std::string(c.what) + (posixly_correct ? ", POSIXLY_CORRECT" : ""));
      fs::remove_all(dir + "/r");
      ProgramRun r = run(c.args);
      EXPECT_EQ(r.code, c.code) << r.out << r.err;
      EXPECT_NE(r.out.find(c.out), std::string::npos) << r.out;
      EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
      EXPECT_EQ(fs::exists(dir + "/r"), c.port_used);
    }
    unsetenv("POSIXLY_CORRECT");
  }
}

// ---------------------------------------------------------------- output for logs

// Into a file a job writes whole lines: no CR-ended progress, no "Abbruch mit
// ESC" (no key is read), its failures and its summary; --quiet leaves only
// those two.
struct LogCase {
  const char *what;
  std::vector<std::string> args;
  std::vector<std::string> shown;  // lines that must be there
  bool quiet;
};

const LogCase log_cases[] = {
    {"read-out", {"--read-out", "%/out.txt", "sim:%/r?fail=2"}, {"398 von 398 CVs gelesen"}, false},
    {"programming",
     {"--program", "%/cvs.txt", "sim:%/r"},
     {"CV 300 = 1: ung\xC3\xBCltige zeile: CV muss zwischen 1 und 256 liegen",
      "hallo: ung\xC3\xBCltige zeile: kein '='", "2 CVs geschrieben, 2 Zeilen ung\xC3\xBCltig"},
     false},
    {"quiet programming, verified",
     {"-q", "--verify", "--program", "%/cvs.txt", "sim:%/r?fail=2"},
     {"hallo: ung\xC3\xBCltige zeile: kein '='", "nicht best\xC3\xA4tigt!"},
     true},
    {"quiet read-out", {"--quiet", "--read-out", "%/out.txt", "sim:%/r"}, {"(Exit-Code 0)"}, true},
    // Neither the backup's lines nor the check's listing and duration.
    {"quiet backup",
     {"-q", "--program", "%/cvs.txt", "--backup", "%/old.txt", "sim:%/r"},
     {"Zeile 2: CV 300 = 1: ung\xC3\xBCltige zeile", "CVs gesichert in"},
     true},
    {"quiet check",
     {"-q", "--check", "--program", "%/cvs.txt"},
     {"Zeile 3: hallo: ung\xC3\xBCltige zeile: kein '='", "2 CVs zu schreiben"},
     true},
};

TEST_F(TarvelJob, IntoAFileAJobWritesWholeLines) {
  std::ofstream(dir + "/cvs.txt") << "CV 3 = 7\nCV 300 = 1\nhallo\nCV 4a = b1010\n";
  for (const LogCase &c : log_cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(dir + "/r");
    fs::remove(dir + "/out.txt");
    ProgramRun r = run(c.args);
    EXPECT_EQ(r.out.find('\r'), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("Abbruch mit ESC"), std::string::npos);
    ASSERT_FALSE(r.out.empty());
    EXPECT_EQ(r.out.back(), '\n');
    EXPECT_EQ(r.out.find(" (b0000"), std::string::npos) << "no per-CV progress";
    for (const std::string &line : c.shown) EXPECT_NE(r.out.find(line), std::string::npos) << r.out;
    size_t last = r.out.rfind('\n', r.out.size() - 2);
    EXPECT_EQ(r.out.compare(last + 1, 7, "tarvel "), 0) << "the summary comes last";
    bool chatty = r.out.find("Sekunden Reset") != std::string::npos ||
                  r.out.find("CVs Lesen und schreiben") != std::string::npos;
    EXPECT_EQ(chatty, !c.quiet) << r.out;
    if (c.quiet) {
      std::istringstream lines(r.out);
      for (std::string line; std::getline(lines, line);) {
        bool failure = line.find("ung\xC3\xBCltige zeile") != std::string::npos ||
                       line.find("nicht best\xC3\xA4tigt!") != std::string::npos ||
                       line.find("Lesefehler!") != std::string::npos;
        EXPECT_TRUE(failure || line.rfind("tarvel ", 0) == 0) << "not quiet: " << line;
      }
    }
  }
}

// A read-out through a link replaces the file the link names, as writing
// through it would, and leaves the link a link; a read-only file keeps its mode.
TEST_F(TarvelJob, AReadOutThroughALinkReplacesTheFileItNames) {
  fs::create_directory(dir + "/real");
  std::ofstream(dir + "/real/cvs.txt") << "alt\n";
  fs::permissions(dir + "/real/cvs.txt", fs::perms::owner_read | fs::perms::group_read);
  ASSERT_EQ(symlink("real/cvs.txt", (dir + "/link.txt").c_str()), 0);
  ProgramRun r = run({"--force", "--read-out", "%/link.txt", "sim:%/r"});
  EXPECT_EQ(r.code, 0) << r.out << r.err;
  EXPECT_TRUE(fs::is_symlink(dir + "/link.txt"));
  EXPECT_EQ(count_of(read_text(dir + "/real/cvs.txt"), "\n"), 398);
  EXPECT_EQ(fs::status(dir + "/real/cvs.txt").permissions(),
            fs::perms::owner_read | fs::perms::group_read);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir + "/real"), fs::directory_iterator()), 1)
      << "nothing left beside it";
}

// ---------------------------------------------------------------- files that appear

// A job's file lands on nothing that appeared while it ran (unless --force),
// and the lines read are kept beside the real file under a free name that
// fits, never replacing one. The receiver's wire.log is made a FIFO, so that
// the job waits as it opens the port, with its new file made: the file that
// "appears" is made then, and the job goes on when the FIFO is read.
struct Holds {
  std::string name;  // in the test's folder
  const char *text;  // the whole file, or null: lines
  int lines;
};

struct KeptCase {
  const char *what;
  std::vector<std::string> args;
  std::vector<Holds> before;                               // files there at the start
  std::vector<std::pair<std::string, std::string>> links;  // link, what it names
  const char *appears;                                     // made while the job runs, or null
  int code;
  std::vector<std::string> said;  // parts of what it printed (stdout, then stderr)
  std::vector<Holds> after;       // what the files hold afterwards
};

const std::string USER_DATA = "USER DATA\n";
const std::string UNCHANGED = " ist unver\xC3\xA4ndert";

std::vector<KeptCase> kept_cases() {
  std::string long_name(251, 'x');
  std::string cut_name(250, 'x');
  return {
      {"a file appears at FILE during the read-out",
       {"--read-out", "%/f.txt", "sim:%/r"},
       {},
       {},
       "f.txt",
       3,
       {"\n%/f.txt ist w\xC3\xA4hrend des Auslesens entstanden und bleibt unver\xC3\xA4ndert.\n"
        "Die gelesenen Zeilen stehen in %/f.txt.teil.\n",
        "398 von 398 CVs gelesen, 0 Lesefehler, Datei fehlerhaft (Exit-Code 3)\n"},
       {{"f.txt", USER_DATA.c_str(), 0}, {"f.txt.teil", nullptr, 398}}},
      {"and the first free name beside it",
       {"--read-out", "%/f.txt", "sim:%/r"},
       {{"f.txt.teil", "keep\n", 0}},
       {},
       "f.txt",
       3,
       {"Die gelesenen Zeilen stehen in %/f.txt.2.teil.\n"},
       {{"f.txt", USER_DATA.c_str(), 0},
        {"f.txt.teil", "keep\n", 0},
        {"f.txt.2.teil", nullptr, 398}}},
      {"--force replaces a file that appears",
       {"--force", "--read-out", "%/f.txt", "sim:%/r"},
       {},
       {},
       "f.txt",
       0,
       {"398 von 398 CVs gelesen, 0 Lesefehler (Exit-Code 0)\n"},
       {{"f.txt", nullptr, 398}}},
      {"OLD appears during the backup",
       {"--program", "%/cvs.txt", "--backup", "%/old.txt", "sim:%/r"},
       {{"cvs.txt", "CV 3 = 7\nCV 4a = 9\n", 0}},
       {},
       "old.txt",
       3,
       {"%/old.txt: existiert bereits (--force \xC3\xBC"
        "berschreibt)\n",
        "Die Sicherung steht in %/old.txt.teil, %/old.txt" + UNCHANGED + ": nichts geschrieben.\n",
        "tarvel --program %/cvs.txt: 0 CVs geschrieben, Sicherung in %/old.txt.teil (Exit-Code "
        "3)\n"},
       {{"old.txt", USER_DATA.c_str(), 0},
        {"old.txt.teil", "CV   3  =   2 (b0000 0010)\nCV   4a = 252 (b1111 1100)\n", 0}}},
      {"a read-out cut short keeps its lines beside an earlier .teil",
       {"--read-out", "%/f.txt", "sim:%/r?unplug=2000"},
       {{"f.txt.teil", "keep\n", 0}, {"f.txt.2.teil", "keep 2\n", 0}},
       {},
       nullptr,
       4,
       {"Die gelesenen Zeilen stehen in %/f.txt.3.teil, %/f.txt" + UNCHANGED + ".\n"},
       {{"f.txt.teil", "keep\n", 0},
        {"f.txt.2.teil", "keep 2\n", 0},
        {"f.txt.3.teil", nullptr, 50}}},
      {"through a link into another folder, beside the real file",
       {"--force", "--read-out", "%/link.txt", "sim:%/r?unplug=2000"},
       {{"other/real.txt", "old\n", 0}},
       {{"link.txt", "other/real.txt"}},
       nullptr,
       4,
       {"Die gelesenen Zeilen stehen in %/other/real.txt.teil, %/link.txt" + UNCHANGED + ".\n"},
       {{"other/real.txt", "old\n", 0}, {"other/real.txt.teil", nullptr, 50}}},
      {"a name too long for the suffix",
       {"--read-out", "%/" + long_name, "sim:%/r?unplug=2000"},
       {},
       {},
       nullptr,
       4,
       {"Die gelesenen Zeilen stehen in %/" + cut_name + ".teil, %/" + long_name + UNCHANGED +
        ".\n"},
       {{cut_name + ".teil", nullptr, 50}}},
  };
}

// Waits until a new file (".neu-...") is in folder; false after 20 s.
bool new_file_made(const std::string &folder) {
  for (int waited_ms = 0; waited_ms < 20000; waited_ms++) {
    for (const auto &entry : fs::directory_iterator(folder)) {
      if (entry.path().filename().string().rfind(".neu-", 0) == 0) return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return false;
}

// Reads the FIFO to its end: the job goes on and ends.
void drain(const std::string &fifo) {
  int fd = open(fifo.c_str(), O_RDONLY);
  char buffer[4096];
  while (fd >= 0 && read(fd, buffer, sizeof buffer) > 0) {
  }
  if (fd >= 0) close(fd);
}

// Runs the job; with appears, makes that file once the job's new file is made.
ProgramRun run_while_a_file_appears(const std::vector<std::string> &args, const std::string &dir,
                                    const char *appears) {
  if (appears == nullptr) return run_job(TARVEL_PATH, args, dir);
  fs::create_directory(dir + "/r");
  EXPECT_EQ(mkfifo((dir + "/r/wire.log").c_str(), 0600), 0);
  ProgramRun r;
  std::thread job([&] { r = run_job(TARVEL_PATH, args, dir); });
  EXPECT_TRUE(new_file_made(dir));
  write_text(dir + "/" + appears, USER_DATA);
  drain(dir + "/r/wire.log");
  job.join();
  return r;
}

void expect_holds(const std::string &dir, const Holds &h) {
  std::string text = read_text(dir + "/" + h.name);
  if (h.text != nullptr) {
    EXPECT_EQ(text, h.text) << h.name;
  } else {
    EXPECT_EQ(count_of(text, "\n"), h.lines) << h.name;
    EXPECT_EQ(count_of(text, "CV "), h.lines) << h.name << ": whole read-out lines";
  }
}

TEST_F(TarvelJob, AJobsFileNeverLandsOnOneThatAppearedNorLosesItsLines) {
  for (const KeptCase &c : kept_cases()) {
    SCOPED_TRACE(c.what);
    remove_tree(dir);
    fs::create_directories(dir + "/other");
    for (const Holds &h : c.before) write_text(dir + "/" + h.name, h.text);
    for (const auto &link : c.links) {
      ASSERT_EQ(symlink(link.second.c_str(), (dir + "/" + link.first).c_str()), 0);
    }
    ProgramRun r = run_while_a_file_appears(c.args, dir, c.appears);
    EXPECT_EQ(r.code, c.code) << r.out << r.err;
    for (const std::string &part : c.said) {
      EXPECT_NE((r.out + r.err).find(with_dir(part, dir)), std::string::npos)
          << with_dir(part, dir) << "\nnot in:\n"
          << r.out << r.err;
    }
    for (const Holds &h : c.after) expect_holds(dir, h);
    for (const auto &entry : fs::directory_iterator(dir)) {
      EXPECT_NE(entry.path().filename().string().rfind(".neu-", 0), 0u) << entry.path();
    }
  }
}

// Two read-outs to one name, the second started while the first runs: the
// second's file is there first; the first's is kept beside it, exit 3.
TEST_F(TarvelJob, TwoReadOutsToOneNameLoseNeither) {
  fs::create_directory(dir + "/second");
  ProgramRun first, second;
  fs::create_directory(dir + "/r");
  ASSERT_EQ(mkfifo((dir + "/r/wire.log").c_str(), 0600), 0);
  std::thread job([&] { first = run_job(TARVEL_PATH, {"--read-out", "%/f.txt", "sim:%/r"}, dir); });
  ASSERT_TRUE(new_file_made(dir));
  second = run_program(TARVEL_PATH, {"--read-out", dir + "/f.txt", "sim:" + dir + "/second/r"},
                       dir + "/second");
  drain(dir + "/r/wire.log");
  job.join();
  EXPECT_EQ(second.code, 0) << second.out << second.err;
  EXPECT_EQ(first.code, 3) << first.out << first.err;
  EXPECT_NE(first.out.find("Die gelesenen Zeilen stehen in " + dir + "/f.txt.teil.\n"),
            std::string::npos)
      << first.out;
  EXPECT_EQ(count_of(read_text(dir + "/f.txt"), "\n"), 398);
  EXPECT_EQ(count_of(read_text(dir + "/f.txt.teil"), "\n"), 398);
}

// ---------------------------------------------------------------- one reading

// A job reads its file once, before the port: whatever happens to the file
// while the job runs, it writes, backs up, compares and counts what the file
// said at the start. The receiver's wire.log is a FIFO again: once it is
// opened the port is open, and the file is changed before the job goes on.
struct ChangedCase {
  const char *what;
  std::vector<std::string> args;
  const char *change;  // the file's new text; null: the file is removed
  bool in_place;       // written into the same file, not saved as a new one
  int code;
  std::string summary;
  std::vector<const char *> receiver_holds;  // lines of the receiver's CVs afterwards
  const char *old_text;                      // what OLD holds afterwards, or null
};

const char ONE_READING_FILE[] = "CV 3 = 7\nCV 4a = 9\n";

std::vector<ChangedCase> changed_cases() {
  return {
      {"--program --backup, FILE replaced by other CVs",
       {"--program", "%/cvs.txt", "--backup", "%/old.txt", "sim:%/r"},
       "CV 20 = 1\nCV 21 = 1\nCV 3 = 99\n",
       false,
       0,
       "tarvel --program %/cvs.txt: 2 CVs geschrieben, 0 Zeilen ung\xC3\xBCltig, 2 CVs gesichert "
       "in "
       "%/old.txt (Exit-Code 0)",
       {"CV   3  =   7 (b0000 0111)", "CV   4a =   9 (b0000 1001)", "CV  20  =  19 (b0001 0011)"},
       "CV   3  =   2 (b0000 0010)\nCV   4a = 252 (b1111 1100)\n"},
      {"--program, lines appended to FILE in place",
       {"--program", "%/cvs.txt", "sim:%/r"},
       "CV 3 = 7\nCV 4a = 9\nCV 20 = 1\nnonsense\n",
       true,
       0,
       "tarvel --program %/cvs.txt: 2 CVs geschrieben, 0 Zeilen ung\xC3\xBCltig (Exit-Code 0)",
       {"CV   3  =   7 (b0000 0111)", "CV  20  =  19 (b0001 0011)"},
       nullptr},
      {"--program, FILE removed",
       {"--program", "%/cvs.txt", "sim:%/r"},
       nullptr,
       false,
       0,
       "tarvel --program %/cvs.txt: 2 CVs geschrieben, 0 Zeilen ung\xC3\xBCltig (Exit-Code 0)",
       {"CV   3  =   7 (b0000 0111)", "CV   4a =   9 (b0000 1001)"},
       nullptr},
      {"--compare, FILE rewritten in place with the receiver's values",
       {"--compare", "%/cvs.txt", "sim:%/r"},
       "CV 3 = 2\nCV 4a = 252\n",
       true,
       1,
       "tarvel --compare %/cvs.txt: 2 CVs verglichen, 0 gleich, 2 verschieden, 0 Lesefehler, 0 "
       "Zeilen ung\xC3\xBCltig (Exit-Code 1)",
       {"CV   3  =   2 (b0000 0010)"},
       nullptr},
  };
}

// Runs the job and changes (or removes) %/cvs.txt once the port is open.
ProgramRun run_while_the_file_changes(const ChangedCase &c, const std::string &dir) {
  fs::create_directory(dir + "/r");
  EXPECT_EQ(mkfifo((dir + "/r/wire.log").c_str(), 0600), 0);
  ProgramRun r;
  std::thread job([&] { r = run_job(TARVEL_PATH, c.args, dir); });
  int fd = open((dir + "/r/wire.log").c_str(), O_RDONLY);
  if (c.in_place) {
    write_text(dir + "/cvs.txt", c.change);
  } else if (c.change != nullptr) {
    // A new file in its place, as an editor saves it.
    write_text(dir + "/cvs.txt.new", c.change);
    fs::rename(dir + "/cvs.txt.new", dir + "/cvs.txt");
  } else {
    fs::remove(dir + "/cvs.txt");
  }
  char buffer[4096];
  while (fd >= 0 && read(fd, buffer, sizeof buffer) > 0) {
  }
  if (fd >= 0) close(fd);
  job.join();
  return r;
}

TEST_F(TarvelJob, AJobDoesWhatItsFileSaidWhenItBegan) {
  for (const ChangedCase &c : changed_cases()) {
    SCOPED_TRACE(c.what);
    remove_tree(dir);
    fs::create_directories(dir);
    write_text(dir + "/cvs.txt", ONE_READING_FILE);
    ProgramRun r = run_while_the_file_changes(c, dir);
    EXPECT_EQ(r.code, c.code) << r.out << r.err;
    std::string summary = with_dir(c.summary, dir) + "\n";
    ASSERT_GE(r.out.size(), summary.size()) << r.out << r.err;
    EXPECT_EQ(r.out.substr(r.out.size() - summary.size()), summary) << r.out << r.err;
    for (const char *held : c.receiver_holds) {
      EXPECT_NE(receiver_cvs().find(held), std::string::npos) << held << "\n" << receiver_cvs();
    }
    if (c.old_text != nullptr) {
      EXPECT_EQ(read_text(dir + "/old.txt"), c.old_text);
    }
  }
}

// ---------------------------------------------------------------- CV lists

// A wrong --cvs, --read or --write, or one in a combination that makes no
// sense: exit 9 before the port is touched, one line on standard error that
// names what is wrong.
struct RefusedCase {
  const char *name;
  std::vector<std::string> args;
  const char *said;  // in the message
};

std::vector<RefusedCase> refused_cases() {
  const std::string out = "--read-out";
  return {
      {"cvs_zero", {out, "%/a.txt", "--cvs", "1,0", "sim:%/r"}, "--cvs: \"0\": CV muss zwischen 1"},
      {"cvs_257", {out, "%/a.txt", "--cvs", "1-257", "sim:%/r"}, "\"1-257\": CV muss zwischen 1"},
      {"cvs_descending",
       {out, "%/a.txt", "--cvs", "5-3", "sim:%/r"},
       "\"5-3\": Anfang gr\xC3\xB6\xC3\x9F"
       "er als Ende"},
      {"cvs_letter", {out, "%/a.txt", "--cvs", "x", "sim:%/r"}, "\"x\": keine CV-Nummer"},
      {"cvs_empty", {out, "%/a.txt", "--cvs", "", "sim:%/r"}, "\"\": keine CV genannt"},
      {"cvs_trailing_comma",
       {out, "%/a.txt", "--cvs", "1-3,", "sim:%/r"},
       "\"1-3,\": leerer Eintrag"},
      {"cvs_two_commas", {out, "%/a.txt", "--cvs", "1,,3", "sim:%/r"}, "\"1,,3\": leerer Eintrag"},
      {"cvs_two_banks",
       {out, "%/a.txt", "--cvs", "1-3a", "sim:%/r"},
       "\"1-3a\": Anfang und Ende in zwei B"},
      {"cvs_text_after_number",
       {out, "%/a.txt", "--cvs", "7x", "sim:%/r"},
       "\"7x\": eine CV-Nummer sind Ziffern"},
      {"cvs_open_range", {out, "%/a.txt", "--cvs", "5-", "sim:%/r"}, "\"5-\": keine CV-Nummer"},
      {"cvs_without_read_out", {"--cvs", "1", "sim:%/r"}, "nur mit --read-out: --cvs"},
      {"cvs_with_read", {"--read", "1", "--cvs", "2", "sim:%/r"}, "nur mit --read-out: --cvs"},
      {"cvs_with_compare",
       {"--compare", "%/a.txt", "--cvs", "2", "sim:%/r"},
       "nur mit --read-out: --cvs"},
      {"cvs_twice", {out, "%/a.txt", "--cvs", "1", "--cvs", "2", "sim:%/r"}, "nur einmal: --cvs"},
      {"read_zero", {"--read", "0", "sim:%/r"}, "--read: \"0\": CV muss zwischen 1"},
      {"read_257", {"--read", "257a", "sim:%/r"}, "--read: \"257a\": CV muss zwischen 1"},
      {"read_descending", {"--read", "5a-3a", "sim:%/r"}, "\"5a-3a\": Anfang gr"},
      {"read_letter", {"--read", "x", "sim:%/r"}, "\"x\": keine CV-Nummer"},
      {"read_empty", {"--read", "", "sim:%/r"}, "\"\": keine CV genannt"},
      {"read_trailing_comma", {"--read", "7,", "sim:%/r"}, "\"7,\": leerer Eintrag"},
      {"read_no_list", {"--read"}, "CV-Liste fehlt nach: --read"},
      {"read_no_port", {"--read", "7"}, "Schnittstelle fehlt: tarvel --read LISTE comx"},
      {"read_two_ports", {"--read", "7", "sim:%/r", "x"}, "zu viele Argumente"},
      {"write_256", {"--write", "7=256", "sim:%/r"}, "\"7=256\": Wert muss zwischen 0 und 255"},
      {"write_minus_one",
       {"--write", "7=1,8=-1", "sim:%/r"},
       "\"8=-1\": Wert muss zwischen 0 und 255"},
      {"write_no_equals", {"--write", "7", "sim:%/r"}, "\"7\": kein '='"},
      {"write_no_value", {"--write", "7=", "sim:%/r"}, "\"7=\": kein Wert"},
      {"write_no_cv", {"--write", "=7", "sim:%/r"}, "\"=7\": keine CV-Nummer"},
      {"write_cv_257", {"--write", "257=7", "sim:%/r"}, "\"257=7\": CV muss zwischen 1"},
      {"write_binary",
       {"--write", "7=b101", "sim:%/r"},
       "\"7=b101\": der Wert ist eine Dezimalzahl"},
      {"write_range", {"--write", "1-3=7", "sim:%/r"}, "\"1-3=7\": eine CV-Nummer sind Ziffern"},
      // Two values for one CV: which was meant? Refused, not the last taken.
      {"write_twice", {"--write", "7=1,7a=2,7=3", "sim:%/r"}, "\"7=3\": CV zweimal genannt"},
      {"write_trailing_comma", {"--write", "7=1,", "sim:%/r"}, "\"7=1,\": leerer Eintrag"},
      {"write_no_list", {"sim:%/r", "--write"}, "CV-Liste fehlt nach: --write"},
      {"write_no_port", {"--write", "7=1"}, "Schnittstelle fehlt: tarvel [--verify] --write"},
      {"read_and_write", {"--read", "1", "--write", "1=2", "sim:%/r"}, "nur ein Auftrag: --write"},
      {"read_twice", {"--read", "1", "--read", "2", "sim:%/r"}, "nur ein Auftrag: --read"},
      {"read_and_read_out", {out, "%/a.txt", "--read", "1", "sim:%/r"}, "nur ein Auftrag: --read"},
      {"write_and_program",
       {"--write", "1=2", "--program", "%/a.txt", "sim:%/r"},
       "nur ein Auftrag: --program"},
      {"force_with_read",
       {"--force", "--read", "1", "sim:%/r"},
       "nur mit --read-out oder --backup: --force"},
      {"force_with_write",
       {"--write", "1=2", "--force", "sim:%/r"},
       "nur mit --read-out oder --backup: --force"},
      {"verify_with_read", {"--verify", "--read", "1", "sim:%/r"}, "nicht mit --read: --verify"},
      {"check_with_write",
       {"--check", "--write", "1=2", "sim:%/r"},
       "nur mit --program oder --compare: --check"},
      {"backup_with_write",
       {"--write", "1=2", "--backup", "%/old.txt", "sim:%/r"},
       "nur mit --program: --backup"},
      {"line_test_with_read",
       {"--line-test", "--read", "1", "sim:%/r"},
       "nicht zusammen mit einem Auftrag: --line-test"},
  };
}

class RefusedCvList : public TarvelJob, public ::testing::WithParamInterface<RefusedCase> {};

TEST_P(RefusedCvList, EndsWithUsageAndNamesWhatIsWrong) {
  const RefusedCase &c = GetParam();
  ProgramRun r = run(c.args);
  EXPECT_EQ(r.code, 9) << r.out << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err.rfind("tarvel: ", 0), 0u) << r.err;
  EXPECT_NE(r.err.find(c.said), std::string::npos) << r.err;
  EXPECT_EQ(count_of(r.err, "\n"), 1) << r.err;
  EXPECT_FALSE(fs::exists(dir + "/r")) << "the port is never touched";
  EXPECT_FALSE(fs::exists(dir + "/a.txt"));
}

INSTANTIATE_TEST_SUITE_P(Cases, RefusedCvList, ::testing::ValuesIn(refused_cases()),
                         [](const testing::TestParamInfo<RefusedCase> &info) {
                           return std::string(info.param.name);
                         });

// Each (bank, CV number) the job read or wrote, in order, from the wire: the
// commands with opcode, without the line's checks (at CV 1) and a verify's
// complement.
std::vector<std::string> addressed(const std::vector<std::vector<int>> &commands, int opcode) {
  std::vector<std::string> found;
  for (size_t i = 0; i < commands.size(); i++) {
    const std::vector<int> &c = commands[i];
    if (c[3] != opcode || (c[0] == 0 && c[1] == 0)) continue;
    if (opcode == CMD_VERIFY && i > 0 && commands[i - 1][3] == CMD_VERIFY) continue;
    found.push_back(std::to_string(c[1] + 1) + (c[0] ? "a" : "") +
                    (opcode == CMD_WRITE ? "=" + std::to_string(c[2]) : ""));
  }
  return found;
}

// A new receiver holds normal CV n = n - 1, alternative CV n = 255 - (n - 1).
TEST_F(TarvelJob, AReadOutOfEveryCvIsTheReceiversWholeState) {
  ProgramRun r = run({"-q", "--read-out", "%/all.txt", "--cvs", "1-256,1a-256a", "sim:%/r"});
  ASSERT_EQ(r.code, 0) << r.out << r.err;
  EXPECT_EQ(read_text(dir + "/all.txt"), receiver_cvs());
  EXPECT_EQ(count_of(read_text(dir + "/all.txt"), "\n"), 512);
}

TEST_F(TarvelJob, AReadOutOfAListReadsEachCvOnceInTheListsOrder) {
  ProgramRun r = run({"--read-out", "%/some.txt", "--cvs", "200a-202a,3,201a,5,3", "sim:%/r"});
  ASSERT_EQ(r.code, 0) << r.out << r.err;
  EXPECT_EQ(read_text(dir + "/some.txt"),
            "CV 200a =  56 (b0011 1000)\n"
            "CV 201a =  55 (b0011 0111)\n"
            "CV 202a =  54 (b0011 0110)\n"
            "CV   3  =   2 (b0000 0010)\n"
            "CV   5  =   4 (b0000 0100)\n");
  EXPECT_EQ(addressed(commands(), CMD_VERIFY),
            (std::vector<std::string>{"200a", "201a", "202a", "3", "5"}));
}

// With -q, standard output is the CVs' lines and nothing else: what a script
// reads; without, the banner and the summary frame them.
TEST_F(TarvelJob, AQuietReadPrintsJustTheCvLines) {
  ProgramRun r = run({"-q", "--read", "3,1a,256a,3", "sim:%/r"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out,
            "CV   3  =   2 (b0000 0010)\n"
            "CV   1a = 255 (b1111 1111)\n"
            "CV 256a =   0 (b0000 0000)\n");
  EXPECT_EQ(r.err, "");
  EXPECT_TRUE(ends_with_quit());
  r = run({"--read", "3", "sim:%/r"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find("CVs Lesen und schreiben"), std::string::npos);
  EXPECT_NE(r.out.find("\nCV   3  =   2 (b0000 0010)\ntarvel --read 3: 1 von 1 CVs gelesen"),
            std::string::npos)
      << r.out;
}

// --read and --write are jobs: keys typed on the terminal are not read, and
// the terminal's settings stay as they were.
TEST_F(TarvelJob, ReadAndWriteLeaveTheTerminalAlone) {
  for (const std::vector<std::string> &args :
       {std::vector<std::string>{"-q", "--read", "1-256", "sim:%/r"},
        std::vector<std::string>{"-q", "--write", "3=9,4=9", "sim:%/r"}}) {
    PtyPair pty;
    ASSERT_GE(pty.master, 0);
    int slave = open(pty.slave.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(slave, 0);
    struct termios before, after;
    ASSERT_EQ(tcgetattr(slave, &before), 0);
    ASSERT_TRUE(write_all(pty.master, (const unsigned char *)"\033\033q\033", 4));
    ProgramRun r = run_job(TARVEL_PATH, args, dir, -1, slave);
    ASSERT_EQ(tcgetattr(slave, &after), 0);
    close(slave);
    pty.close_master();
    EXPECT_EQ(r.code, 0) << args[1] << r.out << r.err;
    EXPECT_EQ(before.c_iflag, after.c_iflag) << args[1];
    EXPECT_EQ(before.c_oflag, after.c_oflag) << args[1];
    EXPECT_EQ(before.c_cflag, after.c_cflag) << args[1];
    EXPECT_EQ(before.c_lflag, after.c_lflag) << args[1];
    EXPECT_EQ(memcmp(before.c_cc, after.c_cc, sizeof before.c_cc), 0) << args[1];
    EXPECT_EQ(count_of(r.out, "\n"), args[1] == "--read" ? 256 : 0) << r.out;
  }
}

// A line that does not serve is named on standard error; standard output
// stays empty, the exit code says it.
TEST_F(TarvelJob, AQuietReadOnALineThatDoesNotServePrintsNoCvLine) {
  ProgramRun r = run({"-q", "--read", "3", "sim:%/r?absent"});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("DSR bleibt aus"), std::string::npos) << r.err;
}

TEST_F(TarvelJob, WrittenValuesAreInTheReceiverAndReadBack) {
  std::string before = run({"-q", "--read", "1-256,1a-256a", "sim:%/r"}).out;
  ASSERT_EQ(before, receiver_cvs());
  ProgramRun r = run({"-q", "--verify", "--write", "7=12,256a=0,4=255,2a=000", "sim:%/r"});
  EXPECT_EQ(r.code, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "") << "a quiet write says nothing when all went well";
  EXPECT_EQ(addressed(commands(), CMD_WRITE),
            (std::vector<std::string>{"7=12", "256a=0", "4=255", "2a=0"}));
  std::string after = before;
  for (const auto &change : std::vector<std::pair<std::string, std::string>>{
           {"CV   7  =   6 (b0000 0110)", "CV   7  =  12 (b0000 1100)"},
           {"CV   4  =   3 (b0000 0011)", "CV   4  = 255 (b1111 1111)"},
           {"CV   2a = 254 (b1111 1110)", "CV   2a =   0 (b0000 0000)"}}) {
    size_t at = after.find(change.first);
    ASSERT_NE(at, std::string::npos) << change.first;
    after.replace(at, change.first.size(), change.second);
  }
  EXPECT_EQ(receiver_cvs(), after) << "the written CVs changed, nothing else";
  r = run({"-q", "--read", "7,256a,4,2a", "sim:%/r"});
  EXPECT_EQ(r.out,
            "CV   7  =  12 (b0000 1100)\n"
            "CV 256a =   0 (b0000 0000)\n"
            "CV   4  = 255 (b1111 1111)\n"
            "CV   2a =   0 (b0000 0000)\n");
}

// fail=5: the fifth verify is not confirmed, the one after the second write
// (the line's check makes three).
TEST_F(TarvelJob, AWriteThatIsNotConfirmedIsNamedAndEndsWithOne) {
  ProgramRun r = run({"--verify", "--write", "9=10,2a=20,256=255,7=0", "sim:%/r?fail=5"});
  EXPECT_EQ(r.code, 1) << r.out << r.err;
  EXPECT_EQ(count_of(r.out, "nicht best\xC3\xA4tigt!"), 1) << r.out;
  EXPECT_NE(r.out.find("\nCV   2a =  20 nicht best\xC3\xA4tigt!\n"), std::string::npos) << r.out;
  EXPECT_EQ(addressed(commands(), CMD_WRITE),
            (std::vector<std::string>{"9=10", "2a=20", "256=255", "7=0"}));
  EXPECT_TRUE(ends_with_quit());
}

}  // namespace
