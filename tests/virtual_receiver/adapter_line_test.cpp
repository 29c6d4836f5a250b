// The line of a USB serial adapter: writes that complete before their bytes
// arrive (early=), a modem status that costs a round trip (status=), that is
// reported at ticks (tick=, tickdelay=) or whose answers come late by chance
// (jitter=, seed=).
#include <algorithm>
#include <future>
#include <set>

#include "tests/virtual_receiver/receiver_fixture.h"

namespace {

// A verify of normal CV 1, which holds 0: its answer is DSR on.
const std::vector<int> VERIFY_TRUE = {0x00, 0x00, 0x00, 0xAF};
// Writes 0x42 into normal CV 1.
const std::vector<int> WRITE_42 = {0x00, 0x00, 0x42, 0xAE};

class AdapterLine : public ReceiverTest {
 protected:
  // On any line, early= too: the wake bytes are given time to arrive.
  void wake_into_service_mode() {
    configure(false, true);
    send(SERVICE_WAKE);
    pause_us(10000);
    ASSERT_EQ(vr_state(vr), VR_SERVICE);
  }
  // Sends a command's first three bytes, lets them arrive, then the opcode
  // onto an idle line. Returns when the opcode's write returned.
  int64_t send_opcode_on_idle_line(const std::vector<int> &command) {
    send({command[0], command[1], command[2]});
    pause_us(5000);
    send({command[3]});
    return clock_now_us();
  }
  void sleep_until(int64_t at_us) { clock_sleep_until_us(at_us); }
  // The time of each trace line, in order.
  std::vector<int64_t> trace_times() {
    std::vector<int64_t> times;
    std::string text = trace();
    for (size_t at = 0; at < text.size(); at = text.find('\n', at) + 1) {
      times.push_back(std::stoll(text.substr(at)));
    }
    return times;
  }
};

// ---- the names --------------------------------------------------------------

struct AcceptedName {
  const char *name;
  int64_t write_us;   // how long a one-byte write takes
  int64_t status_us;  // how long a modem status call takes
};

class AcceptedAdapterName : public AdapterLine,
                            public ::testing::WithParamInterface<AcceptedName> {};

INSTANTIATE_TEST_SUITE_P(
    Names, AcceptedAdapterName,
    ::testing::Values(
        AcceptedName{"sim:", 260, 0}, AcceptedName{"sim:?early=0", 0, 0},
        AcceptedName{"sim:?early=999999999", 0, 0}, AcceptedName{"sim:?status=0", 260, 0},
        AcceptedName{"sim:?status=1000", 260, 1000}, AcceptedName{"sim:?tick=16000", 260, 0},
        AcceptedName{"sim:?tick=1,tickdelay=0", 260, 0},
        AcceptedName{"sim:?jitter=0,seed=0", 260, 0}, AcceptedName{"sim:?seed=7", 260, 0},
        AcceptedName{"sim:?stuck,status=700,early=5", 0, 700},
        AcceptedName{"sim:?absent,tick=16000,tickdelay=2000,jitter=300,seed=42", 260, 0},
        AcceptedName{"sim:?instant,early=100,status=3", 0, 3}));

TEST_P(AcceptedAdapterName, OpensAndTimesWritesAndStatusCalls) {
  open(GetParam().name);
  configure(false, true);
  int64_t start = clock_now_us();
  send({0x41});
  EXPECT_EQ(clock_now_us() - start, GetParam().write_us);
  pause_us(5000);
  start = clock_now_us();
  dsr();
  EXPECT_EQ(clock_now_us() - start, GetParam().status_us);
}

class RefusedAdapterName : public ::testing::TestWithParam<const char *> {};

INSTANTIATE_TEST_SUITE_P(Names, RefusedAdapterName,
                         ::testing::Values("sim:?early=", "sim:?early", "sim:?early=-1",
                                           "sim:?early=+5", "sim:?early=1e3",
                                           "sim:?early=1234567890", "sim:?Early=0", "sim:?status=x",
                                           "sim:?status=1000us", "sim:?tick=0",
                                           "sim:?tick=", "sim:?tickdelay=2000", "sim:?tickdelay=0",
                                           "sim:?tick=16000,tickdelay=abc", "sim:?jitter=-3",
                                           "sim:?jitter= 5", "sim:?seed=", "sim:?early=1,",
                                           "sim:?absent,stuck,early=0"));

TEST_P(RefusedAdapterName, FailsWithInvalidParameter) {
  DWORD error = 0;
  SerialDevice *device = virtual_receiver_open_device(GetParam(), &error);
  EXPECT_EQ(device, nullptr);
  EXPECT_EQ(error, (DWORD)ERROR_INVALID_PARAMETER);
  delete device;
}

// ---- when an answer shows ---------------------------------------------------

struct AnswerSample {
  const char *name;
  int64_t wait_us;  // from the moment the opcode's write returned
  bool dsr;
  int64_t call_us;  // how long the modem status call takes
};

class AnswerShows : public AdapterLine, public ::testing::WithParamInterface<AnswerSample> {};

INSTANTIATE_TEST_SUITE_P(Lines, AnswerShows,
                         ::testing::Values(
                             // The ideal line: the answer stands 1 ms after the opcode arrived.
                             AnswerSample{"sim:", 1000, true, 0},
                             // early=1000: the opcode arrives 1000 + 260 us after its write began.
                             AnswerSample{"sim:?early=1000", 1000, false, 0},
                             AnswerSample{"sim:?early=1000", 2259, false, 0},
                             AnswerSample{"sim:?early=1000", 2260, true, 0},
                             AnswerSample{"sim:?early=1000", 2300, true, 0},
                             AnswerSample{"sim:?early=0", 1259, false, 0},
                             AnswerSample{"sim:?early=0", 1260, true, 0},
                             // status=1000: the adapter reads DSR halfway through the call.
                             AnswerSample{"sim:?status=1000", 0, false, 1000},
                             AnswerSample{"sim:?status=1000", 499, false, 1000},
                             AnswerSample{"sim:?status=1000", 500, true, 1000},
                             AnswerSample{"sim:?status=1000,early=0", 759, false, 1000},
                             AnswerSample{"sim:?status=1000,early=0", 760, true, 1000},
                             // Too early on an adapter's line reads the line as it is, no ERR.
                             AnswerSample{"sim:?jitter=0", 0, false, 0},
                             AnswerSample{"sim:?jitter=0", 999, false, 0},
                             AnswerSample{"sim:?jitter=0", 1000, true, 0},
                             AnswerSample{"sim:?stuck,early=1000", 0, true, 0},
                             AnswerSample{"sim:?absent,status=1000", 5000, false, 1000}));

TEST_P(AnswerShows, ExactlyWhenTheLineShowsIt) {
  const AnswerSample &row = GetParam();
  int64_t opened = clock_now_us();
  open(row.name);
  configure(false, true);
  send(SERVICE_WAKE);
  pause_us(10000);
  int64_t returned = send_opcode_on_idle_line(VERIFY_TRUE);
  sleep_until(returned + row.wait_us);
  int64_t called = clock_now_us();
  EXPECT_EQ(dsr(), row.dsr);
  EXPECT_EQ(clock_now_us() - called, row.call_us);
  EXPECT_EQ(vr_error_count(vr), 0) << trace();
  // The sample is in the trace when the program had it, with what it was given.
  std::vector<std::string> samples = events(trace(), "DSR");
  ASSERT_FALSE(samples.empty());
  EXPECT_EQ(samples.back(), row.dsr ? "DSR 1" : "DSR 0");
  EXPECT_EQ(trace_times().back(), clock_now_us() - opened);
}

// tick=16000: DSR as the adapter last reported it, at multiples of 16 ms since
// the open, each report tickdelay late.
class Ticks : public AdapterLine, public ::testing::WithParamInterface<int64_t> {};

INSTANTIATE_TEST_SUITE_P(Delays, Ticks, ::testing::Values(0, 2000, 15999));

TEST_P(Ticks, AnAnswerShowsAtTheFirstReportAfterIt) {
  const int64_t tick = 16000, delay = GetParam();
  int64_t opened = clock_now_us();
  open("sim:?tick=16000,tickdelay=" + std::to_string(delay));
  wake_into_service_mode();
  int64_t shows = send_opcode_on_idle_line(VERIFY_TRUE) + 1000;
  int64_t report = opened + ((shows - opened + tick - 1) / tick) * tick + delay;
  ASSERT_LT(shows + 2000, report);
  sleep_until(shows + 2000);
  EXPECT_FALSE(dsr());  // the old level
  sleep_until(report - 1);
  EXPECT_FALSE(dsr());
  sleep_until(report);
  EXPECT_TRUE(dsr());
  // The next byte takes the answer off; the adapter says so at its next report.
  send({0x00});
  int64_t off = clock_now_us();
  int64_t next = opened + ((off - opened + tick - 1) / tick) * tick + delay;
  EXPECT_TRUE(dsr());
  sleep_until(next - 1);
  EXPECT_TRUE(dsr());
  sleep_until(next);
  EXPECT_FALSE(dsr());
  EXPECT_EQ(vr_error_count(vr), 0) << trace();
}

TEST_F(AdapterLine, NoReportBeforeTheFirstTickHasArrived) {
  open("sim:?stuck,tick=16000,tickdelay=3000");
  EXPECT_TRUE(dsr());  // a held line reads held whenever it is asked
  open("sim:?tick=16000,tickdelay=3000");
  EXPECT_FALSE(dsr());
  EXPECT_EQ(vr_error_count(vr), 0);
}

// jitter=200: each answer shows 1000 to 1200 us after its opcode, the same
// delays again for the same seed.
class Jitter : public AdapterLine {
 public:
  std::vector<int64_t> delays(const std::string &name, int answers) {
    std::vector<int64_t> found;
    open(name);
    wake_into_service_mode();
    for (int i = 0; i < answers; ++i) {
      int64_t opcode = send_opcode_on_idle_line(VERIFY_TRUE);
      while (!dsr() && clock_now_us() - opcode < 5000) pause_us(1);
      found.push_back(clock_now_us() - opcode);
      pause_us(3000);
    }
    EXPECT_EQ(vr_error_count(vr), 0);
    return found;
  }
};

TEST_F(Jitter, AnswersComeLateWithinTheBoundAndReproducibly) {
  std::vector<int64_t> first = delays("sim:?jitter=200", 40);
  for (int64_t delay : first) {
    EXPECT_GE(delay, 1000);
    EXPECT_LE(delay, 1200);
  }
  EXPECT_GT(std::set<int64_t>(first.begin(), first.end()).size(), 20u);
  EXPECT_EQ(delays("sim:?jitter=200,seed=1", 40), first);  // seed 1 is the default
  EXPECT_NE(delays("sim:?jitter=200,seed=2", 40), first);
}

TEST_F(Jitter, AnAnswerTakenOffBeforeItShowedNeverShows) {
  open("sim:?jitter=999999");
  wake_into_service_mode();
  send_opcode_on_idle_line(VERIFY_TRUE);
  send({0x00});  // the next command begins at once
  pause_us(2000000);
  EXPECT_FALSE(dsr());
}

// ---- bytes in flight (early=) -----------------------------------------------

TEST_F(AdapterLine, EarlyBytesFollowAtLineRateFromTheirWrite) {
  open("sim:?early=1000");
  configure(false, false);
  int64_t start = clock_now_us();
  BYTE three[3] = {0x01, 0x02, 0x03};
  DWORD written = 0;
  ASSERT_EQ(device->write(three, 3, &written), 0u);
  EXPECT_EQ(written, 3u);
  EXPECT_EQ(clock_now_us(), start);  // complete at hand-over
  pause_us(100);
  send({0x04});  // behind the first three, not 1 ms after its own write
  pause_us(10000);
  send({0x05});  // an idle line: 1 ms after its write, then its line time
  vr_settle(vr);
  EXPECT_EQ(clock_now_us() - start, 10100);  // settling moves no clock
  EXPECT_EQ(events(trace(), "TX").size(), 5u);
  EXPECT_EQ(trace(),
            "0 STATE running\n"
            "0 LINE 38400 8N1\n"
            "1260 TX 01\n"
            "1520 TX 02\n"
            "1780 TX 03\n"
            "2040 TX 04\n"
            "11360 TX 05\n");
}

TEST_F(AdapterLine, ASampleBeforeAByteArrivesSeesTheReceiverAsBefore) {
  open("sim:?early=1000");
  wake_into_service_mode();
  send(VERIFY_TRUE);
  pause_us(5000);
  EXPECT_TRUE(dsr());
  int64_t written = clock_now_us();
  send({0x00});  // the next command: its first byte arrives at +1260
  sleep_until(written + 1259);
  EXPECT_TRUE(dsr());
  sleep_until(written + 1260);
  EXPECT_FALSE(dsr());
}

struct InFlight {
  const char *name;
  int64_t reset_after_us;  // DTR raised this long after the write; -1: never
  int cv1;
};

class DtrInFlight : public AdapterLine, public ::testing::WithParamInterface<InFlight> {};

// The command's bytes arrive 1260 to 2040 us after the write.
INSTANTIATE_TEST_SUITE_P(Orders, DtrInFlight,
                         ::testing::Values(InFlight{"reset_before_bytes", 500, 0},
                                           InFlight{"reset_between_bytes", 1600, 0},
                                           InFlight{"reset_after_bytes", 3000, 0x42},
                                           InFlight{"no_reset", -1, 0x42}),
                         [](const ::testing::TestParamInfo<InFlight> &info) {
                           return std::string(info.param.name);
                         });

TEST_P(DtrInFlight, TakesEffectAtItsTimeAmongTheBytes) {
  open("sim:?early=1000");
  wake_into_service_mode();
  int64_t written = clock_now_us();
  send(WRITE_42);
  bool reset = GetParam().reset_after_us >= 0;
  if (reset) {
    sleep_until(written + GetParam().reset_after_us);
    configure(true, true);
  }
  pause_us(10000);
  EXPECT_EQ(vr_cv(vr, 0, 1), GetParam().cv1);
  EXPECT_EQ(vr_state(vr), reset ? VR_RESET : VR_SERVICE);
  // The trace stays in time order.
  std::vector<int64_t> times = trace_times();
  EXPECT_TRUE(std::is_sorted(times.begin(), times.end())) << trace();
}

TEST_F(AdapterLine, ClosingLetsEveryByteInFlightArrive) {
  open("sim:" + dir() + "?early=1000");
  wake_into_service_mode();
  send(WRITE_42);
  VirtualReceiver *closed = vr;
  close();
  EXPECT_EQ(vr_cv(closed, 0, 1), 0x42);
  EXPECT_EQ(events(vr_trace(closed), "TX").back(), "TX AE");
  EXPECT_NE(read_text(dir() + "/cvs.txt").find("CV   1  =  66 "), std::string::npos);
}

TEST_F(AdapterLine, SettleLetsTheBytesArriveWithoutMovingTheClock) {
  open("sim:?early=5000");
  wake_into_service_mode();
  send(WRITE_42);
  int64_t before = clock_now_us();
  EXPECT_EQ(vr_cv(vr, 0, 1), 0);  // still on their way
  vr_settle(vr);
  EXPECT_EQ(vr_cv(vr, 0, 1), 0x42);
  EXPECT_EQ(clock_now_us(), before);
}

TEST_F(AdapterLine, UnplugCountsBytesHandedOverAndWakesAPendingRead) {
  open("sim:?early=1000,unplug=2");
  configure(false, true);
  std::future<DWORD> read = std::async(std::launch::async, [this] {
    BYTE buffer[8];
    DWORD got = 0;
    return device->read(buffer, sizeof buffer, 10, &got);
  });
  BYTE bytes[3] = {0xF3, 0xF4, 0xF5};
  DWORD written = 0;
  EXPECT_EQ(device->write(bytes, 3, &written), (DWORD)ERROR_DEVICE_NOT_CONNECTED);
  EXPECT_EQ(written, 2u);
  // Both bytes are still on their way: the adapter works until they are out.
  EXPECT_EQ(read.wait_for(std::chrono::milliseconds(50)), std::future_status::timeout);
  EXPECT_EQ(configure(false, false), 0u);
  pause_us(5000);
  ASSERT_EQ(read.wait_for(std::chrono::seconds(5)), std::future_status::ready);
  EXPECT_EQ(read.get(), (DWORD)ERROR_DEVICE_NOT_CONNECTED);
  EXPECT_EQ(events(trace(), "TX").size(), 2u);
}

}  // namespace
