// The trace: its line format, the line time of each byte, and the events a
// program's calls leave.
#include <algorithm>
#include <regex>
#include <set>

#include "tests/virtual_receiver/receiver_fixture.h"

namespace {

class WireTrace : public ReceiverTest {};

TEST_F(WireTrace, BytesArriveAtTenBitTimesEach) {
  open("sim:");
  configure(false, true);
  int64_t start = clock_now_us();
  send({0xF3, 0xF4});
  BYTE burst[2] = {0xF5, 0x0A};
  DWORD written = 0;
  ASSERT_EQ(device->write(burst, 2, &written), 0u);
  // write returns once its bytes have arrived.
  EXPECT_EQ(clock_now_us() - start, 4 * 260);
  pause_us(1000);
  send({0x41});
  EXPECT_EQ(trace(),
            "0 STATE running\n"
            "0 LINE 38400 8N1\n"
            "0 RTS 1\n"
            "260 TX F3\n"
            "520 TX F4\n"
            "780 TX F5\n"
            "1040 TX 0A\n"
            "2300 TX 41\n");
}

TEST_F(WireTrace, ByteTimeFollowsTheBaudRate) {
  const struct {
    DWORD baud;
    int64_t byte_us;
  } cases[] = {{38400, 260}, {9600, 1042}, {115200, 87}, {1200, 8333}};
  for (const auto &c : cases) {
    open("sim:");
    configure(false, false, c.baud);
    int64_t start = clock_now_us();
    send({0x00});
    EXPECT_EQ(clock_now_us() - start, c.byte_us) << c.baud;
  }
}

TEST_F(WireTrace, LineChangesAreLoggedOnlyWhenTheyChange) {
  open("sim:");
  configure(true, true);
  pause_us(2000);
  configure(true, true);   // nothing changes
  configure(false, true);  // DTR only
  pause_us(500);
  configure(false, false, 9600);
  EXPECT_EQ(trace(),
            "0 STATE running\n"
            "0 LINE 38400 8N1\n"
            "0 DTR 1\n"
            "0 STATE reset\n"
            "0 RTS 1\n"
            "2000 DTR 0\n"
            "2000 STATE running\n"
            "2500 LINE 9600 8N1\n"
            "2500 RTS 0\n");
}

TEST_F(WireTrace, OtherLineSettingsAreSpelledOut) {
  open("sim:");
  DCB dcb = {};
  dcb.BaudRate = 4800;
  dcb.ByteSize = 7;
  dcb.Parity = EVENPARITY;
  dcb.StopBits = TWOSTOPBITS;
  ASSERT_EQ(device->apply(dcb), 0u);
  dcb.BaudRate = 0;  // no line time can be worked out from that
  EXPECT_EQ(device->apply(dcb), (DWORD)ERROR_INVALID_PARAMETER);
  EXPECT_EQ(events(trace(), "LINE"), std::vector<std::string>{"LINE 4800 7E2"});
}

TEST_F(WireTrace, ServiceModeAndDsrSamplesAreTraced) {
  open("sim:?instant");
  enter_service_mode();
  pause_us(100);
  ask(0x00, 0x1C, 0x04, 0xB0);
  std::string text = trace();
  EXPECT_NE(text.find("0 TX 55\n0 STATE service\n"), std::string::npos) << text;
  EXPECT_NE(text.find("100 TX B0\n1100 DSR 1\n"), std::string::npos) << text;
}

// A long session (many read-outs) keeps only the latest part in memory, in
// whole lines (the wire log in DIR keeps every line).
TEST_F(WireTrace, TheTraceInMemoryStaysBounded) {
  open("sim:?instant");
  configure(false, true);
  std::vector<BYTE> bytes(64 * 1024, 0x41);
  bytes.back() = 0x42;
  size_t largest = 0;
  for (int round = 0; round < 10; round++) {
    DWORD written = 0;
    ASSERT_EQ(device->write(bytes.data(), (DWORD)bytes.size(), &written), 0u);
    largest = std::max(largest, trace().size());
  }
  std::string kept = trace();
  EXPECT_LE(largest, 4u * 1024 * 1024);
  EXPECT_GE(kept.size(), 2u * 1024 * 1024 - 64) << "the latest half stays";
  EXPECT_EQ(kept.substr(kept.size() - 6), "TX 42\n") << "the latest event is kept";
  std::string first = kept.substr(0, kept.find('\n'));
  EXPECT_TRUE(std::regex_match(first, std::regex("[0-9]+ TX 4[12]"))) << "[" << first << "]";
}

TEST_F(WireTrace, EveryLineHasTimeEventAndValue) {
  open("sim:" + dir());
  configure(true, true);
  pause_us(10);
  configure(false, true);
  send(SERVICE_WAKE);
  send({0x00, 0x00, 0x00, 0x12});
  dsr();
  std::string text = read_text(dir() + "/wire.log");
  EXPECT_EQ(text, trace());
  const std::set<std::string> known = {"TX", "DTR", "RTS", "DSR", "LINE", "STATE", "ERR"};
  size_t start = 0;
  int lines = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    std::string line = text.substr(start, end - start);
    start = end + 1;
    ++lines;
    char event[16];
    long long us = -1;
    int taken = 0;
    ASSERT_EQ(sscanf(line.c_str(), "%lld %15s %n", &us, event, &taken), 2) << line;
    EXPECT_GE(us, 0) << line;
    EXPECT_LT(taken, (int)line.size()) << "no value: " << line;
    EXPECT_EQ(known.count(event), 1u) << line;
  }
  EXPECT_EQ(lines, 27);
}

}  // namespace

namespace {

// On the real clock a byte never arrives sooner than its line time allows.
TEST(RealTimeLine, WriteTakesAtLeastTheLineTime) {
  clock_use_virtual(false);
  DWORD error = 0;
  SerialDevice *device = virtual_receiver_open_device("sim:", &error);
  ASSERT_NE(device, nullptr);
  DCB dcb = {};
  dcb.BaudRate = 38400;
  dcb.ByteSize = 8;
  ASSERT_EQ(device->apply(dcb), 0u);
  BYTE bytes[20] = {};
  DWORD written = 0;
  int64_t start = clock_now_us();
  ASSERT_EQ(device->write(bytes, sizeof bytes, &written), 0u);
  EXPECT_GE(clock_now_us() - start, 20 * 260);
  EXPECT_EQ(written, 20u);
  delete device;
  clock_use_virtual(true);
}

}  // namespace
