// Text from outside reaches the terminal as glyphs: both built programs on a
// pseudo-terminal (so that their output takes the terminal's path), with
// controls in a data file's lines, in file and port names and in a USB
// adapter's strings, checked on the bytes the terminal receives.
#include <gtest/gtest.h>

#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "tests/support/files.h"
#include "tests/support/program_run.h"
#include "tests/support/temp_dir_fixture.h"

namespace {

namespace fs = std::filesystem;

struct Outcome {
  int code = -1;
  std::string terminal;  // every byte the program wrote to its terminal, line ends as LF
};

// Runs a built program on a fresh pseudo-terminal, 200 columns wide so that
// no line is wrapped, until it ends (killed after 30 s).
Outcome run_on_terminal(const char *path, const std::vector<std::string> &args) {
  Outcome run;
  winsize size = {};
  size.ws_row = 40;
  size.ws_col = 200;
  int master = -1;
  pid_t child = forkpty(&master, nullptr, nullptr, &size);
  if (child < 0) return run;
  if (child == 0) exec_program(path, args, "1");
  int64_t deadline_us = clock_now_us() + 30 * 1000000LL;
  for (;;) {
    pollfd in = {master, POLLIN, 0};
    int left_ms = (int)((deadline_us - clock_now_us()) / 1000);
    if (left_ms <= 0 || poll(&in, 1, left_ms) <= 0) break;
    char buffer[4096];
    ssize_t n = read(master, buffer, sizeof buffer);
    if (n <= 0) break;  // EIO: the program and its terminal are gone
    run.terminal.append(buffer, (size_t)n);
  }
  int status = 0;
  if (waitpid(child, &status, WNOHANG) == 0) {
    kill(child, SIGKILL);
    waitpid(child, &status, 0);
  }
  close(master);
  run.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  // The terminal's own output processing adds a CR to each line feed.
  run.terminal = std::regex_replace(run.terminal, std::regex("\r+\n"), "\n");
  return run;
}

// The terminal bytes without the programs' own sequences: the title (OSC 0
// ... BEL), CSI sequences, the CAN that ends the run and a job's progress
// lines, which end in CR; what is left is text, and must hold no control but
// the line ends.
std::string text_only(const std::string &terminal) {
  static const std::regex own(
      "\x1b\\]0;[^\x07\x1b]*\x07|\x1b\\[[0-9;?]*[ -/]*[@-~]|\x18|CV [ 0-9]{3}[a ] = [ 0-9]{3}( "
      "\\(b[01]{4} [01]{4}\\))?\r");
  return std::regex_replace(terminal, own, "");
}

::testing::AssertionResult nothing_obeyable(const std::string &terminal) {
  std::string text = text_only(terminal);
  for (size_t i = 0; i < text.size(); i++) {
    unsigned char byte = (unsigned char)text[i];
    bool control = (byte < 0x20 && byte != '\n') || byte == 0x7F;
    bool c1 = byte == 0xC2 && i + 1 < text.size() && (unsigned char)text[i + 1] >= 0x80 &&
              (unsigned char)text[i + 1] < 0xA0;
    if (control || c1) {
      return ::testing::AssertionFailure() << "byte " << (int)byte << " at " << i
                                           << " in: " << text.substr(i > 40 ? i - 40 : 0, 80);
    }
  }
  return ::testing::AssertionSuccess();
}

class OutsideText : public TempDirFixture {
 protected:
  OutsideText() : TempDirFixture("outside_text") {}
  void write(const std::string &name, const std::string &text) {
    fs::create_directories(fs::path(dir + "/" + name).parent_path());
    write_text(dir + "/" + name, text);
  }
};

// Each line is refused (value above 255) and echoed; what follows it, the
// next line's echo and the summary, must still be there and readable.
TEST_F(OutsideText, DataFileLinesAreEchoedWithGlyphs) {
  struct Row {
    const char *what;
    std::string value_tail;  // after "CV 6 = 300 " in the file
    std::string shown;       // what the terminal gets for it
  } rows[] = {
      {"BEL", "\a", "•"},
      {"BS", "ab\b\b\bXYZ", "ab◘◘◘XYZ"},
      {"ESC and a title", "\x1b]0;Titel\a", "←]0;Titel•"},
      {"DEL", "x\x7f", "x⌂"},
      {"TAB", "\tx", "○x"},
      {"CSI as UTF-8: conceal",
       "\xc2\x9b"
       "8m",
       "┬ø8m"},
      {"OSC as UTF-8 up to ST",
       "\xc2\x9d"
       "0;Titel\xc2\x9c",
       "┬Ø0;Titel┬£"},
      {"raw CSI byte",
       "\x9b"
       "8m",
       "ø8m"},
      {"UTF-8 letters stay",
       "Gr\xc3\xbc\xc3\x9f"
       "e",
       "Grüße"},
  };
  for (const Row &row : rows) {
    write("p.txt", "CV 6 = 300 " + row.value_tail + "\nCV 7 = 300 danach\nCV 8 = 1\n");
    Outcome run = run_on_terminal(TARVEL_PATH, {"--program", dir + "/p.txt", "sim:" + dir + "/r"});
    EXPECT_EQ(run.code, 2) << row.what;
    std::string echo = "Zeile 1: CV 6 = 300 " + row.shown +
                       ": ungültige zeile: Wert muss zwischen 0 und 255 "
                       "liegen\n";
    size_t at = run.terminal.find(echo);
    EXPECT_NE(at, std::string::npos) << row.what << ": " << run.terminal;
    size_t next = run.terminal.find("Zeile 2: CV 7 = 300 danach: ungültige zeile", at);
    EXPECT_NE(next, std::string::npos) << row.what;
    EXPECT_NE(run.terminal.find("1 CVs geschrieben, 2 Zeilen ungültig (Exit-Code 2)", next),
              std::string::npos)
        << row.what;
    EXPECT_TRUE(nothing_obeyable(run.terminal)) << row.what;
  }
}

// A file or port name is the user's or the system's text: shown, not obeyed,
// in every message that names it; an ordinary name is shown as it is.
TEST_F(OutsideText, NamesInMessagesAreShownWithGlyphs) {
  write("r/keep", "");
  write("folder\a\b", "");  // a file, so no receiver folder
  write("ex\x1b[8m.txt", "CV 1 = 1\n");
  struct Row {
    const char *what;
    const char *program;
    std::vector<std::string> args;  // "%" stands for the test's folder
    int code;
    std::string shown;
  } rows[] = {
      {"data file name with BEL and CR",
       TARVEL_PATH,
       {"--program", "%/da\a\rten\xc2\x9b.txt", "sim:%/r"},
       3,
       "%/da•♪ten┬ø.txt: No such file or directory\n"},
      {"existing read-out target with ESC",
       TARVEL_PATH,
       {"--read-out", "%/ex\x1b[8m.txt", "sim:%/r"},
       3,
       "%/ex←[8m.txt: existiert bereits"},
      {"UTF-8 data file name",
       TARVEL_PATH,
       {"--program", "%/Mäuse.txt", "sim:%/r"},
       3,
       "%/Mäuse.txt: No such file or directory\n"},
      {"tarvel's port name",
       TARVEL_PATH,
       {"--program", "%/r/keep", "sim:%/folder\a\b"},
       99,
       "Open_in sim:%/folder•◘: Error 3\n"},
      {"morrex's program file name",
       MORREX_PATH,
       {"xsim:%/r", "%/fw\x1b]0;T\a.bin"},
       2,
       "%/fw←]0;T•.bin: No such file or directory\n"},
      {"backup name with ESC",
       TARVEL_PATH,
       {"--program", "%/ex\x1b[8m.txt", "--backup", "%/al\x1b[8mt.txt", "sim:%/r"},
       0,
       "1 CVs gesichert in %/al←[8mt.txt\n"},
      {"checked data file name with ESC",
       TARVEL_PATH,
       {"--check", "--program", "%/ex\x1b[8m.txt"},
       0,
       "tarvel --check --program %/ex←[8m.txt: 1 CVs zu schreiben"},
      {"checked program file name",
       MORREX_PATH,
       {"--check", "%/fw\x1b]0;T\a.bin"},
       2,
       "morrex --check %/fw←]0;T•.bin: Programmdatei nicht lesbar"},
      {"morrex's port name",
       MORREX_PATH,
       {"xsim:%/folder\a\b", "%/fw.bin"},
       1,
       "Open sim:%/folder•◘: Error 3\n"},
  };
  for (const Row &row : rows) {
    std::vector<std::string> args;
    for (std::string a : row.args) {
      for (size_t at = a.find('%'); at != std::string::npos; at = a.find('%', at + 1)) {
        a.replace(at, 1, dir);
      }
      args.push_back(a);
    }
    std::string shown = row.shown;
    shown.replace(shown.find('%'), 1, dir);
    Outcome run = run_on_terminal(row.program, args);
    EXPECT_EQ(run.code, row.code) << row.what << ": " << run.terminal;
    EXPECT_NE(run.terminal.find(shown), std::string::npos) << row.what << ": " << run.terminal;
    EXPECT_TRUE(nothing_obeyable(run.terminal)) << row.what;
  }
}

// A USB adapter's strings come from the adapter's maker: a serial number that
// rings and backs up over itself is listed as the glyphs it holds.
TEST_F(OutsideText, PortListingShowsAnAdaptersStringsWithGlyphs) {
  std::string usb = "/sys/devices/pci0000:00/usb1/1-2";
  write("root" + usb + "/idVendor", "0403\n");
  write("root" + usb + "/idProduct", "6001\n");
  write("root" + usb + "/manufacturer",
        "FT\x1b[8mDI\xc2\x9b"
        "8m\n");
  write("root" + usb + "/product",
        "UART\xc2\x9d"
        "0;T\xc2\x9c\x7f\x9b\n");
  write("root" + usb + "/serial", "SER\a\b\b\bXYZ\n");
  fs::create_directories(dir + "/root" + usb + "/1-2:1.0/ttyUSB0/tty/ttyUSB0");
  fs::create_directory_symlink(dir + "/root" + usb + "/1-2:1.0/ttyUSB0",
                               dir + "/root" + usb + "/1-2:1.0/ttyUSB0/tty/ttyUSB0/device");
  fs::create_directories(dir + "/root/sys/class/tty");
  fs::create_directory_symlink(dir + "/root" + usb + "/1-2:1.0/ttyUSB0/tty/ttyUSB0",
                               dir + "/root/sys/class/tty/ttyUSB0");
  setenv("ORN_PORTS_ROOT", (dir + "/root").c_str(), 1);
  for (const char *program : {TARVEL_PATH, MORREX_PATH}) {
    Outcome run = run_on_terminal(program, {"--ports"});
    EXPECT_EQ(run.code, 0) << program;
    EXPECT_NE(run.terminal.find("/dev/ttyUSB0  USB 0403:6001 FT←[8mDI┬ø8m UART┬Ø0;T┬£⌂ø, "
                                "Seriennummer SER•◘◘◘XYZ\n"),
              std::string::npos)
        << program << ": " << run.terminal;
    EXPECT_TRUE(nothing_obeyable(run.terminal)) << program;
  }
  unsetenv("ORN_PORTS_ROOT");
}

}  // namespace
