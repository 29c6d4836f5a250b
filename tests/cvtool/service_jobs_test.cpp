// --compare, --program with --backup, and --check, from the outside: the built
// tarvel on the virtual receiver and the virtual clock, checked on its exit
// code, its summary, the files it leaves and what went over the wire.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "link/receiver_protocol.h"
#include "tests/support/wire_log.h"
#include "tests/support/files.h"
#include "tests/support/program_run.h"
#include "tests/support/temp_dir_fixture.h"

namespace {

namespace fs = std::filesystem;

// The last line of the output.
std::string last_line(const std::string &out) {
  size_t end = out.size();
  if (end > 0 && out[end - 1] == '\n') end--;
  size_t start = out.rfind('\n', end == 0 ? 0 : end - 1);
  return out.substr(start == std::string::npos ? 0 : start + 1, end - (start + 1));
}

class ServiceJobs : public TempDirFixture {
 protected:
  ServiceJobs() : TempDirFixture("tarvel_service") {}
  ProgramRun run(const std::vector<std::string> &args) {
    return run_program(TARVEL_PATH, with_dir(args, dir), dir);
  }
  void write(const std::string &name, const std::string &text) {
    write_text(dir + "/" + name, text);
  }
  std::string receiver_cvs() { return read_text(dir + "/r/cvs.txt"); }
  // The opcodes of the commands after the wake sequence and the line's check,
  // without the quit bytes.
  std::vector<int> opcodes() {
    std::vector<int> bytes = sent_bytes(read_wire_log(dir + "/r/wire.log"));
    size_t at = 0;
    while (at + 1 < bytes.size() && !(bytes[at] == 0xFE && bytes[at + 1] == 0x55)) at++;
    at += 2;
    at += line_check_length(bytes, at);
    size_t end = bytes.size();
    while (end > at && bytes[end - 1] == CMD_QUIT) end--;
    std::vector<int> found;
    for (; at + 4 <= end; at += 4) found.push_back(bytes[at + 3]);
    return found;
  }
  int writes() { return count_of_opcode(CMD_WRITE); }
  int verifies() { return count_of_opcode(CMD_VERIFY); }
  int count_of_opcode(int opcode) {
    int n = 0;
    for (int o : opcodes()) n += o == opcode;
    return n;
  }
  // Nothing half-made is left in the folder.
  void expect_no_leftovers() {
    for (const auto &entry : fs::directory_iterator(dir)) {
      std::string name = entry.path().filename().string();
      EXPECT_NE(name.rfind(".neu-", 0), 0u) << name;
      EXPECT_EQ(name.find(".teil"), std::string::npos) << name;
    }
  }
};

// A new receiver holds normal CV n = n - 1 and alternative CV n = 255 - (n - 1).
const char FACTORY_FILE[] = "CV 3 = 2\nCV 4a = 252\nCV 256 = 255\nCV 1a = b1111 1111\n";
const std::string DIFFER_TEXT =
    "CV   3 : Datei   7 (b0000 0111), Empf\xC3\xA4nger   2 (b0000 0010)\n";
const std::string DIFFER_ALT_TEXT =
    "CV   4a: Datei   0 (b0000 0000), Empf\xC3\xA4nger 252 (b1111 1100)\n";

// ---------------------------------------------------------------- --compare

struct CompareCase {
  const char *name;
  const char *file;     // text of %/cvs.txt
  const char *options;  // the receiver's options
  int code;
  const char *summary;    // the counts of the summary line, before " (Exit-Code N)"
  std::string listed;     // a text the output must hold, or ""
  int reads;              // reads made, retries included
  int complements = 0;    // verifies of a 255's complement, which must be refused
  const char *said = "";  // a text standard error must hold
};

std::vector<CompareCase> compare_cases() {
  return {
      {"equal", FACTORY_FILE, "", 0,
       "4 CVs verglichen, 4 gleich, 0 verschieden, 0 Lesefehler, 0 Zeilen ung\xC3\xBCltig", "", 4,
       2},
      {"different", "CV 3 = 7\nCV 4a = 0\nCV 5 = 4\n", "", 1,
       "3 CVs verglichen, 1 gleich, 2 verschieden, 0 Lesefehler, 0 Zeilen ung\xC3\xBCltig",
       DIFFER_TEXT + DIFFER_ALT_TEXT, 3},
      // Each CV once, against the value a programming run would leave: the last.
      {"duplicates", "CV 3 = 7\nCV 4a = 1\nCV 3 = 2\nCV 4A = 252\nCV 3=b10\n", "", 0,
       "2 CVs verglichen, 2 gleich, 0 verschieden, 0 Lesefehler, 0 Zeilen ung\xC3\xBCltig", "", 2},
      {"both_banks_of_one_number", "CV 5 = 4\nCV 5a = 251\n", "", 0,
       "2 CVs verglichen, 2 gleich, 0 verschieden, 0 Lesefehler, 0 Zeilen ung\xC3\xBCltig", "", 2},
      {"refused_lines", "CV 3 = 2\nCV 0 = 1\nkein Gleich\n", "", 2,
       "1 CVs verglichen, 1 gleich, 0 verschieden, 0 Lesefehler, 2 Zeilen ung\xC3\xBCltig",
       "Zeile 2: CV 0 = 1: ung\xC3\xBCltige zeile: CV muss zwischen 1 und 256 liegen\n", 1},
      {"different_outweighs_refused", "CV 3 = 7\nCV 300 = 1\n", "", 1,
       "1 CVs verglichen, 0 gleich, 1 verschieden, 0 Lesefehler, 1 Zeilen ung\xC3\xBCltig",
       DIFFER_TEXT, 1},
      // The line's check finds no answer: nothing is read at all.
      {"no_receiver", "CV 3 = 2\nCV 4a = 252\n", "?absent", 1,
       "0 CVs verglichen, 0 gleich, 0 verschieden, 0 Lesefehler, 0 Zeilen ung\xC3\xBCltig, "
       "Leitung unbrauchbar",
       "", 0, 0, "Der Empf\xC3\xA4nger antwortet nicht"},
      // A receiver that confirms nothing looks like none on the line.
      {"never_confirmed", "CV 3 = 2\nCV 4a = 252\n", "?fail=1", 1,
       "0 CVs verglichen, 0 gleich, 0 verschieden, 0 Lesefehler, 0 Zeilen ung\xC3\xBCltig, "
       "Leitung unbrauchbar",
       "", 0, 0, "Der Empf\xC3\xA4nger antwortet nicht"},
      // Every second verify fails: each CV is read on its second try.
      {"read_on_a_retry", "CV 3 = 2\nCV 4a = 252\nCV 5 = 9\n", "?fail=2", 1,
       "3 CVs verglichen, 2 gleich, 1 verschieden, 0 Lesefehler, 0 Zeilen ung\xC3\xBCltig", "", 6},
      // A blank line is no refused line.
      {"no_cv_line", "CV 0 = 1\n\n", "", 3,
       "0 CVs verglichen, 0 gleich, 0 verschieden, 0 Lesefehler, 1 Zeilen ung\xC3\xBCltig, keine "
       "CV-Zeile",
       "", 0},
      // The adapter is pulled in the second CV's questions.
      // (14 bytes of the wake, 160 of the line's check, 36 of the first CV.)
      {"port_fails", "CV 3 = 2\nCV 4a = 252\nCV 5 = 4\n", "?unplug=230", 4,
       "1 CVs verglichen, 1 gleich, 0 verschieden, 0 Lesefehler, 0 Zeilen ung\xC3\xBCltig, "
       "Schnittstelle ausgefallen",
       "Schreibfehler:", 1},
  };
}

class Compare : public ServiceJobs, public ::testing::WithParamInterface<CompareCase> {};

TEST_P(Compare, ReadsEachCvOnceWritesNothingAndSaysWhatDiffers) {
  const CompareCase &c = GetParam();
  write("cvs.txt", c.file);
  ProgramRun r = run({"--compare", "%/cvs.txt", std::string("sim:%/r") + c.options});
  EXPECT_EQ(r.code, c.code) << r.out << r.err;
  std::string out = r.out;
  size_t report = out.find("Readfile: ");  // the reader thread's word on a pulled adapter
  if (report != std::string::npos && c.code == 4) out = out.substr(0, report);
  EXPECT_NE(out.find("tarvel --compare " + dir + "/cvs.txt: " + c.summary + " (Exit-Code " +
                     std::to_string(c.code) + ")\n"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find(c.listed), std::string::npos) << r.out;
  EXPECT_EQ(writes(), 0) << "a compare writes nothing";
  EXPECT_NE(r.err.find(c.said), std::string::npos) << r.err;
  EXPECT_EQ(verifies(), c.reads + c.complements);
  // A pulled adapter cuts the read it falls into.
  if (c.code != 4) {
    EXPECT_EQ(count_of_opcode(CMD_QUERY_BIT), 8 * c.reads);
  }
  EXPECT_EQ(count_of(r.out, "Kommandos"), 0) << "no menu in a job";
}

INSTANTIATE_TEST_SUITE_P(Cases, Compare, ::testing::ValuesIn(compare_cases()),
                         [](const testing::TestParamInfo<CompareCase> &info) {
                           return std::string(info.param.name);
                         });

TEST_F(ServiceJobs, CompareAfterProgrammingFindsEveryCvAsProgrammed) {
  write("cvs.txt", "CV 3 = 7\nCV 4a = 0\nCV 256a = 128\nCV 3 = 9\n");
  ASSERT_EQ(run({"--program", "%/cvs.txt", "sim:%/r"}).code, 0);
  ProgramRun r = run({"--compare", "%/cvs.txt", "sim:%/r"});
  EXPECT_EQ(r.code, 0) << r.out;
  EXPECT_NE(r.out.find("3 CVs verglichen, 3 gleich, 0 verschieden"), std::string::npos) << r.out;
}

// ---------------------------------------------------------------- --backup

const char CHANGES[] = "CV 3 = 7\nCV 4a = b0000 0001\nCV 300 = 5\nCV 3 = 9\nCV 17 = 200\n";

TEST_F(ServiceJobs, BackUpProgramAndRestoreGivesBackTheReceiverByteForByte) {
  for (bool verify : {false, true}) {
    SCOPED_TRACE(verify ? "--verify" : "without --verify");
    fs::remove_all(dir + "/r");
    fs::remove(dir + "/old.txt");
    write("cvs.txt", CHANGES);
    // A first compare makes the receiver and shows it unchanged so far.
    ASSERT_EQ(run({"--compare", "%/cvs.txt", "sim:%/r"}).code, 1);
    std::string before = receiver_cvs();
    ASSERT_FALSE(before.empty());
    fs::remove(dir + "/r/wire.log");  // appended by every run: the programming run's alone
    std::vector<std::string> args = {"--program", "%/cvs.txt", "--backup", "%/old.txt", "sim:%/r"};
    if (verify) args.insert(args.begin(), "--verify");
    ProgramRun r = run(args);
    EXPECT_EQ(r.code, 2) << r.out << r.err;
    EXPECT_EQ(last_line(r.out),
              "tarvel --program " + dir + "/cvs.txt: 4 CVs geschrieben" +
                  (verify ? ", 4 best\xC3\xA4tigt, 0 nicht best\xC3\xA4tigt" : "") +
                  ", 1 Zeilen ung\xC3\xBCltig, 3 CVs gesichert in " + dir +
                  "/old.txt (Exit-Code 2)");
    // The old values, each CV once, in the read-out's lines.
    EXPECT_EQ(
        read_text(dir + "/old.txt"),
        "CV   3  =   2 (b0000 0010)\nCV   4a = 252 (b1111 1100)\nCV  17  =  16 (b0001 0000)\n");
    EXPECT_NE(receiver_cvs(), before);
    EXPECT_NE(receiver_cvs().find("CV   3  =   9 (b0000 1001)"), std::string::npos);
    // Three reads, all before the first write.
    std::vector<int> sent = opcodes();
    ASSERT_GE(sent.size(), 27u);
    for (size_t i = 0; i < 27; i++) EXPECT_NE(sent[i], CMD_WRITE) << i;
    EXPECT_EQ(writes(), 4);
    ProgramRun restore = run({"--program", "%/old.txt", "sim:%/r"});
    EXPECT_EQ(restore.code, 0) << restore.out;
    EXPECT_EQ(receiver_cvs(), before);
    expect_no_leftovers();
  }
}

struct BackupCase {
  const char *name;
  std::vector<std::string> args;
  const char *old;  // text of %/old.txt before the run, or null
  int code;
  const char *summary;  // the last line of standard output ("" for none)
  const char *err;      // a part of standard error, or ""
  bool port_used;
};

const std::string PROGRAM_LINE = "tarvel --program %/cvs.txt: ";

std::vector<BackupCase> backup_cases() {
  return {
      // The line's check finds no receiver before the backup's first read.
      {"no_receiver",
       {"--program", "%/cvs.txt", "--backup", "%/old.txt", "sim:%/r?absent"},
       nullptr,
       1,
       "tarvel --program %/cvs.txt: 0 CVs geschrieben, Leitung unbrauchbar (Exit-Code 1)",
       "Der Empf\xC3\xA4nger antwortet nicht",
       true},
      {"never_confirmed_with_verify",
       {"--verify", "--program", "%/cvs.txt", "--backup", "%/old.txt", "sim:%/r?fail=1"},
       nullptr,
       1,
       "tarvel --program %/cvs.txt: 0 CVs geschrieben, 0 best\xC3\xA4tigt, 0 nicht "
       "best\xC3\xA4tigt, Leitung unbrauchbar (Exit-Code 1)",
       "",
       true},
      {"old_kept_when_the_backup_fails",
       {"--force", "--program", "%/cvs.txt", "--backup", "%/old.txt", "sim:%/r?absent"},
       "alt\n",
       1,
       "tarvel --program %/cvs.txt: 0 CVs geschrieben, Leitung unbrauchbar (Exit-Code 1)",
       "",
       true},
      // Pulled in the second CV's questions (14 bytes of the wake, 160 of the
      // line's check, 36 of the first CV): nothing written, nothing saved.
      {"port_fails_in_the_backup",
       {"--program", "%/cvs.txt", "--backup", "%/old.txt", "sim:%/r?unplug=230"},
       nullptr,
       4,
       "",
       "",
       true},
      {"old_exists",
       {"--program", "%/cvs.txt", "--backup", "%/old.txt", "sim:%/r"},
       "alt\n",
       3,
       "",
       "old.txt: existiert bereits (--force \xC3\xBC"
       "berschreibt)",
       false},
      {"old_replaced_with_force",
       {"--program", "%/cvs.txt", "--force", "--backup", "%/old.txt", "sim:%/r"},
       "alt\n",
       2,
       "tarvel --program %/cvs.txt: 4 CVs geschrieben, 1 Zeilen ung\xC3\xBCltig, 3 CVs gesichert "
       "in %/old.txt (Exit-Code 2)",
       "",
       true},
      {"old_is_the_file",
       {"--force", "--program", "%/cvs.txt", "--backup", "%/./cvs.txt", "sim:%/r"},
       nullptr,
       3,
       "",
       "ist die Datei von --program",
       false},
      {"old_is_a_folder",
       {"--force", "--program", "%/cvs.txt", "--backup", "%", "sim:%/r"},
       nullptr,
       3,
       "",
       "Is a directory",
       false},
      {"old_in_a_missing_folder",
       {"--program", "%/cvs.txt", "--backup", "%/none/old.txt", "sim:%/r"},
       nullptr,
       3,
       "",
       "No such file or directory",
       false},
      {"old_is_a_device",
       {"--force", "--program", "%/cvs.txt", "--backup", "/dev/null", "sim:%/r"},
       nullptr,
       3,
       "",
       "Not a regular file",
       false},
      {"nothing_to_back_up",
       {"--program", "%/empty.txt", "--backup", "%/old.txt", "sim:%/r"},
       nullptr,
       3,
       "tarvel --program %/empty.txt: 0 CVs geschrieben, 0 Zeilen ung\xC3\xBCltig, nichts zu "
       "sichern, keine CV-Zeile (Exit-Code 3)",
       "",
       true},
      {"backup_without_program",
       {"--compare", "%/cvs.txt", "--backup", "%/old.txt", "sim:%/r"},
       nullptr,
       9,
       "",
       "nur mit --program: --backup",
       false},
      {"backup_twice",
       {"--program", "%/cvs.txt", "--backup", "%/a.txt", "--backup", "%/old.txt", "sim:%/r"},
       nullptr,
       9,
       "",
       "nur eine Sicherung",
       false},
      {"backup_without_name",
       {"--program", "%/cvs.txt", "sim:%/r", "--backup"},
       nullptr,
       9,
       "",
       "Dateiname fehlt nach: --backup",
       false},
      {"force_with_compare",
       {"--force", "--compare", "%/cvs.txt", "sim:%/r"},
       nullptr,
       9,
       "",
       "nur mit --read-out oder --backup: --force",
       false},
      {"compare_and_program",
       {"--compare", "%/cvs.txt", "--program", "%/cvs.txt", "sim:%/r"},
       nullptr,
       9,
       "",
       "nur ein Auftrag",
       false},
      {"compare_without_port",
       {"--compare", "%/cvs.txt"},
       nullptr,
       9,
       "",
       "Schnittstelle fehlt: tarvel --compare DATEI comx",
       false},
      {"compare_missing_file",
       {"--compare", "%/none.txt", "sim:%/r"},
       nullptr,
       3,
       "",
       "none.txt: No such file or directory",
       false},
  };
}

class Backup : public ServiceJobs, public ::testing::WithParamInterface<BackupCase> {};

TEST_P(Backup, WritesNothingUnlessTheBackupIsComplete) {
  const BackupCase &c = GetParam();
  write("cvs.txt", CHANGES);
  write("empty.txt", "");
  if (c.old != nullptr) write("old.txt", c.old);
  ProgramRun r = run(c.args);
  EXPECT_EQ(r.code, c.code) << r.out << r.err;
  std::string summary = with_dir(c.summary, dir);
  if (!summary.empty()) {
    EXPECT_EQ(last_line(r.out), summary) << r.out;
  }
  EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
  EXPECT_EQ(fs::exists(dir + "/r"), c.port_used);
  bool complete = c.code == 2;
  if (c.port_used && !complete) {
    EXPECT_EQ(writes(), 0) << "written without a backup";
  }
  if (!complete) {
    // OLD stays as it was, or is not made.
    if (c.old != nullptr) {
      EXPECT_EQ(read_text(dir + "/old.txt"), c.old);
    } else {
      EXPECT_FALSE(fs::exists(dir + "/old.txt"));
    }
  }
  expect_no_leftovers();
}

INSTANTIATE_TEST_SUITE_P(Cases, Backup, ::testing::ValuesIn(backup_cases()),
                         [](const testing::TestParamInfo<BackupCase> &info) {
                           return std::string(info.param.name);
                         });

// ---------------------------------------------------------------- --check

struct CheckCase {
  const char *name;
  std::vector<std::string> args;
  int code;
  const char *summary;  // the last line, or "" when there is none
  std::string listed;   // a text the output must hold
};

std::vector<CheckCase> check_cases() {
  const std::string written =
      "CV   3  =   7 (b0000 0111)\nCV   4a =   1 (b0000 0001)\n"
      "Zeile 3: CV 300 = 5: ung\xC3\xBCltige zeile: CV muss zwischen 1 und 256 liegen\n"
      "CV   3  =   9 (b0000 1001)\nCV  17  = 200 (b1100 1000)\n";
  return {
      {"program_port_ignored",
       {"--check", "--program", "%/cvs.txt", "sim:%/r"},
       2,
       "tarvel --check --program %/cvs.txt: 4 CVs zu schreiben, 1 Zeilen ung\xC3\xBCltig, Dauer "
       "5.3 s (Exit-Code 2)",
       written},
      {"program_missing_device",
       {"--check", "--program", "%/cvs.txt", "%/no-such-tty"},
       2,
       "tarvel --check --program %/cvs.txt: 4 CVs zu schreiben, 1 Zeilen ung\xC3\xBCltig, Dauer "
       "5.3 s (Exit-Code 2)",
       written},
      {"program_no_port",
       {"--program", "%/good.txt", "--check"},
       0,
       "tarvel --check --program %/good.txt: 2 CVs zu schreiben, 0 Zeilen ung\xC3\xBCltig, Dauer "
       "5.2 s (Exit-Code 0)",
       "CV   5  =   1 (b0000 0001)\nCV 256a = 255 (b1111 1111)\n"},
      {"program_with_backup",
       {"--check", "--program", "%/cvs.txt", "--backup", "%/old.txt", "COM1"},
       2,
       "tarvel --check --program %/cvs.txt: 4 CVs zu schreiben, 3 zu sichern, 1 Zeilen "
       "ung\xC3\xBCltig, Dauer 5.4 s (Exit-Code 2)",
       "3 x Lesen je 45.375 ms, 4 x Schreiben je 11.042 ms"},
      {"program_with_verify",
       {"--check", "--verify", "--program", "%/good.txt"},
       0,
       "",
       "2 x Schreiben je 16.083 ms"},
      {"compare_each_cv_once",
       {"--check", "--compare", "%/cvs.txt", "%/no-such-tty"},
       2,
       "tarvel --check --compare %/cvs.txt: 3 CVs zu vergleichen, 1 Zeilen ung\xC3\xBCltig, Dauer "
       "5.3 s (Exit-Code 2)",
       "CV   3  =   9 (b0000 1001)\nCV   4a =   1 (b0000 0001)\nCV  17  = 200 (b1100 1000)\n"},
      {"no_cv_line",
       {"--check", "--program", "%/empty.txt", "sim:%/r"},
       3,
       "tarvel --check --program %/empty.txt: 0 CVs zu schreiben, 0 Zeilen ung\xC3\xBCltig, keine "
       "CV-Zeile (Exit-Code 3)",
       ""},
      {"missing_file", {"--check", "--compare", "%/none.txt", "sim:%/r"}, 3, "", ""},
      {"fifo", {"--check", "--program", "%/fifo", "sim:%/r"}, 3, "", ""},
      {"backup_exists", {"--check", "--program", "%/cvs.txt", "--backup", "%/good.txt"}, 3, "", ""},
      {"check_alone", {"--check", "sim:%/r"}, 9, "", ""},
      {"check_read_out", {"--check", "--read-out", "%/x.txt", "sim:%/r"}, 9, "", ""},
      {"two_ports", {"--check", "--program", "%/cvs.txt", "sim:%/r", "sim:%/r"}, 9, "", ""},
  };
}

class Check : public ServiceJobs, public ::testing::WithParamInterface<CheckCase> {};

TEST_P(Check, ListsTheJobAndItsLengthAndNeverTouchesAPort) {
  const CheckCase &c = GetParam();
  write("cvs.txt", CHANGES);
  write("good.txt", "CV 5 = 1\nCV 256a = 255\n");
  write("empty.txt", "");
  ASSERT_EQ(mkfifo((dir + "/fifo").c_str(), 0600), 0);
  auto start = std::chrono::steady_clock::now();
  ProgramRun r = run(c.args);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_EQ(r.code, c.code) << r.out << r.err;
  std::string summary = with_dir(c.summary, dir);
  if (!summary.empty()) {
    EXPECT_EQ(last_line(r.out), summary) << r.out;
  }
  EXPECT_NE(r.out.find(c.listed), std::string::npos) << r.out;
  if (c.code == 3 && summary.empty()) {
    EXPECT_NE(r.err, "");
  }
  EXPECT_FALSE(fs::exists(dir + "/r")) << "a receiver was opened";
  EXPECT_FALSE(fs::exists(dir + "/old.txt"));
  EXPECT_EQ(count_of(r.out, "Sekunden Reset"), 0);
  expect_no_leftovers();
}

INSTANTIATE_TEST_SUITE_P(Cases, Check, ::testing::ValuesIn(check_cases()),
                         [](const testing::TestParamInfo<CheckCase> &info) {
                           return std::string(info.param.name);
                         });

// The length a check names is what the job takes: the same job on the virtual
// clock ends with its last quit byte and the 20 ms after it.
TEST_F(ServiceJobs, TheLengthACheckNamesIsTheLengthOfTheJob) {
  write("cvs.txt", CHANGES);
  const std::vector<std::vector<std::string>> jobs = {
      {"--program", "%/cvs.txt"},
      {"--verify", "--program", "%/cvs.txt"},
      {"--program", "%/cvs.txt", "--backup", "%/old.txt"},
      {"--compare", "%/cvs.txt"},
  };
  const std::regex parts(
      "Reset, Wecken und Leitungstest ([0-9.]+) s, ([0-9]+) x Lesen je ([0-9.]+) ms, ([0-9]+) x "
      "Schreiben je "
      "([0-9.]+) ms, Beenden ([0-9.]+) ms");
  for (const std::vector<std::string> &job : jobs) {
    SCOPED_TRACE(job[0] + " " + job[1]);
    fs::remove_all(dir + "/r");
    fs::remove(dir + "/old.txt");
    std::vector<std::string> check = job;
    check.insert(check.begin(), "--check");
    ProgramRun checked = run(check);
    std::smatch m;
    ASSERT_TRUE(std::regex_search(checked.out, m, parts)) << checked.out;
    double estimate_ms = std::stod(m[1]) * 1000 + std::stoi(m[2]) * std::stod(m[3]) +
                         std::stoi(m[4]) * std::stod(m[5]) + std::stod(m[6]);
    std::vector<std::string> real = job;
    real.push_back("sim:%/r");
    ASSERT_EQ(run(real).code, job[0] == "--compare" ? 1 : 2);
    std::vector<WireEvent> events = only(read_wire_log(dir + "/r/wire.log"), "TX");
    ASSERT_FALSE(events.empty());
    double taken_ms = events.back().us / 1000.0 + 20;
    // The receiver model counts a byte as 260 us, not 260.4.
    EXPECT_NEAR(estimate_ms, taken_ms, 1.0) << checked.out;
  }
}

// ---------------------------------------------------------------- --line-test

struct LineTestCase {
  const char *name;
  std::vector<std::string> args;
  int code;
  const char *said;  // a text the output (standard output, then error) must hold
  bool port_used;
};

std::vector<LineTestCase> line_test_cases() {
  return {
      {"ideal",
       {"--line-test", "sim:%/r"},
       0,
       "Die Leitung taugt f\xC3\xBCr tarvel (Exit-Code 0)",
       true},
      {"ideal_says_its_pace",
       {"--line-test", "sim:%/r"},
       0,
       "Abfrage nach: 1,0 ms\n  Ein CV dauert etwa 45,3 ms",
       true},
      {"ticks_of_16_ms",
       {"--line-test", "sim:%/r?tick=16000,tickdelay=1000"},
       0,
       "Die Leitung taugt f\xC3\xBCr tarvel, aber langsam (Exit-Code 0)",
       true},
      {"ticks_name_the_latency_timer",
       {"--line-test", "sim:%/r?tick=16000"},
       0,
       "Latenz-Timer auf 1 ms stellen",
       true},
      {"stuck", {"--line-test", "sim:%/r?stuck"}, 1, "immer DSR", true},
      {"no_receiver", {"--line-test", "sim:%/r?absent"}, 1, "antwortet nicht", true},
      {"too_slow", {"--line-test", "sim:%/r?early=40000"}, 1, "innerhalb von 30 ms", true},
      // Pulled in the check: the port's failure, not the line's.
      {"port_fails",
       {"--line-test", "sim:%/r?unplug=100"},
       4,
       "Schnittstelle ausgefallen (Exit-Code 4)",
       true},
      {"no_port", {"--line-test"}, 9, "Schnittstelle fehlt: tarvel --line-test comx", false},
      {"with_a_job",
       {"--line-test", "--read-out", "%/x.txt", "sim:%/r"},
       9,
       "nicht zusammen mit einem Auftrag: --line-test",
       false},
      {"quiet", {"-q", "--line-test", "sim:%/r"}, 9, "--quiet", false},
  };
}

class LineTest : public ServiceJobs, public ::testing::WithParamInterface<LineTestCase> {};

// What a user runs first with new hardware: the verdict, in words and in the
// exit code, the receiver released, and nothing written to it.
TEST_P(LineTest, SaysWhetherTheLineServesAndWritesNothing) {
  const LineTestCase &c = GetParam();
  ProgramRun r = run(c.args);
  EXPECT_EQ(r.code, c.code) << r.out << r.err;
  EXPECT_NE((r.out + r.err).find(c.said), std::string::npos) << r.out << r.err;
  EXPECT_EQ(fs::exists(dir + "/r"), c.port_used);
  if (!c.port_used) return;
  EXPECT_EQ(writes(), 0) << "a line test writes no CV";
  EXPECT_EQ(receiver_cvs(), read_text(dir + "/r/cvs.txt"));
  if (c.code == 4) return;  // a pulled adapter takes no quit sequence
  std::vector<WireEvent> events = read_wire_log(dir + "/r/wire.log");
  ASSERT_FALSE(events.empty());
  std::vector<int> bytes = sent_bytes(events);
  ASSERT_GE(bytes.size(), 4u);
  EXPECT_EQ(std::vector<int>(bytes.end() - 4, bytes.end()), std::vector<int>(4, CMD_QUIT))
      << "the receiver is released";
}

INSTANTIATE_TEST_SUITE_P(Cases, LineTest, ::testing::ValuesIn(line_test_cases()),
                         [](const testing::TestParamInfo<LineTestCase> &info) {
                           return std::string(info.param.name);
                         });

}  // namespace
