// The receiver protocol against the virtual receiver, on the virtual clock:
// the bytes on the wire, the DSR samples, the answers and every pause.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "link/receiver_protocol.h"
#include "tests/link/link_test_support.h"
#include "virtual_receiver/virtual_receiver.h"

namespace {

class ReceiverProtocol : public ::testing::Test {
 protected:
  VirtualReceiver *vr = nullptr;
  size_t mark = 0;

  void SetUp() override { clock_use_virtual(true); }
  void TearDown() override {
    if (vr != nullptr) {
      EXPECT_EQ(vr_error_count(vr), 0) << vr_trace(vr);
    }
    vr = nullptr;
    if (port_handle != INVALID_HANDLE_VALUE) CloseHandle(port_handle);
    port_handle = INVALID_HANDLE_VALUE;
  }

  // Opens the receiver as open_port leaves it: 38400 8N1, DTR and RTS asserted.
  void connect(const char *name) {
    vr = open_configured_port(name);
    ASSERT_NE(vr, nullptr) << name;
  }
  void connect_in_service(const char *name) {
    connect(name);
    if (vr == nullptr) return;
    reset_receiver(2000);
  }
  // The wire events from now on.
  void start_watching() { mark = vr_trace(vr).size(); }
  std::vector<WireEvent> watched() { return parse_wire_log(vr_trace(vr).substr(mark)); }
};

// A read of 255, which a stuck line gives, ends with a verify of 0 that the
// receiver must refuse.
std::vector<int> read_command_bytes(int bank, int index, int value) {
  std::vector<int> bytes;
  for (int mask = 1; mask <= 0x80; mask <<= 1) bytes.insert(bytes.end(), {bank, index, mask, 0xB0});
  bytes.insert(bytes.end(), {bank, index, value, 0xAF});
  if (value == 255) bytes.insert(bytes.end(), {bank, index, 0, 0xAF});
  return bytes;
}

// Ten bit times at 38400 baud, as the receiver counts them.
const int64_t BYTE_US = 260;

std::vector<std::string> dsr_values(const std::vector<WireEvent> &events) {
  std::vector<std::string> values;
  for (const WireEvent &e : only(events, "DSR")) values.push_back(e.value);
  return values;
}

TEST_F(ReceiverProtocol, ReadsCv29HoldingSixBitByBitInBothBanks) {
  connect_in_service("sim:?instant");
  ASSERT_EQ(vr_state(vr), VR_SERVICE);
  for (int bank = 0; bank <= 1; bank++) {
    vr_set_cv(vr, bank, 29, 6);
    cv_selection = {29, bank, 0};
    start_watching();
    EXPECT_EQ(read_cv(), 6) << bank;
    EXPECT_EQ(cv_selection.value, 6);
    std::vector<WireEvent> events = watched();
    EXPECT_EQ(sent_bytes(events), read_command_bytes(bank, 0x1C, 6)) << bank;
    EXPECT_EQ(dsr_values(events),
              (std::vector<std::string>{"0", "1", "1", "0", "0", "0", "0", "0", "1"}));
  }
}

struct AddressCase {
  int number;
  int bank;
  int index;
  int factory_value;  // normal CV n holds n - 1, alternative 255 - (n - 1)
};

TEST_F(ReceiverProtocol, AddressesCvsByBankAndIndex) {
  connect_in_service("sim:?instant");
  const AddressCase cases[] = {
      {1, 0, 0x00, 0},   {256, 0, 0xFF, 255}, {256, 1, 0xFF, 0},
      {1, 1, 0x00, 255}, {130, 0, 0x81, 129},
  };
  for (const AddressCase &c : cases) {
    cv_selection = {c.number, c.bank, 0};
    start_watching();
    EXPECT_EQ(read_cv(), c.factory_value) << c.number << "/" << c.bank;
    EXPECT_EQ(sent_bytes(watched()), read_command_bytes(c.bank, c.index, c.factory_value));
  }
}

struct LineCase {
  const char *port;
  int result;
  int verified;   // the data byte of the verify command
  unsigned sent;  // bytes of the read
};

TEST_F(ReceiverProtocol, AnswersOfAbsentStuckAndFailingReceivers) {
  const LineCase cases[] = {
      {"sim:?instant,absent", -1, 0x00, 36},  // every bit 0, and 0 is not confirmed
      // Every bit 1 and 255 confirmed, but so is its complement: a stuck line
      // reads nothing.
      {"sim:?instant,stuck", -1, 0xFF, 40},
      {"sim:?instant,fail=1", -1, 16, 36},  // CV 17 holds 16: bits right, verify refused
  };
  for (const LineCase &c : cases) {
    connect_in_service(c.port);
    for (int round = 0; round < 3; round++) {
      cv_selection = {17, 0, 99};
      start_watching();
      EXPECT_EQ(read_cv(), c.result) << c.port;
      EXPECT_EQ(cv_selection.value, c.result) << c.port;
      std::vector<int> sent = sent_bytes(watched());
      ASSERT_EQ(sent.size(), c.sent) << c.port;
      EXPECT_EQ(sent[34], c.verified) << c.port;
    }
    TearDown();
  }
}

TEST_F(ReceiverProtocol, WriteSendsTheValueAndTheReceiverKeepsIt) {
  connect_in_service("sim:?instant");
  const int values[] = {255, 0, 0x5A};
  for (int value : values) {
    cv_selection = {17, 1, value};
    start_watching();
    write_cv();
    EXPECT_EQ(sent_bytes(watched()), (std::vector<int>{0x01, 0x10, value, 0xAE}));
    EXPECT_EQ(vr_cv(vr, 1, 17), value);
    EXPECT_EQ(read_cv(), value);
  }
  EXPECT_EQ(vr_cv(vr, 0, 17), 16);  // the normal bank is untouched
}

TEST_F(ReceiverProtocol, ReadPausesOneMillisecondBeforeEachSampleAndThreeAfter) {
  connect_in_service("sim:");
  cv_selection = {29, 0, 0};
  start_watching();
  int64_t started = clock_now_us();
  read_cv();
  int64_t ended = clock_now_us();
  std::vector<WireEvent> events = watched();
  int samples = 0;
  for (size_t i = 0; i < events.size(); i++) {
    if (events[i].event != "DSR") continue;
    samples++;
    ASSERT_GE(i, 1u);
    EXPECT_EQ(events[i - 1].event, "TX");
    EXPECT_EQ(events[i].us - events[i - 1].us, 1000) << "opcode to sample " << samples;
    if (i + 1 < events.size()) {
      EXPECT_EQ(events[i + 1].us - events[i].us, 3000 + BYTE_US)
          << "sample to the next command's first byte " << samples;
    }
  }
  EXPECT_EQ(samples, 9);
  // No pause but the protocol's own and the bytes' line time: the first byte
  // goes out at once, the last sample is followed by 3 ms.
  EXPECT_EQ(events.back().us - events.front().us, 8 * (4000 + 4 * BYTE_US) + 3 * BYTE_US + 1000);
  EXPECT_EQ(ended - started, 9 * (4000 + 4 * BYTE_US));
}

TEST_F(ReceiverProtocol, SamplesNoSoonerThanOneMillisecondAfterTheOpcodeArrived) {
  // With line time each byte takes 260 us; the pause counts from its arrival.
  connect_in_service("sim:");
  cv_selection = {29, 0, 0};
  start_watching();
  EXPECT_EQ(read_cv(), 28);
  std::vector<WireEvent> events = watched();
  for (size_t i = 1; i < events.size(); i++) {
    if (events[i].event == "DSR") {
      EXPECT_GE(events[i].us - events[i - 1].us, 1000);
    }
  }
}

// A line that takes bytes at once (a USB adapter that completes on hand-over)
// still gives each its line time before the pause begins.
TEST_F(ReceiverProtocol, WritePausesTenMillisecondsAfterTheLastByteLeft) {
  for (const char *port : {"sim:", "sim:?instant"}) {
    connect_in_service(port);
    cv_selection = {5, 0, 77};
    start_watching();
    int64_t started = clock_now_us();
    write_cv();
    EXPECT_EQ(clock_now_us() - started, 4 * BYTE_US + 10000) << port;
    EXPECT_EQ(sent_bytes(watched()).size(), 4u);
    TearDown();
  }
}

TEST_F(ReceiverProtocol, WriteSendsFourBytes) {
  connect_in_service("sim:?instant");
  cv_selection = {5, 0, 77};
  start_watching();
  write_cv();
  EXPECT_EQ(sent_bytes(watched()).size(), 4u);
}

// The times of the events, relative to the first DTR change of the sequence.
struct Expected {
  const char *event;
  const char *value;
  int64_t after_previous_us;
};

void expect_reset_sequence(const std::vector<WireEvent> &events, int wait_ms) {
  // A byte shows when it has arrived, one byte time after it was sent.
  std::vector<Expected> want = {
      {"DTR", "0", 0},
      {"TX", "41", 500000 + BYTE_US},
      {"DTR", "1", 200000},
      {"DTR", "0", (int64_t)wait_ms * 1000},
      {"TX", "F3", 20000 + BYTE_US},
  };
  const char *wake[] = {"F4", "F5", "F6", "F7", "F8", "F9", "FA", "FB", "FC", "FD", "FE", "55"};
  for (const char *byte : wake) want.push_back({"TX", byte, 20000 + BYTE_US});
  std::vector<WireEvent> line;
  for (const WireEvent &e : events)
    if (e.event == "DTR" || e.event == "RTS" || e.event == "TX") line.push_back(e);
  ASSERT_EQ(line.size(), want.size());
  for (size_t i = 0; i < want.size(); i++) {
    EXPECT_EQ(line[i].event, want[i].event) << i;
    EXPECT_EQ(line[i].value, want[i].value) << i;
    if (i > 0) {
      EXPECT_EQ(line[i].us - line[i - 1].us, want[i].after_previous_us) << i;
    }
  }
}

TEST_F(ReceiverProtocol, ResetHoldsDtrForTheWaitThenWakesWithTwelveBytesAndU) {
  const int waits[] = {10000, 2000};
  for (int wait : waits) {
    connect("sim:");
    start_watching();
    int64_t started = clock_now_us();
    reset_receiver(wait);
    int64_t took = clock_now_us() - started;
    std::vector<WireEvent> events = watched();
    expect_reset_sequence(events, wait);
    EXPECT_EQ(took, 2980000 + (int64_t)wait * 1000 + 14 * BYTE_US) << wait;
    EXPECT_EQ(vr_state(vr), VR_SERVICE);
    TearDown();
  }
}

TEST_F(ReceiverProtocol, QuitSendsFourQuitBytesAndLeavesServiceMode) {
  connect_in_service("sim:?instant");
  start_watching();
  int64_t started = clock_now_us();
  quit_receiver();
  EXPECT_EQ(clock_now_us() - started, 4 * BYTE_US + 20000);
  EXPECT_EQ(sent_bytes(watched()), (std::vector<int>{0xEE, 0xEE, 0xEE, 0xEE}));
  EXPECT_NE(vr_state(vr), VR_SERVICE);
}

}  // namespace
