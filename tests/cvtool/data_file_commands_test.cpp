// The data file commands against the virtual receiver, on the virtual clock:
// read-out (a), programming (p) and the data file selection before them, seen
// through the files they leave, the receiver's CVs and wire log, and what the
// user is shown.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "console/console.h"
#include "cvtool/binary_text.h"
#include "cvtool/cvtool.h"
#include "cvtool/line_ready.h"
#include "link/receiver_protocol.h"
#include "link/serial_port.h"
#include "platform/clock.h"
#include "platform/posix/console_posix.h"
#include "virtual_receiver/virtual_receiver.h"
#include "tests/link/link_test_support.h"
#include "tests/support/files.h"

namespace {

// The file a read-out of CVs holding these values writes.
std::string read_out_text(const int normal[257], const int alternative[257]) {
  std::string text;
  char line[64], binary[BINARY_TEXT_SIZE];
  for (int n = 1; n <= 199; n++) {
    binary_text(normal[n], binary);
    snprintf(line, sizeof line, "CV %3d  = %3d (b%s)\n", n, normal[n], binary);
    text += line;
    binary_text(alternative[n], binary);
    snprintf(line, sizeof line, "CV %3da = %3d (b%s)\n", n, alternative[n], binary);
    text += line;
  }
  return text;
}

int count_of(const std::string &text, const std::string &part) {
  int count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) count++;
  return count;
}

std::string factory_read_out(void) {
  int normal[257], alternative[257];
  for (int n = 1; n <= 256; n++) {
    normal[n] = n - 1;
    alternative[n] = 255 - (n - 1);
  }
  return read_out_text(normal, alternative);
}

class DataFileCommands : public testing::Test {
 protected:
  VirtualReceiver *vr = nullptr;
  std::string folder;
  size_t service_mark = 0;
  int keys[2] = {-1, -1};

  void SetUp() override {
    clock_use_virtual(true);
    ASSERT_EQ(0, pipe(keys));
    console_use_input_fd(keys[0]);
    console_setup(nullptr);
    while (key_waiting()) wait_key();
    folder = make_temp_dir("data_file_commands");
    ASSERT_FALSE(folder.empty());
    memset(data_file_name, 0, DATA_FILE_NAME_SIZE);
  }
  void TearDown() override {
    _fcloseall();  // as the menu does after each command
    disconnect();
    console_use_input_fd(STDIN_FILENO);
    close(keys[0]);
    close(keys[1]);
    std::string remove_folder = "rm -rf '" + folder + "'";
    EXPECT_EQ(0, system(remove_folder.c_str()));
  }

  // Opens the receiver as tarvel's start leaves it: woken into service mode
  // (an absent one stays running).
  void connect(const char *name, VrState woken = VR_SERVICE) {
    disconnect();
    vr = open_configured_port(name);
    ASSERT_NE(vr, nullptr) << name;
    // The line is checked before the first read of a run; here up front, so
    // that each test sees its own commands only.
    run_capturing([] {
      reset_receiver(2000);
      line_ready();
    });
    service_mark = vr_trace(vr).size();
    ASSERT_EQ(vr_state(vr), woken);
  }
  // The names in the test's folder, sorted, one a line: what a read-out left
  // (the capture of the output aside).
  std::string files_in_folder() {
    std::set<std::string> sorted;
    for (const auto &entry : std::filesystem::directory_iterator(folder)) {
      if (entry.path().filename() != "printed") sorted.insert(entry.path().filename().string());
    }
    std::string names;
    for (const std::string &name : sorted) names += name + "\n";
    return names;
  }
  void disconnect() {
    if (vr != nullptr) {
      EXPECT_EQ(vr_error_count(vr), 0) << vr_trace(vr);
    }
    vr = nullptr;
    if (port_handle != INVALID_HANDLE_VALUE && port_handle != nullptr) CloseHandle(port_handle);
    port_handle = INVALID_HANDLE_VALUE;
  }

  void type(const std::string &bytes) {
    ASSERT_EQ((ssize_t)bytes.size(), write(keys[1], bytes.data(), bytes.size()));
  }
  void name_file(const std::string &name) {
    snprintf(data_file_name, DATA_FILE_NAME_SIZE, "%s/%s", folder.c_str(), name.c_str());
  }
  // The commands sent since the receiver entered service mode with this opcode
  // (every command is four bytes: bank, index, data, opcode).
  int commands_sent(int opcode) {
    std::istringstream lines(vr_trace(vr).substr(service_mark));
    std::string line;
    int position = 0, count = 0;
    while (std::getline(lines, line)) {
      size_t at = line.find(" TX ");
      if (at == std::string::npos) continue;
      if (++position % 4 == 0) count += strtol(line.c_str() + at + 4, nullptr, 16) == opcode;
    }
    return count;
  }

  // Runs command with standard output and error going to a file; returns what
  // it printed (UTF-8, as the terminal gets it).
  template <typename Command>
  std::string run_capturing(Command command) {
    std::string name = folder + "/printed";
    int capture = open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int saved_out = dup(1), saved_err = dup(2);
    dup2(capture, 1);
    dup2(capture, 2);
    command();
    dup2(saved_out, 1);
    dup2(saved_err, 2);
    close(saved_out);
    close(saved_err);
    close(capture);
    return read_text(name);
  }
};

// ---------------------------------------------------------------- read-out

TEST_F(DataFileCommands, ReadOutOfFreshReceiverGivesFactoryValues) {
  connect("sim:");
  name_file("cvs.txt");
  std::string shown = run_capturing(read_out_cvs);
  EXPECT_EQ(read_text(data_file_name), factory_read_out());
  EXPECT_NE(shown.find("\nAbbruch mit ESC\n"), std::string::npos) << shown;
  // The console shows every CV as a progress line, alternative ones with their
  // "a", as the file names them.
  EXPECT_NE(shown.find("CV  17  =  16 (b0001 0000)\rCV  17a = 239 (b1110 1111)\r"),
            std::string::npos);
  EXPECT_EQ(std::string(data_file_name), folder + "/cvs.txt") << "the name stays for a later p";
  // One verified read per CV, and CV 1a's 255 with its complement refused.
  EXPECT_EQ(commands_sent(CMD_VERIFY), 398 + 1);
}

TEST_F(DataFileCommands, ReadOutFileProgramsAnotherReceiverAlike) {
  connect("sim:");
  VirtualReceiver *source = vr;
  int normal[257], alternative[257];
  for (int n = 1; n <= 256; n++) {
    normal[n] = (n * 37 + 11) % 256;
    alternative[n] = (n * 101 + 3) % 256;
    vr_set_cv(source, 0, n, normal[n]);
    vr_set_cv(source, 1, n, alternative[n]);
  }
  name_file("cvs.txt");
  run_capturing(read_out_cvs);
  ASSERT_EQ(read_text(data_file_name), read_out_text(normal, alternative));

  connect("sim:");
  ASSERT_NE(vr, source);
  std::string shown = run_capturing(program_cvs);
  EXPECT_EQ(shown.find("ung"), std::string::npos) << shown;
  for (int n = 1; n <= 256; n++) {
    // CVs 200 to 256 are not in the file: they keep their factory values.
    EXPECT_EQ(vr_cv(vr, 0, n), n <= 199 ? normal[n] : n - 1) << n;
    EXPECT_EQ(vr_cv(vr, 1, n), n <= 199 ? alternative[n] : 255 - (n - 1)) << n << "a";
  }
  EXPECT_EQ(commands_sent(CMD_WRITE), 398);
  EXPECT_EQ(commands_sent(CMD_VERIFY), 0) << "programming reads nothing back";
}

TEST_F(DataFileCommands, ReadOutRetriesFailedVerifies) {
  connect("sim:?fail=2");
  name_file("cvs.txt");
  run_capturing(read_out_cvs);
  EXPECT_EQ(read_text(data_file_name), factory_read_out());
  EXPECT_GT(commands_sent(CMD_VERIFY), 398 + 100) << "failed verifies were retried";
}

// An absent receiver answers no read: the line's check finds it, the read-out
// stops at once instead of trying every CV five times, and replaces no file
// and keeps nothing.
TEST_F(DataFileCommands, ReadOutOfAbsentReceiverStopsAtOnceAndLeavesTheFileAlone) {
  connect("sim:?absent", VR_RUNNING);
  name_file("cvs.txt");
  write_text(data_file_name, "CV 1 = 7\n");
  type("j");
  std::string shown = run_capturing(read_out_cvs);
  EXPECT_EQ(read_text(data_file_name), "CV 1 = 7\n");
  EXPECT_EQ(files_in_folder(), "cvs.txt\n") << "no new file, no kept lines";
  EXPECT_EQ(shown.find("Lesefehler"), std::string::npos) << shown;
  EXPECT_NE(shown.find(folder + "/cvs.txt ist unver\xC3\xA4ndert.\n"), std::string::npos) << shown;
  // The line's second look: a probe read and a few confirmations, no CV read.
  EXPECT_LT(commands_sent(CMD_VERIFY), 20);
  EXPECT_EQ(line_failed, 1);
}

TEST_F(DataFileCommands, EscStopsReadOutAndSaysTheFileIsIncomplete) {
  connect("sim:");
  name_file("cvs.txt");
  // x after CV 1 is taken and ignored; ESC after CV 1a stops.
  type("x\x1bz");
  std::string shown = run_capturing(read_out_cvs);
  EXPECT_EQ(read_text(data_file_name), "CV   1  =   0 (b0000 0000)\nCV   1a = 255 (b1111 1111)\n");
  EXPECT_NE(shown.find("ist unvollst\xC3\xA4ndig"), std::string::npos) << shown;
  EXPECT_EQ(wait_key(), 'z') << "the key after ESC is left for the menu";
}

// ---------------------------------------------------------------- overwrite question

struct OverwriteCase {
  const char *key;
  bool overwrites;
};

const OverwriteCase overwrite_cases[] = {
    {"j", true},  {"J", true},  {"y", true},      {"Y", true},
    {"n", false}, {"N", false}, {"\x1bz", false}, {"\r", false},
};

TEST_F(DataFileCommands, OverwriteQuestionTakesJOrYInEitherCase) {
  connect("sim:");
  for (const OverwriteCase &c : overwrite_cases) {
    SCOPED_TRACE(c.key);
    name_file("cvs.txt");
    write_text(data_file_name, "CV 1 = 5\n");
    type(c.key);
    std::string shown = run_capturing(read_out_cvs);
    std::string question = folder + "/cvs.txt existiert bereits! L\xC3\xB6schen? ";
    EXPECT_EQ(shown.substr(0, question.size()), question);
    std::string left = read_text(folder + "/cvs.txt");
    if (c.overwrites) {
      EXPECT_EQ(left, factory_read_out());
      EXPECT_EQ(std::string(data_file_name), folder + "/cvs.txt");
    } else {
      EXPECT_EQ(left, "CV 1 = 5\n");
      EXPECT_EQ(std::string(data_file_name, DATA_FILE_NAME_SIZE),
                std::string(DATA_FILE_NAME_SIZE, '\0'))
          << "the whole name is emptied";
    }
    while (key_waiting()) wait_key();
  }
}

// ---------------------------------------------------------------- files that cannot be used

TEST_F(DataFileCommands, ReadOutIntoUncreatableFileKeepsTheName) {
  connect("sim:");
  name_file("missing/cvs.txt");
  size_t sent_before = vr_trace(vr).size();
  std::string shown = run_capturing(read_out_cvs);
  EXPECT_EQ(shown, folder + "/missing/cvs.txt: " + strerror(ENOENT) + "\n");
  EXPECT_EQ(std::string(data_file_name), folder + "/missing/cvs.txt");
  EXPECT_EQ(vr_trace(vr).size(), sent_before) << "nothing read from the receiver";
}

TEST_F(DataFileCommands, ProgrammingFromMissingFileEmptiesTheName) {
  connect("sim:");
  name_file("absent.txt");
  std::string shown = run_capturing(program_cvs);
  EXPECT_EQ(shown, folder + "/absent.txt: " + strerror(ENOENT) + "\n");
  EXPECT_EQ(data_file_name[0], '\0');
  EXPECT_EQ(commands_sent(CMD_WRITE), 0);
}

// A file that stops growing (a full disk, here a file size limit) is told with
// the error of the write that failed, not of whatever ran after it; the old
// file stays, and the whole lines that fitted are kept beside it.
TEST_F(DataFileCommands, FailedWritesAreToldNotHidden) {
  connect("sim:");
  name_file("cvs.txt");
  write_text(data_file_name, "CV 1 = 7\n");
  type("j");
  struct rlimit saved;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  struct rlimit small = saved;
  small.rlim_cur = 2048;
  void (*saved_handler)(int) = signal(SIGXFSZ, SIG_IGN);
  // What is printed goes into a pipe, which the limit does not stop.
  int printed[2];
  ASSERT_EQ(pipe(printed), 0);
  std::string shown;
  std::thread collect([&] {
    char bytes[4096];
    ssize_t got;
    while ((got = read(printed[0], bytes, sizeof bytes)) > 0) shown.append(bytes, (size_t)got);
  });
  int saved_out = dup(1), saved_err = dup(2);
  dup2(printed[1], 1);
  dup2(printed[1], 2);
  close(printed[1]);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  read_out_cvs();
  setrlimit(RLIMIT_FSIZE, &saved);
  dup2(saved_out, 1);
  dup2(saved_err, 2);
  close(saved_out);
  close(saved_err);
  collect.join();
  close(printed[0]);
  signal(SIGXFSZ, saved_handler);
  EXPECT_NE(shown.find(folder + "/cvs.txt: " + strerror(EFBIG) + "\n"), std::string::npos) << shown;
  EXPECT_NE(shown.find("Die gelesenen Zeilen stehen in " + folder + "/cvs.txt.teil, " + folder +
                       "/cvs.txt ist unver\xC3\xA4ndert.\n"),
            std::string::npos)
      << shown;
  EXPECT_EQ(read_text(data_file_name), "CV 1 = 7\n");
  std::string kept = read_text(folder + "/cvs.txt.teil");
  EXPECT_EQ(factory_read_out().compare(0, kept.size(), kept), 0) << "the read-out's start";
  EXPECT_EQ(kept.size(), 2048 - 2048 % 27) << "whole lines of 27 bytes";
  EXPECT_EQ(files_in_folder(), "cvs.txt\ncvs.txt.teil\n");
  EXPECT_LT(commands_sent(CMD_VERIFY), 398) << "the read-out stops at the first failed write";
}

// The adapter pulled in the middle of a read-out: the read-out stops at once,
// says how many bytes did not go out, makes no file, and keeps exactly the CVs
// read before beside it.
TEST_F(DataFileCommands, ReadOutStopsWhenBytesStopReachingThePort) {
  // The line's check takes a probe read and 16 pairs of verifies; CV 1a holds
  // 255, whose read ends with the complement's verify.
  const int startup = 14, line_check = 8 * 4 + 16 * 2 * 4, read_bytes = 36;
  std::string name =
      "sim:?unplug=" + std::to_string(startup + line_check + 13 * read_bytes + 4 + 20);
  connect(name.c_str());
  name_file("cvs.txt");
  unsigned failed_before = failed_writes;
  int64_t start = clock_now_us();
  std::string shown = run_capturing(read_out_cvs);
  int64_t took_us = clock_now_us() - start;
  std::string factory = factory_read_out();
  size_t thirteen_lines = 0;
  for (int i = 0; i < 13; i++) thirteen_lines = factory.find('\n', thirteen_lines) + 1;
  EXPECT_EQ(read_text(folder + "/cvs.txt.teil"), factory.substr(0, thirteen_lines));
  EXPECT_EQ(files_in_folder(), "cvs.txt.teil\n") << "no file made under the name itself";
  EXPECT_EQ(failed_writes - failed_before, 16u) << "the rest of the one read, no retry";
  EXPECT_NE(
      shown.find("\nSchreibfehler: 16 Bytes nicht gesendet!\nDie gelesenen Zeilen stehen in " +
                 folder + "/cvs.txt.teil, " + folder + "/cvs.txt ist unver\xC3\xA4ndert.\n"),
      std::string::npos)
      << shown;
  EXPECT_EQ(shown.find("Lesefehler"), std::string::npos) << shown;
  // 14 reads of about 46 ms and the pause after the message.
  EXPECT_LT(took_us, 14 * 50000 + 1000000);
}

// ---------------------------------------------------------------- hostile data files

// What may stand at a data file's name besides a file. Each is refused as a
// file that cannot be opened: its message, the name forgotten, nothing sent to
// the receiver, and the command back at the menu after its pause.
struct HostileDataFile {
  const char *what;
  const char *name;  // in the test's folder, or an absolute path
  const char *text;  // the error's text
};

const HostileDataFile hostile_data_files[] = {
    {"a directory", "sub", "Is a directory"},
    {"a FIFO nobody writes to", "fifo", "Not a regular file"},
    {"a FIFO that a writer holds open", "held_fifo", "Not a regular file"},
    {"an endless device", "/dev/zero", "Not a regular file"},
    {"a device that takes no byte", "/dev/full", "Not a regular file"},
};

TEST_F(DataFileCommands, ProgrammingAndReadOutRefuseAnythingButARegularFile) {
  connect("sim:");
  ASSERT_EQ(mkdir((folder + "/sub").c_str(), 0700), 0);
  ASSERT_EQ(mkfifo((folder + "/fifo").c_str(), 0600), 0);
  ASSERT_EQ(mkfifo((folder + "/held_fifo").c_str(), 0600), 0);
  int writer = open((folder + "/held_fifo").c_str(), O_RDWR);
  ASSERT_GE(writer, 0);
  ASSERT_EQ(write(writer, "CV 1 = 9\n", 9), 9);
  for (int (*command)(void) : {program_cvs, read_out_cvs}) {
    for (const HostileDataFile &c : hostile_data_files) {
      SCOPED_TRACE(std::string(c.what) + (command == program_cvs ? ", p" : ", a"));
      std::string path = c.name[0] == '/' ? c.name : folder + "/" + c.name;
      snprintf(data_file_name, DATA_FILE_NAME_SIZE, "%s", path.c_str());
      int64_t start = clock_now_us();
      std::string shown = run_capturing(command);
      EXPECT_EQ(clock_now_us() - start, 1000000) << "only the message's pause";
      EXPECT_EQ(shown, path + ": " + c.text + "\n");
      EXPECT_EQ(data_file_name[0], '\0') << "asked again next time";
      EXPECT_EQ(commands_sent(CMD_WRITE) + commands_sent(CMD_VERIFY), 0);
    }
  }
  close(writer);
}

// A file from an old editor, every line ended by a lone CR: each line is
// programmed, and nothing else (read as one line it programmed CV 12a = 99).
TEST_F(DataFileCommands, ProgrammingReadsLinesEndedByALoneCr) {
  connect("sim:");
  name_file("mac.txt");
  std::string text = "# Werte fuer Lok 12, alte Datei vom Mac\r";
  for (int cv = 100; cv <= 137; cv++) text += "CV " + std::to_string(cv) + " = 99\r";
  write_text(data_file_name, text);
  std::string shown = run_capturing(program_cvs);
  for (int cv = 1; cv <= 256; cv++) {
    EXPECT_EQ(vr_cv(vr, 0, cv), cv >= 100 && cv <= 137 ? 99 : cv - 1) << cv;
    EXPECT_EQ(vr_cv(vr, 1, cv), 255 - (cv - 1)) << cv << "a";
  }
  EXPECT_EQ(commands_sent(CMD_WRITE), 38);
  EXPECT_EQ(count_of(shown, "kein '='"), 1) << "the comment line alone";
}

// A line longer than 999 characters programs nothing at all: its first 999
// characters may end inside a value (here CV 12 = 100 would become 1). The
// line is named once, and the lines after it are read as usual.
TEST_F(DataFileCommands, ProgrammingRefusesAnOverlongLineWhole) {
  struct Row {
    const char *what;
    size_t pad;  // blanks before "CV 12 = 100"
    bool refused;
  };
  const Row rows[] = {
      {"the value straddles the boundary", 990, true},
      {"the line is 1000 characters", 1000 - 11, true},
      {"the line is exactly 999 characters", 999 - 11, false},
      {"a short line", 0, false},
  };
  connect("sim:");
  for (const Row &row : rows) {
    SCOPED_TRACE(row.what);
    name_file("long.txt");
    std::string line = std::string(row.pad, ' ') + "CV 12 = 100";
    write_text(data_file_name,
               "CV 2 = 5\n" + line + std::string(3000 * row.refused, '+') + "\nCV 8 = 1\n");
    vr_set_cv(vr, 0, 12, 11);
    std::string shown = run_capturing(program_cvs);
    EXPECT_EQ(vr_cv(vr, 0, 2), 5);
    EXPECT_EQ(vr_cv(vr, 0, 8), 1);
    EXPECT_EQ(vr_cv(vr, 0, 12), row.refused ? 11 : 100);
    EXPECT_EQ(count_of(shown, "zu lang"), row.refused ? 1 : 0) << shown;
    if (row.refused) {
      EXPECT_NE(shown.find("Zeile 2 zu lang (mehr als 999 Zeichen): nicht programmiert\n"),
                std::string::npos)
          << shown;
    }
    EXPECT_EQ(shown.find("ung\xC3\xBCltige"), std::string::npos) << shown;
  }
}

TEST_F(DataFileCommands, ProgrammingWritesValidLinesAndNamesTheRest) {
  connect("sim:");
  name_file("cvs.txt");
  write_text(data_file_name,
             "CV 7a = 12\r\n"
             "CV 300 = 1\n"
             "CV   3: Lesefehler!\r\n"
             "CV 5 = x\n"
             "CV 9 = b1 0000 0001\n"
             "= 5\n"
             "CV 6 = 256\n"
             "\n"
             "CV 256 = 77");
  std::string shown = run_capturing(program_cvs);
  EXPECT_EQ(vr_cv(vr, 1, 7), 12);
  EXPECT_EQ(vr_cv(vr, 0, 9), 1);
  EXPECT_EQ(vr_cv(vr, 0, 256), 77);
  EXPECT_EQ(vr_cv(vr, 0, 5), 4);
  EXPECT_EQ(vr_cv(vr, 0, 6), 5);
  EXPECT_EQ(commands_sent(CMD_WRITE), 3);
  EXPECT_EQ(shown,
            "\nAbbruch mit ESC\n"
            "CV   7a =  12\r"
            "CV 300 = 1: ung\xC3\xBCltige zeile: CV muss zwischen 1 und 256 liegen\n"
            "CV   3: Lesefehler!: ung\xC3\xBCltige zeile: kein '='\n"
            "CV 5 = x: ung\xC3\xBCltige zeile: kein Wert\n"
            "CV   9  =   1\r"
            "= 5: ung\xC3\xBCltige zeile: keine CV-Nummer\n"
            "CV 6 = 256: ung\xC3\xBCltige zeile: Wert muss zwischen 0 und 255 liegen\n"
            ": ung\xC3\xBCltige zeile: kein '='\n"
            "CV 256  =  77\r");
  EXPECT_EQ(std::string(data_file_name), folder + "/cvs.txt");
}

TEST_F(DataFileCommands, EscStopsProgrammingOnlyAfterAWrittenLine) {
  connect("sim:");
  name_file("cvs.txt");
  write_text(data_file_name, "kaputt\nCV 1 = 9\nCV 2 = 9\n");
  type("\x1bz");
  run_capturing(program_cvs);
  EXPECT_EQ(vr_cv(vr, 0, 1), 9) << "ESC is not looked at after a refused line";
  EXPECT_EQ(vr_cv(vr, 0, 2), 1) << "ESC after the first write stops";
}

TEST_F(DataFileCommands, OtherKeysDoNotStopProgramming) {
  connect("sim:");
  name_file("cvs.txt");
  write_text(data_file_name, "CV 1 = 9\nCV 2 = 9\nCV 3 = 9\n");
  type("xyz");
  run_capturing(program_cvs);
  EXPECT_EQ(vr_cv(vr, 0, 3), 9);
}
// ---------------------------------------------------------------- data file selection

std::string working_folder(void) {
  char folder[4096];
  return getcwd(folder, sizeof folder) != nullptr ? folder : "";
}

// What a typed answer becomes: a full path, ".txt" when there is no dot anywhere.
std::string chosen(const std::string &full) {
  return full.find('.') == std::string::npos ? full + ".txt" : full;
}

struct SelectionCase {
  const char *typed;
  std::string name;
};

const SelectionCase selection_cases[] = {
    {"/x/ydir/neu\r", "/x/ydir/neu.txt"},
    {"/x/y.dir/neu\r", "/x/y.dir/neu"},
    {"/x/ydir/neu.dat\r", "/x/ydir/neu.dat"},
    {"/x/./ydir//sub/../neu\r", "/x/ydir/neu.txt"},
    {"/x/neuq\x08\x08u\r", "/x/neu.txt"},
    {"/x/n\xC3\xA4u\r", "/x/n\xC3\xA4u.txt"},  // a typed umlaut goes into the name as UTF-8
    {"/x/n\xC3\xA4\x7Fu\r", "/x/nu.txt"},      // Backspace takes the whole umlaut
    {"neu\r", chosen(working_folder() + "/neu")},
    {"sub/../neu.txt\n", working_folder() + "/neu.txt"},
};

TEST_F(DataFileCommands, SelectionTurnsTheAnswerIntoAFullPath) {
  for (const SelectionCase &c : selection_cases) {
    SCOPED_TRACE(c.typed);
    memset(data_file_name, 0, DATA_FILE_NAME_SIZE);
    type(c.typed);
    std::string shown = run_capturing(select_data_file);
    EXPECT_EQ(std::string(data_file_name), c.name);
    EXPECT_EQ(shown.substr(0, 20), "Datendatei (*.txt): ");
    EXPECT_FALSE(key_waiting()) << "the answer is taken up to its Enter";
  }
}

TEST_F(DataFileCommands, SelectionKeepsANameAlreadyGiven) {
  name_file("cvs.txt");
  type("x");
  std::string shown = run_capturing(select_data_file);
  EXPECT_EQ(shown, "");
  EXPECT_EQ(std::string(data_file_name), folder + "/cvs.txt");
  EXPECT_EQ(wait_key(), 'x');
}

TEST_F(DataFileCommands, SelectionAsksAgainForAPathTooLongForTheName) {
  // 995 characters and ".txt" fill the 999 of the name exactly; one more is too many.
  std::string fits = "/" + std::string(994, 'x');
  std::string too_long = "/" + std::string(995, 'x');
  type(too_long + "\r" + fits + "\r");
  std::string shown = run_capturing(select_data_file);
  EXPECT_EQ(std::string(data_file_name), fits + ".txt");
  EXPECT_NE(shown.find("Der Pfad ist zu lang (h\xC3\xB6"
                       "chstens 999 Zeichen)."),
            std::string::npos);
  EXPECT_EQ(count_of(shown, "Datendatei (*.txt): "), 2);
}

// A name that is a directory would have become a file beside it ("." as
// "/cwd.txt", "/" as "/.txt"): it is refused and asked again.
TEST_F(DataFileCommands, SelectionRefusesDirectoriesAndAsksAgain) {
  ASSERT_EQ(mkdir((folder + "/sub").c_str(), 0700), 0);
  const char *const directories[] = {".", "..", "/", "sub/", "/x/nowhere/", "/x/y/.", "sub"};
  std::string keys;
  for (const char *typed : directories) {
    keys += typed[0] == '/' ? std::string(typed) : folder + "/" + typed;
    keys += "\r";
  }
  type(keys + "/x/gut\r");
  std::string shown = run_capturing(select_data_file);
  EXPECT_EQ(std::string(data_file_name), "/x/gut.txt");
  EXPECT_EQ(count_of(shown, " ist ein Verzeichnis.\n"), 7) << shown;
  EXPECT_EQ(count_of(shown, "Datendatei (*.txt): "), 8);
  EXPECT_NE(shown.find("\n/ ist ein Verzeichnis.\n"), std::string::npos) << shown;
}

class DataFileSelectionCancel : public DataFileCommands,
                                public testing::WithParamInterface<const char *> {};

TEST_P(DataFileSelectionCancel, EndsTheProgramWith77) {
  std::string keys = GetParam();
  if (!keys.empty()) type(keys);
  if (keys.empty()) close(this->keys[1]), this->keys[1] = -1;  // end of input
  int code = KEEP_RUNNING;
  run_capturing([&] { code = select_data_file(); });
  EXPECT_EQ(code, 77);
}

// An empty answer, ESC, and the end of the input.
INSTANTIATE_TEST_SUITE_P(Answers, DataFileSelectionCancel, testing::Values("\r", "ab\x1bz", ""));

}  // namespace
