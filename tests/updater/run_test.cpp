// Whole runs of morrex in-process against the virtual receiver, on the virtual
// clock: what goes on the line and when, what the receiver ends up holding,
// what the user reads, and how each failure ends.
#include <gtest/gtest.h>

#include <algorithm>

#include <sys/stat.h>
#include <unistd.h>

#include <cinttypes>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>

#include "platform/clock.h"
#include "tests/updater/program_files.h"
#include "updater/updater.h"
#include "virtual_receiver/virtual_receiver.h"
#include "tests/support/program_run.h"
#include "tests/support/temp_dir_fixture.h"

namespace {

const int64_t MS = 1000;
const char BANNER[] = "Update Amtel-Flash Version 1.1, 11.1.2005\n";
// The line after every open failure that names the port listing.
#define PORTS_HINT "Vorhandene Schnittstellen zeigt: morrex --ports\n"
const char WAKE_TEXT[] =
    "\nEmpfaenger sollte kurz hupen/blinken bzw. Dauerton/Dauerblinken beenden\n";

struct Event {
  int64_t us;
  std::string name;
  std::string value;
  bool operator==(const Event &o) const { return us == o.us && name == o.name && value == o.value; }
};

std::ostream &operator<<(std::ostream &out, const Event &e) {
  return out << e.us << " " << e.name << " " << e.value;
}

// The trace's events of the given kinds ("TX DTR RTS" ...).
std::vector<Event> events(const std::string &trace, const std::string &kinds) {
  std::vector<Event> found;
  std::istringstream lines(trace);
  std::string line;
  while (std::getline(lines, line)) {
    Event e;
    std::istringstream fields(line);
    fields >> e.us >> e.name;
    std::getline(fields >> std::ws, e.value);
    if ((" " + kinds + " ").find(" " + e.name + " ") != std::string::npos) found.push_back(e);
  }
  return found;
}

std::string hex(int byte) {
  char text[3];
  snprintf(text, sizeof text, "%02X", byte & 0xFF);
  return text;
}

// Ten bit times at 38400 baud, as the receiver counts them.
const int64_t BYTE_US = 260;

// What the protocol puts on the line, with every pause, for a receiver that
// takes bytes at once (its trace shows them when they were handed over): the
// model the traces are held against. A pause after bytes still counts from
// when they would have left the wire.
struct WireModel {
  std::vector<Event> wire;
  int64_t t = 0;
  int64_t line_free = 0;
  int sendable = 1 << 30;  // bytes before the adapter is pulled; later ones take no time
  void tx(int byte) {
    wire.push_back({t, "TX", hex(byte)});
    if (sendable-- > 0) line_free = std::max(t, line_free) + BYTE_US;
  }
  void after_bytes(int64_t pause_us) { t = std::max(t, line_free) + pause_us; }
  void lines(int level) {
    wire.push_back({t, "DTR", std::to_string(level)});
    wire.push_back({t, "RTS", std::to_string(level)});
  }
};

std::vector<Event> expected_wire(ResetMode mode, int wait_ms, int handshake, const Bytes &records,
                                 int page_size, int64_t *end_us, int sendable = 1 << 30) {
  WireModel m;
  m.sendable = sendable;
  if (mode != NO_RESET) {
    m.t += 500 * MS;
    m.tx('A');
    m.after_bytes(200 * MS);
    m.lines(1);
    m.t += wait_ms * MS;
    m.lines(0);
  }
  m.t += 500 * MS;
  for (int b = 0xF3; b <= 0xFF; b++) {
    m.tx(b);
    m.after_bytes(20 * MS);
  }
  m.t += 2000 * MS;
  m.tx('!');
  m.tx(handshake);
  m.after_bytes(50 * MS);
  for (int b = 0; b <= 0xFF; b++) m.tx(b);
  m.after_bytes(20 * MS);
  for (size_t at = 0; at < records.size();) {
    int lead = records[at++];
    m.tx(lead);
    if (lead == '3') break;
    m.after_bytes(30 * MS);
    if (lead != 'u') continue;
    for (int i = 0; i <= page_size; i++) m.tx(records[at++]);
    m.after_bytes(30 * MS);
  }
  *end_us = m.t;
  return m.wire;
}

std::string progress_text(int records) {
  std::string text;
  char line[16];
  for (int i = 0; i < records; i++) {
    snprintf(line, sizeof line, "%4d\r", i);
    text += line;
  }
  return text;
}

class UpdaterRun : public TempDirFixture {
 protected:
  UpdaterRun() : TempDirFixture("morrex_run") {}
  int code = -1;
  int64_t elapsed_us = -1;
  std::string out, err, trace;
  VirtualReceiver *vr = nullptr;

  void SetUp() override {
    clock_use_virtual(true);
    TempDirFixture::SetUp();
  }
  void TearDown() override {
    release_updater();
    TempDirFixture::TearDown();
  }

  std::string file(const Bytes &bytes) {
    std::string path = dir + "/fw.bin";
    EXPECT_TRUE(write_file(path, bytes));
    return path;
  }

  // Runs morrex with the arguments; keeps exit code, time taken, both streams
  // and, when a receiver was opened, its trace.
  void run(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), "morrex");
    std::vector<char *> argv;
    for (std::string &a : arguments) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    int64_t start = clock_now_us();
    code = run_updater((int)arguments.size(), argv.data());
    elapsed_us = clock_now_us() - start;
    out = testing::internal::GetCapturedStdout();
    err = testing::internal::GetCapturedStderr();
    vr = port_handle == INVALID_HANDLE_VALUE ? nullptr : virtual_receiver_of(port_handle);
    trace = vr != nullptr ? vr_trace(vr) : "";
  }
};

// ---------------------------------------------------------------- reset modes

struct ModeCase {
  const char *prefix;
  ResetMode mode;
  int wait_ms;
  const char *reset_text;
};

class ResetModes : public UpdaterRun, public ::testing::WithParamInterface<ModeCase> {};

TEST_P(ResetModes, PutTheWholeSequenceOnTheLineWithItsPauses) {
  const ModeCase &c = GetParam();
  Bytes records = join({page_record(0, 64, 3), {0xCC}, page_record(1, 64, 9), {'3'}});
  run({std::string(c.prefix) + "sim:?instant", file(join({{'8', 0x5A}, records}))});

  ASSERT_EQ(code, EXIT_DONE) << out << err;
  int64_t end_us = 0;
  std::vector<Event> want = expected_wire(c.mode, c.wait_ms, 0x5A, records, 64, &end_us);
  EXPECT_EQ(events(trace, "TX DTR RTS"), want);
  // Configured before anything else happens on the line.
  ASSERT_FALSE(events(trace, "LINE TX").empty());
  EXPECT_EQ(events(trace, "LINE TX")[0], (Event{0, "LINE", "38400 8N1"}));
  EXPECT_EQ(elapsed_us, end_us + 2000 * MS);  // the pause after "fertig"
  EXPECT_EQ(out, std::string(BANNER) + c.reset_text + WAKE_TEXT + progress_text(3) + "fertig\n");
  EXPECT_EQ(err, "");
  EXPECT_EQ(vr_error_count(vr), 0) << trace;
  EXPECT_EQ(vr_state(vr), VR_RUNNING);
}

INSTANTIATE_TEST_SUITE_P(
    Modes, ResetModes,
    ::testing::Values(ModeCase{"", FULL_RESET, 10000, "10 Sekunden Reset....\n"},
                      ModeCase{"x", SHORT_RESET, 2000, "2 Sekunden Reset....\n"},
                      ModeCase{"r", NO_RESET, 0, ""}));

TEST_F(UpdaterRun, HoldsTheReceiverInResetExactlyWhileDtrIsAsserted) {
  run({"xsim:?instant", file({'8', 0, '3'})});
  ASSERT_EQ(code, EXIT_DONE);
  std::vector<Event> states = events(trace, "STATE");
  // Each pause after a byte counts from when it left the wire.
  std::vector<Event> want = {{0, "STATE", "running"},
                             {700 * MS + BYTE_US, "STATE", "reset"},
                             {2700 * MS + BYTE_US, "STATE", "running"},
                             {3440 * MS + 13 * BYTE_US, "STATE", "bootloader"}};  // at 0xFF
  ASSERT_GE(states.size(), want.size()) << trace;
  EXPECT_EQ(std::vector<Event>(states.begin(), states.begin() + 4), want);
  EXPECT_EQ(states.back().name + " " + states.back().value, "STATE running");
}

// ---------------------------------------------------------------- adapter lines

// The gaps between the line events (bytes as they arrive, DTR and RTS) that
// are pauses, not a byte following the one before at line rate.
std::vector<int64_t> pauses_at_the_receiver(const std::string &trace) {
  std::vector<Event> line = events(trace, "TX DTR RTS");
  std::vector<int64_t> gaps;
  for (size_t i = 1; i < line.size(); i++) {
    int64_t gap = line[i].us - line[i - 1].us;
    if (gap > 2 * BYTE_US) gaps.push_back(gap);
  }
  return gaps;
}

// A USB adapter that completes each write when it has taken the byte (CH340
// and PL2303 on Linux): the bytes leave at line rate afterwards, and every
// pause still reaches the receiver whole, as on a port whose writes complete
// when the byte has left.
TEST_F(UpdaterRun, PausesHoldAtTheReceiverWhereWritesCompleteOnHandOver) {
  Bytes records = join({page_record(0, 64, 3), {0xCC}, page_record(1, 64, 9), {'3'}});
  Bytes program = join({{'8', 0x5A}, records});
  run({"xsim:", file(program)});
  ASSERT_EQ(code, EXIT_DONE) << out << err;
  std::vector<int64_t> ideal = pauses_at_the_receiver(trace);
  run({"xsim:?early=0", file(program)});
  ASSERT_EQ(code, EXIT_DONE) << out << err;
  std::vector<int64_t> early = pauses_at_the_receiver(trace);
  // The reset, the wake bytes, the handshake, the count-up, three records.
  ASSERT_GE(ideal.size(), 20u);
  EXPECT_EQ(early, ideal);
  EXPECT_EQ(vr_flash(vr), flash_image(records, 64));
}

// ---------------------------------------------------------------- the flash image

struct FlashCase {
  const char *name;
  const char *port;
  int cpu_id;
  int page_size;
};

class FlashImage : public UpdaterRun, public ::testing::WithParamInterface<FlashCase> {};

TEST_P(FlashImage, HoldsEveryPageOfTheFileAtItsPageNumber) {
  const FlashCase &c = GetParam();
  int p = c.page_size;
  Bytes records = join({page_record(2, p, 0x10),
                        page_record(0, p, 0x20),
                        {0xCC},
                        page_record(5, p, 0xFE),
                        page_record(1, p, 0x33),
                        {'3'}});
  run({c.port, file(join({{(uint8_t)c.cpu_id, 0x77}, records, {'u', 0xFF}}))});

  ASSERT_EQ(code, EXIT_DONE) << out << err;
  Bytes image = flash_image(records, p);
  ASSERT_EQ(image.size(), (size_t)(6 * p));
  EXPECT_EQ(vr_flash(vr), image);
  EXPECT_EQ(vr_error_count(vr), 0) << trace;
  // Nothing after the end record went out.
  std::vector<Event> tx = events(trace, "TX");
  ASSERT_FALSE(tx.empty());
  EXPECT_EQ(tx.back().value, "33");
  EXPECT_EQ(tx.size(), 13 + 2 + 256 + records.size());
}

INSTANTIATE_TEST_SUITE_P(PageSizes, FlashImage,
                         ::testing::Values(FlashCase{"page64", "rsim:?instant", '8', 64},
                                           FlashCase{"page128", "rsim:?instant,cpu=6", '6', 128},
                                           FlashCase{"page64_line", "rsim:", '8', 64}),
                         [](const ::testing::TestParamInfo<FlashCase> &i) { return i.param.name; });

TEST_F(UpdaterRun, SendsCountUpAndPageBodiesBackToBackAtLineSpeed) {
  run({"rsim:", file(join({{'8', 1}, page_record(0, 64, 0), {'3'}}))});
  ASSERT_EQ(code, EXIT_DONE);
  std::vector<Event> tx = events(trace, "TX");
  ASSERT_EQ(tx.size(), 13u + 2 + 256 + 66 + 1);
  const int64_t byte_us = 260;  // ten bit times at 38400 baud
  // count-up: bytes 15..270; page body: bytes 272..336
  for (size_t i = 16; i < 271; i++) EXPECT_EQ(tx[i].us - tx[i - 1].us, byte_us) << i;
  for (size_t i = 273; i < 337; i++) EXPECT_EQ(tx[i].us - tx[i - 1].us, byte_us) << i;
  EXPECT_EQ(tx[15].us - tx[14].us, 50 * MS + byte_us);    // handshake byte to count-up
  EXPECT_EQ(tx[271].us - tx[270].us, 20 * MS + byte_us);  // count-up to 'u'
  EXPECT_EQ(tx[272].us - tx[271].us, 30 * MS + byte_us);  // 'u' to its body
  EXPECT_EQ(tx[337].us - tx[336].us, 30 * MS + byte_us);  // body to '3'
}

// ---------------------------------------------------------------- failures

struct FailureCase {
  const char *name;
  Bytes file;  // empty with no_file: the file does not exist
  bool no_file;
  int code;
  const char *out;  // after the banner
  const char *err;
};

std::vector<FailureCase> failure_cases() {
  return {
      {"missing_file", {}, true, EXIT_PROGRAM_FILE, "", "@: No such file or directory\n"},
      {"empty_file", {}, false, EXIT_CPU_ID, "ung\xC3\xBCltige CPU-Kennung!\n", ""},
      {"bad_cpu", {'7', 0, '3'}, false, EXIT_CPU_ID, "ung\xC3\xBCltige CPU-Kennung!\n", ""},
      {"cpu_only", {'8'}, false, EXIT_FILE_ENDS, "interner Fehler 1\n", ""},
      {"header_only", {'8', 0x11}, false, EXIT_FILE_ENDS, "interner Fehler 1\n", ""},
      {"no_end_record", join({{'8', 0}, page_record(0, 64, 1), {0xCC}}), false, EXIT_FILE_ENDS,
       "interner Fehler 1\n", ""},
      {"ends_inside_page", join({{'8', 0}, {'u', 0, 1, 2}}), false, EXIT_FILE_ENDS,
       "interner Fehler 1\n", ""},
      {"upper_case_U", join({{'8', 0}, page_record(0, 64, 1), {'U', '3'}}), false, EXIT_BAD_RECORD,
       "interner Fehler 2\n", ""},
      {"lead_00", {'8', 0, 0xCC, 0x00, '3'}, false, EXIT_BAD_RECORD, "interner Fehler 2\n", ""},
      {"lead_FF", {'6', 0, 0xFF, '3'}, false, EXIT_BAD_RECORD, "interner Fehler 2\n", ""},
  };
}

class FileFaults : public UpdaterRun, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(FileFaults, EndTheRunBeforeAnyByteIsSent) {
  const FailureCase &c = GetParam();
  std::string path = c.no_file ? dir + "/missing.bin" : file(c.file);
  run({"sim:?instant", path});

  EXPECT_EQ(code, c.code);
  std::string want_err = c.err;
  if (want_err.compare(0, 1, "@") == 0) want_err = path + want_err.substr(1);
  EXPECT_EQ(out, std::string(BANNER) + c.out);
  EXPECT_EQ(err, want_err);
  EXPECT_EQ(elapsed_us, 3000 * MS);
  ASSERT_NE(vr, nullptr);
  // The port was opened and configured, the lines released, and nothing sent.
  EXPECT_EQ(events(trace, "LINE TX DTR RTS"), (std::vector<Event>{{0, "LINE", "38400 8N1"}}));
}

INSTANTIATE_TEST_SUITE_P(Files, FileFaults, ::testing::ValuesIn(failure_cases()),
                         [](const ::testing::TestParamInfo<FailureCase> &i) {
                           return i.param.name;
                         });

TEST_F(UpdaterRun, WithoutBothArgumentsShowsTheUsageAndTouchesNoPort) {
  for (std::vector<std::string> arguments :
       {std::vector<std::string>{}, std::vector<std::string>{"xsim:" + dir + "/receiver"}}) {
    run(arguments);
    EXPECT_EQ(code, EXIT_USAGE);
    EXPECT_EQ(out, std::string(BANNER) + "Usage: morrex COMx Programmfile\n");
    EXPECT_EQ(err, "");
    EXPECT_EQ(elapsed_us, 3000 * MS);
    EXPECT_EQ(port_handle, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(std::filesystem::exists(dir + "/receiver"));
  }
}

TEST_F(UpdaterRun, APortThatCannotBeOpenedEndsTheRunOnStandardError) {
  // The cause in the system's words: the C library's.
  const std::string not_found = "Grund: " + system_words(ENOENT) + "\n";
  struct {
    const char *argument;
    std::string err;
  } cases[] = {
      {"r/nonexistent/tty", "Open /nonexistent/tty: Error 2\n" + not_found + PORTS_HINT},
      {"x/nonexistent/ttyUSB9", "Open /nonexistent/ttyUSB9: Error 2\n" + not_found + PORTS_HINT},
  };
  for (const auto &c : cases) {
    run({c.argument, file({'8', 0, '3'})});
    EXPECT_EQ(code, EXIT_PORT);
    EXPECT_EQ(out, BANNER);
    EXPECT_EQ(err, c.err);
    EXPECT_EQ(elapsed_us, 3000 * MS);
  }
}

TEST_F(UpdaterRun, HelpAndVersionTellWhatTheProgramIsAndEndAtOnce) {
  run({"--help"});
  EXPECT_EQ(code, 0);
  EXPECT_EQ(elapsed_us, 0);
  EXPECT_EQ(out.compare(0, strlen(BANNER), BANNER), 0) << out;
  EXPECT_NE(out.find("Flash-Speicher"), std::string::npos) << out;
  EXPECT_NE(out.find("--ports"), std::string::npos) << out;
  EXPECT_NE(out.find("Usage: morrex COMx Programmfile\n"), std::string::npos) << out;
  EXPECT_NE(out.find("Version 1.1, 11.1.2005\n", strlen(BANNER)), std::string::npos) << out;
  EXPECT_EQ(err, "");

  // The package's version first, as GNU programs print it, then the banner.
  run({"--version"});
  EXPECT_EQ(code, 0);
  EXPECT_EQ(elapsed_us, 0);
  EXPECT_EQ(out, "morrex " PROJECT_VERSION_TEXT "\n" + std::string(BANNER));
  EXPECT_EQ(err, "");
}

TEST_F(UpdaterRun, AFailingWriteIsReportedForEachByteAndTheRunGoesOnButDoesNotEndAsDone) {
  // The adapter is pulled after the fifth wake byte.
  Bytes records = join({page_record(0, 64, 1), {'3'}});
  run({"rsim:?instant,unplug=5", file(join({{'8', 0}, records}))});

  int failed = 13 + 2 + 256 + (int)records.size() - 5;
  std::string want_err;
  // Each with its cause in the system's words: the adapter is gone.
  for (int i = 0; i < failed; i++) {
    want_err += "WriteFile returns 1167: " + system_words(ENODEV) + "\n";
  }
  EXPECT_EQ(err, want_err);
  // Not "fertig": the receiver did not get the firmware.
  EXPECT_EQ(code, EXIT_PORT);
  // On a line of its own, not over the progress count.
  EXPECT_EQ(out, std::string(BANNER) + WAKE_TEXT + progress_text(1) +
                     "\n\xC3\x9C"
                     "bertragung unvollst\xC3\xA4ndig: " +
                     std::to_string(failed) + " Bytes nicht gesendet\n");
  // Every pause was still made, then the failure's own.
  int64_t end_us = 0;
  expected_wire(NO_RESET, 0, 0, records, 64, &end_us, 5);
  EXPECT_EQ(elapsed_us, end_us + 3000 * MS);
  EXPECT_EQ(events(trace, "TX").size(), 5u);
}

// Only a regular file is a program file: nothing else may hold up the open, be
// read for ever, or be taken for a bad CPU identifier. Each ends the run as a
// file that cannot be opened, before any byte is sent.
struct HostileProgramPath {
  const char *name;
  std::string (*make)(const std::string &dir);
  const char *err;  // after "PATH: "
};

std::string a_directory(const std::string &dir) {
  std::string path = dir + "/firmware";
  mkdir(path.c_str(), 0700);
  return path;
}

std::string a_fifo(const std::string &dir) {
  std::string path = dir + "/fifo.bin";
  mkfifo(path.c_str(), 0600);
  return path;
}

// A writer keeps it open: one read too many would wait for ever.
std::string a_pipe_with_a_writer(const std::string &) {
  static int pipe_ends[2] = {-1, -1};
  if (pipe_ends[0] < 0 && pipe(pipe_ends) == 0) {
    const uint8_t bytes[] = {'8', 0x42, 0xCC, '3'};
    EXPECT_EQ(write(pipe_ends[1], bytes, sizeof bytes), (ssize_t)sizeof bytes);
  }
  return "/dev/fd/" + std::to_string(pipe_ends[0]);
}

std::string endless_zero_bytes(const std::string &) {
  return "/dev/zero";
}

std::string too_large(const std::string &dir) {
  std::string path = dir + "/huge.bin";
  Bytes bytes = {'8', 'U'};
  bytes.resize(PROGRAM_FILE_LIMIT + 100, 0xCC);
  bytes.back() = '3';
  EXPECT_TRUE(write_file(path, bytes));
  return path;
}

const HostileProgramPath hostile_program_paths[] = {
    {"directory", a_directory, "Is a directory\n"},
    {"fifo_without_writer", a_fifo, "Not a regular file\n"},
    {"pipe_with_writer", a_pipe_with_a_writer, "Not a regular file\n"},
    {"dev_zero", endless_zero_bytes, "Not a regular file\n"},
    {"over_the_size_limit", too_large, "Programmdatei zu gro\xC3\x9F (mehr als 1048576 Bytes)\n"},
};

class HostileProgramPaths : public UpdaterRun,
                            public ::testing::WithParamInterface<HostileProgramPath> {};

TEST_P(HostileProgramPaths, EndTheRunLikeAFileThatCannotBeOpened) {
  const HostileProgramPath &c = GetParam();
  std::string path = c.make(dir);
  run({"sim:?instant", path});
  EXPECT_EQ(code, EXIT_PROGRAM_FILE);
  EXPECT_EQ(out, BANNER);
  EXPECT_EQ(err, path + ": " + c.err);
  EXPECT_EQ(elapsed_us, 3000 * MS);
  ASSERT_NE(vr, nullptr);
  EXPECT_EQ(events(trace, "LINE TX DTR RTS"), (std::vector<Event>{{0, "LINE", "38400 8N1"}}));
  EXPECT_LE(program_records.size(), PROGRAM_FILE_LIMIT) << "memory stays bounded";
}

INSTANTIATE_TEST_SUITE_P(Paths, HostileProgramPaths, ::testing::ValuesIn(hostile_program_paths),
                         [](const ::testing::TestParamInfo<HostileProgramPath> &i) {
                           return std::string(i.param.name);
                         });

// ---------------------------------------------------------------- --check

// "Reset und Wecken A s, Übertragung B s": the two parts of the length a
// check names, in seconds; false when the line is missing.
bool check_parts(const std::string &out, double *start_s, double *transfer_s) {
  size_t at = out.find("Reset und Wecken ");
  return at != std::string::npos && sscanf(out.c_str() + at,
                                           "Reset und Wecken %lf s, \xC3\x9C"
                                           "bertragung %lf s",
                                           start_s, transfer_s) == 2;
}

class CheckLength : public UpdaterRun, public ::testing::WithParamInterface<ModeCase> {};

// The check opens nothing and waits for nothing, and the length it names is
// the length of the update it checked, on the virtual clock.
TEST_P(CheckLength, NamesTheLengthOfTheUpdateAndOpensNoPort) {
  const ModeCase &c = GetParam();
  std::string path =
      file(join({{'8', 0x5A}, page_record(0, 64, 3), {0xCC}, page_record(1, 64, 9), {'3'}}));
  std::string port = std::string(c.prefix) + "sim:" + dir + "/receiver";
  run({"--check", port, path});
  ASSERT_EQ(code, EXIT_DONE) << out << err;
  EXPECT_EQ(elapsed_us, 0);
  EXPECT_EQ(port_handle, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(std::filesystem::exists(dir + "/receiver"));
  EXPECT_NE(out.find("CPU-Kennung 8, Seitengr\xC3\xB6\xC3\x9F"
                     "e 64 Bytes, 2 Seiten, "
                     "1 Einzelbyte-Records"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("morrex --check " + path + ": Programmdatei in Ordnung (Exit-Code 0)\n"),
            std::string::npos)
      << out;
  double start_s = 0, transfer_s = 0;
  ASSERT_TRUE(check_parts(out, &start_s, &transfer_s)) << out;

  run({port, path});
  ASSERT_EQ(code, EXIT_DONE) << out << err;
  EXPECT_NEAR(elapsed_us / 1e6, start_s + transfer_s + 2.0, 0.002);
}

INSTANTIATE_TEST_SUITE_P(Modes, CheckLength,
                         ::testing::Values(ModeCase{"", FULL_RESET, 10000, ""},
                                           ModeCase{"x", SHORT_RESET, 2000, ""},
                                           ModeCase{"r", NO_RESET, 0, ""}));

class CheckFaults : public UpdaterRun, public ::testing::WithParamInterface<FailureCase> {};

// Every fault a run finds before its reset, a check finds too, with the same
// message and exit code, and without the pause or a port.
TEST_P(CheckFaults, EndWithTheRunsCodeAndMessageAtOnce) {
  const FailureCase &c = GetParam();
  std::string path = c.no_file ? dir + "/missing.bin" : file(c.file);
  run({"--check", path});
  EXPECT_EQ(code, c.code);
  std::string want_err = c.err;
  if (want_err.compare(0, 1, "@") == 0) want_err = path + want_err.substr(1);
  EXPECT_EQ(err, want_err);
  EXPECT_EQ(out.compare(0, strlen(BANNER) + strlen(c.out), std::string(BANNER) + c.out), 0) << out;
  EXPECT_NE(out.find("(Exit-Code " + std::to_string(c.code) + ")\n"), std::string::npos) << out;
  EXPECT_EQ(elapsed_us, 0);
  EXPECT_EQ(port_handle, INVALID_HANDLE_VALUE);
}

INSTANTIATE_TEST_SUITE_P(Files, CheckFaults, ::testing::ValuesIn(failure_cases()),
                         [](const ::testing::TestParamInfo<FailureCase> &i) {
                           return i.param.name;
                         });

TEST_F(UpdaterRun, ACheckWithoutAProgramFileIsAUsageError) {
  run({"--check"});
  EXPECT_EQ(code, EXIT_USAGE);
  EXPECT_EQ(out, std::string(BANNER) + "Usage: morrex COMx Programmfile\n");
  EXPECT_EQ(elapsed_us, 0);
}

}  // namespace
