// Reads over lines like USB serial adapters' (the virtual receiver's adapter
// options), on the virtual clock: the line's check finds what each line is,
// and whatever the line, no value is ever reported as read that the receiver
// does not hold.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>

#include "link/line_check.h"
#include "link/receiver_protocol.h"
#include "link/serial_port.h"
#include "platform/clock.h"
#include "virtual_receiver/virtual_receiver.h"

namespace {

class AdapterReads : public ::testing::Test {
 protected:
  VirtualReceiver *vr = nullptr;

  void SetUp() override { clock_use_virtual(true); }
  void TearDown() override { disconnect(); }

  // The receiver behind name, woken into service mode as tarvel's start
  // leaves it, its line not yet checked.
  void connect(const std::string &name) {
    disconnect();
    port_handle = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OVERLAPPED | FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(port_handle, INVALID_HANDLE_VALUE) << name;
    port_config_size = sizeof(COMMCONFIG);
    GetCommConfig(port_handle, &port_config, &port_config_size);
    apply_line_settings(&port_config.dcb, 38400, 8, 0, 1, 12, 12);
    SetCommConfig(port_handle, &port_config, port_config_size);
    line_check_forget();
    receiver_messages_quiet = 1;
    reset_receiver(2000);
    vr = virtual_receiver_of(port_handle);
    ASSERT_NE(vr, nullptr);
  }
  void disconnect() {
    if (port_handle != INVALID_HANDLE_VALUE) CloseHandle(port_handle);
    port_handle = INVALID_HANDLE_VALUE;
    vr = nullptr;
  }
};

struct CheckCase {
  const char *options;
  int verdict;
  int64_t least_wait_us;  // the sample wait the check must arrive at, at least
  int64_t most_wait_us;   // and at most
};

// What the check finds on each kind of line, and the wait it sets: never
// shorter than the line needs, not much longer.
TEST_F(AdapterReads, TheCheckFindsWhatTheLineIs) {
  const CheckCase cases[] = {
      {"", LINE_SERVES, 1000, 1000},
      {"?instant", LINE_SERVES, 1000, 1000},
      {"?fail=2", LINE_SERVES, 1000, 1000},       // refusals now and then are the receiver's
      {"?status=1000", LINE_SERVES, 1000, 1000},  // the round trip shows a fresh level
      {"?early=0", LINE_SERVES, 1000, 1300},
      {"?early=1000", LINE_SERVES, 2000, 2600},
      {"?tick=1000", LINE_SERVES, 2000, 2600},
      {"?tick=16000,tickdelay=1000", LINE_SERVES, 17000, 19500},
      {"?jitter=2000", LINE_SERVES, 2700, 3600},
      {"?absent", LINE_SILENT, 0, 0},
      {"?stuck", LINE_STUCK, 0, 0},
      {"?stuck,tick=16000", LINE_STUCK, 0, 0},
      {"?fail=1", LINE_SILENT, 0, 0},  // CV 1 holds 0 and nothing is confirmed
      // An answer later than the longest the check waits for.
      {"?early=40000", LINE_NO_CONFIRM, 0, 0},
  };
  for (const CheckCase &c : cases) {
    connect(std::string("sim:") + c.options);
    int64_t started = clock_now_us();
    EXPECT_EQ(line_check(LINE_CHECK_PAIRS), c.verdict) << c.options;
    // A few seconds at most, even on the slowest line.
    EXPECT_LT(clock_now_us() - started, 5000000) << c.options;
    if (c.verdict == LINE_SERVES) {
      EXPECT_GE(answer_wait_us, c.least_wait_us) << c.options;
      EXPECT_LE(answer_wait_us, c.most_wait_us) << c.options;
      EXPECT_EQ(line_slow, answer_wait_us > 1000) << c.options;
      EXPECT_EQ(line_measure.answers, LINE_CHECK_PAIRS) << c.options;
    }
  }
}

// A line drawn at random: when a byte reaches the receiver, how the status
// comes back, when answers show; its worst answer delay stays within 20 ms.
std::string random_line(std::mt19937 &draw) {
  std::string options;
  auto add = [&options](const std::string &option) {
    options += (options.empty() ? "?" : ",") + option;
  };
  auto upto = [&draw](int most) { return std::uniform_int_distribution<int>(0, most)(draw); };
  int worst = 1000;
  if (upto(2) > 0) {
    int early = upto(3000);
    add("early=" + std::to_string(early));
    worst += early;
  }
  if (upto(1) > 0) add("status=" + std::to_string(upto(1200)));
  int jitter = upto(2) > 0 ? upto(2000) : 0;
  if (jitter > 0) add("jitter=" + std::to_string(jitter) + ",seed=" + std::to_string(upto(1000)));
  worst += jitter;
  if (upto(2) > 0) {
    int tick = 500 + upto(20000 - worst - 2500);
    int delay = upto(2000);
    add("tick=" + std::to_string(tick) + ",tickdelay=" + std::to_string(delay));
  }
  return "sim:" + options;
}

// Thousands of reads over random lines: a value reported as read is the
// receiver's, every time; and nearly every read succeeds.
TEST_F(AdapterReads, NoWrongValueIsEverReportedAsRead) {
  std::mt19937 draw(20261209);
  const int lines = 48, reads = 100;
  int wrong = 0, failed = 0;
  for (int l = 0; l < lines; l++) {
    std::string name = random_line(draw);
    connect(name);
    ASSERT_EQ(line_check(LINE_CHECK_PAIRS), LINE_SERVES) << name;
    for (int cv = 1; cv <= 256; cv++) {
      vr_set_cv(vr, 0, cv, (int)(draw() % 256));
      vr_set_cv(vr, 1, cv, (int)(draw() % 256));
    }
    int failed_before = failed;
    for (int r = 0; r < reads; r++) {
      cv_selection = {1 + (int)(draw() % 256), (int)(draw() % 2), 0};
      if (line_check_due()) line_check(LINE_RECHECK_PAIRS);
      int value = read_cv();
      int held = vr_cv(vr, cv_selection.bank, cv_selection.number);
      if (value < 0) {
        failed++;
      } else if (value != held) {
        wrong++;
        ADD_FAILURE() << name << ": CV " << cv_selection.number << (cv_selection.bank ? "a" : "")
                      << " read as " << value << ", the receiver holds " << held;
      }
    }
    EXPECT_LT(failed - failed_before, reads / 4) << name << ": reads that failed";
  }
  EXPECT_EQ(wrong, 0);
  EXPECT_LT(failed, lines * reads / 50) << "reads that failed";
}

// A line whose status comes late is read with the complement refused and the
// confirmation sampled twice: ten questions a CV, the samples after the
// measured delay, and the 3 ms after each sample as ever.
TEST_F(AdapterReads, ASlowLineIsReadWithTheComplementRefused) {
  connect("sim:?tick=4000");
  ASSERT_EQ(line_check(LINE_CHECK_PAIRS), LINE_SERVES);
  ASSERT_TRUE(line_slow);
  vr_set_cv(vr, 0, 29, 6);
  cv_selection = {29, 0, 0};
  std::string before = vr_trace(vr);
  int64_t started = clock_now_us();
  EXPECT_EQ(read_cv(), 6);
  int64_t took = clock_now_us() - started;
  std::string trace = vr_trace(vr).substr(before.size());
  size_t opcodes = 0, at = 0;
  while ((at = trace.find(" TX AF\n", at)) != std::string::npos) opcodes++, at++;
  EXPECT_EQ(opcodes, 2u) << trace;  // the value, then its complement
  EXPECT_NE(trace.find(" TX F9\n"), std::string::npos) << "the complement of 6";
  // Ten questions of 4 bytes, the measured wait and 3 ms; a second sample.
  int64_t least = 10 * (4 * 260 + answer_wait_us + 3000);
  EXPECT_GE(took, least);
  EXPECT_LE(took, least + 2000);
}

// A stuck line confirms everything, so nothing read on it counts; an ideal
// line reads a 255 with one more verify, which the receiver refuses.
TEST_F(AdapterReads, TwoFiftyFiveCountsOnlyWhereItsComplementIsRefused) {
  const struct {
    const char *port;
    int result;
  } cases[] = {{"sim:?stuck", -1}, {"sim:", 255}, {"sim:?tick=16000", 255}};
  for (const auto &c : cases) {
    connect(c.port);
    line_check(LINE_CHECK_PAIRS);
    vr_set_cv(vr, 1, 200, 255);
    cv_selection = {200, 1, 0};
    EXPECT_EQ(read_cv(), c.result) << c.port;
  }
}

}  // namespace
