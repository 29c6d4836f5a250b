// tarvel from the outside: the built program run with keys from a pipe on the
// virtual receiver and the virtual clock, checked on its output, its exit code
// and the receiver's wire log.
#include <gtest/gtest.h>

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/link/link_test_support.h"
#include "tests/support/files.h"
#include "tests/support/program_run.h"
#include "tests/support/temp_dir_fixture.h"

namespace {

const char banner[] = "CVs Lesen und schreiben Version 1.0, 1.2.2007\n";
const char usage[] = "Usage: tarvel comx [Datenfile]\n";
const char menu[] =
    "\nKommandos: e .. einzelne CV lesen/programmieren\n"
    "           p .. programmieren (Datei -> CVs)\n"
    "           a .. auslesen (CVs -> Datei\n"
    "           q oder ESC .. Beenden";

struct Tarvel {
  pid_t pid = -1;
  int in = -1, out = -1, err = -1;
  std::string stdout_text, stderr_text;
  int exit_code = -1;
};

// Starts tarvel with args; orn_home null leaves ORN_HOME unset.
Tarvel start(const std::vector<std::string> &args, const char *orn_home) {
  int in[2], out[2], err[2];
  Tarvel t;
  if (pipe(in) != 0 || pipe(out) != 0 || pipe(err) != 0) return t;
  t.pid = fork();
  if (t.pid == 0) {
    dup2(in[0], 0);
    dup2(out[1], 1);
    dup2(err[1], 2);
    for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]}) close(fd);
    exec_program(TARVEL_PATH, args, orn_home);
  }
  close(in[0]);
  close(out[1]);
  close(err[1]);
  t.in = in[1];
  t.out = out[0];
  t.err = err[0];
  return t;
}

// Collects output until the text appears in stderr (or both streams end).
void collect(Tarvel &t, const char *until_in_stderr, int timeout_ms) {
  int64_t deadline = clock_now_us() + (int64_t)timeout_ms * 1000;
  while (clock_now_us() < deadline && (t.out >= 0 || t.err >= 0)) {
    if (until_in_stderr && t.stderr_text.find(until_in_stderr) != std::string::npos) return;
    pollfd fds[2] = {{t.out, POLLIN, 0}, {t.err, POLLIN, 0}};
    if (poll(fds, 2, 50) <= 0) continue;
    for (int i = 0; i < 2; i++) {
      if (fds[i].revents == 0) continue;
      char buffer[4096];
      ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      std::string &text = i == 0 ? t.stdout_text : t.stderr_text;
      int &fd = i == 0 ? t.out : t.err;
      if (n > 0) {
        text.append(buffer, (size_t)n);
      } else {
        close(fd);
        fd = -1;
      }
    }
  }
}

void finish(Tarvel &t) {
  if (t.in >= 0) close(t.in);
  t.in = -1;
  collect(t, nullptr, 30000);
  int status = 0;
  if (t.out >= 0 || t.err >= 0) kill(t.pid, SIGKILL);  // hung: fail, do not hang
  waitpid(t.pid, &status, 0);
  t.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Runs tarvel with the keys on standard input (end of input reads as ESC).
Tarvel run(const std::vector<std::string> &args, const std::string &keys,
           const char *orn_home = "") {
  Tarvel t = start(args, orn_home);
  if (!keys.empty()) write_all(t.in, (const unsigned char *)keys.data(), keys.size());
  finish(t);
  return t;
}

class TarvelStartup : public TempDirFixture {
 protected:
  TarvelStartup() : TempDirFixture("tarvel_startup") {}
  void SetUp() override {
    clock_use_virtual(false);  // the child runs on the virtual clock, we wait in real time
    TempDirFixture::SetUp();
  }
  std::string port() { return "sim:" + dir + "?instant"; }
  std::vector<WireEvent> wire_log() { return read_wire_log(dir + "/wire.log"); }
  // The bytes sent after the wake sequence's last byte 0x55.
  std::vector<int> sent_after_wake() {
    std::vector<int> bytes = sent_bytes(wire_log());
    size_t at = 0;
    for (size_t i = 0; i < bytes.size(); i++)
      if (bytes[i] == 0x55) at = i + 1;
    return std::vector<int>(bytes.begin() + (long)at, bytes.end());
  }
};

TEST_F(TarvelStartup, WithoutArgumentsShowsUsageAndEndsWith9) {
  Tarvel t = run({}, "");
  EXPECT_EQ(t.exit_code, 9);
  EXPECT_NE(t.stdout_text.find(std::string(banner) + usage), std::string::npos) << t.stdout_text;
}

TEST_F(TarvelStartup, HelpAndVersionTellWhatItIsAndEndWith0) {
  Tarvel help = run({"--help"}, "");
  EXPECT_EQ(help.exit_code, 0);
  EXPECT_NE(help.stdout_text.find("tarvel"), std::string::npos);
  EXPECT_NE(help.stdout_text.find(usage), std::string::npos);
  EXPECT_NE(help.stdout_text.find("Version 1.0"), std::string::npos);
  for (const char *named : {"--ports", "--verify", "--read-out", "--program", "--force"}) {
    EXPECT_NE(help.stdout_text.find(named), std::string::npos) << named;
  }
  EXPECT_EQ(help.stderr_text, "");

  // The package's version first, then the program's own banner.
  Tarvel version = run({"--version"}, "");
  EXPECT_EQ(version.exit_code, 0);
  EXPECT_EQ(version.stdout_text, std::string("tarvel " PROJECT_VERSION_TEXT "\n") + banner);
  EXPECT_EQ(version.stderr_text, "");
}

// The last line after every open failure: the port listing.
const std::string ports_hint = "Vorhandene Schnittstellen zeigt: tarvel --ports\n";

struct OpenFailure {
  std::string port;
  std::string message;
};

TEST_F(TarvelStartup, UnopenablePortIsReportedAndEndsWith99AfterAKey) {
  std::string long_name(100, 'p');
  const OpenFailure cases[] = {
      {"/nonexistent-tarvel-dir/ttyX", "Open_in /nonexistent-tarvel-dir/ttyX: Error 2\nGrund: " +
                                           system_words(ENOENT) + "\n" + ports_hint},
      {long_name, "Open_in " + long_name +
                      ": Error 206\n"
                      "Grund: Der Name ist zu lang (h\xC3\xB6"
                      "chstens 99 Zeichen).\n" +
                      ports_hint},
  };
  for (const OpenFailure &c : cases) {
    Tarvel t = run({c.port}, "x");
    EXPECT_EQ(t.exit_code, 99) << c.port;
    EXPECT_EQ(t.stderr_text, c.message);
    EXPECT_EQ(count_of(t.stdout_text, "Kommandos"), 0);
  }
}

TEST_F(TarvelStartup, PortHeldByAnotherProgramIsRefusedWithAccessDenied) {
  PtyPair pty;
  ASSERT_GE(pty.master, 0);
  HANDLE held = CreateFileA(pty.slave.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                            OPEN_EXISTING, FILE_FLAG_OVERLAPPED | FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  Tarvel t = run({pty.slave}, "x");
  EXPECT_EQ(t.exit_code, 99);
  EXPECT_EQ(t.stderr_text,
            "Open_in " + pty.slave + ": Error 5\nGrund: " + system_words(EBUSY) +
                "\n"
                "Die Schnittstelle ist belegt: ein anderes Programm hat sie offen.\n" +
                ports_hint);
  CloseHandle(held);
  pty.close_master();
}

TEST_F(TarvelStartup, UnopenablePortWaitsForTheKey) {
  Tarvel t = start({"/nonexistent-tarvel-dir/ttyX"}, "");
  collect(t, "Open_in", 10000);
  ASSERT_NE(t.stderr_text.find("Open_in"), std::string::npos);
  usleep(300000);
  int status = 0;
  EXPECT_EQ(waitpid(t.pid, &status, WNOHANG), 0) << "ended without a key";
  write_all(t.in, (const unsigned char *)"x", 1);
  finish(t);
  EXPECT_EQ(t.exit_code, 99);
}

TEST_F(TarvelStartup, DataFileNameOver999CharactersIsRefusedBeforeThePort) {
  Tarvel t = run({port(), std::string(1000, 'd')}, "q");
  EXPECT_EQ(t.exit_code, 9);
  EXPECT_NE(t.stderr_text.find("999"), std::string::npos) << t.stderr_text;
  EXPECT_FALSE(std::filesystem::exists(dir + "/wire.log")) << "the port was touched";

  Tarvel fits = run({port(), std::string(999, 'd')}, "q");
  EXPECT_EQ(fits.exit_code, 0) << fits.stderr_text;
}

TEST_F(TarvelStartup, ResetWaitFollowsOrnHome) {
  struct {
    const char *orn_home;
    const char *message;
    int64_t hold_us;
  } cases[] = {{"", "2 Sekunden Reset....\n", 2000000},
               {"1", "2 Sekunden Reset....\n", 2000000},
               {nullptr, "10 Sekunden Reset....\n", 10000000}};
  for (const auto &c : cases) {
    std::filesystem::remove(dir + "/wire.log");
    Tarvel t = run({port()}, "q", c.orn_home);
    EXPECT_EQ(t.exit_code, 0);
    EXPECT_NE(t.stdout_text.find(std::string(c.message) +
                                 "\nEmpf\xC3\xA4nger sollte kurz hupen bzw. blinken\n"),
              std::string::npos)
        << t.stdout_text;
    std::vector<WireEvent> dtr = only(wire_log(), "DTR");
    ASSERT_GE(dtr.size(), 3u);
    EXPECT_EQ(dtr[dtr.size() - 1].us - dtr[dtr.size() - 2].us, c.hold_us);
  }
}

TEST_F(TarvelStartup, QAndEscQuitWithTheQuitSequence) {
  // ESC is followed by a key, so that only ESC itself (not the end of input,
  // which reads as ESC too) can have ended the program at its first menu.
  for (const char *keys : {"q", "\x1bx"}) {
    std::filesystem::remove(dir + "/wire.log");
    Tarvel t = run({port()}, keys);
    EXPECT_EQ(t.exit_code, 0) << keys;
    EXPECT_EQ(count_of(t.stdout_text, menu), 1) << t.stdout_text;
    EXPECT_EQ(sent_after_wake(), (std::vector<int>{0xEE, 0xEE, 0xEE, 0xEE})) << keys;
  }
}

TEST_F(TarvelStartup, OtherKeysOnlyShowTheMenuAgain) {
  Tarvel t = run({port()}, "QEAPx1 ");
  EXPECT_EQ(t.exit_code, 0);
  // The first menu, one per key, and the end of input quits like ESC.
  EXPECT_EQ(count_of(t.stdout_text, menu), 8) << t.stdout_text;
  EXPECT_EQ(sent_after_wake(), (std::vector<int>{0xEE, 0xEE, 0xEE, 0xEE}));
}

}  // namespace
