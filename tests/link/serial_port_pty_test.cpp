// The port layer on a pseudo-terminal pair: what write_byte sends arrives on
// the other side, and what the other side sends lands in the receive ring.
// The tests run in order on one open port, as tarvel has only one.
#include <gtest/gtest.h>

#include <poll.h>

#include <atomic>
#include <thread>

#include "console/console.h"
#include "tests/link/link_test_support.h"

namespace {

PtyPair pty;
unsigned sent_so_far;  // bytes the master has sent to the port

// A pattern without short period, so that a byte in the wrong place shows.
unsigned char pattern(unsigned k) {
  return (unsigned char)((k * 2654435761u) >> 13);
}

void send_from_master(unsigned count) {
  std::vector<unsigned char> data(count);
  for (unsigned i = 0; i < count; i++) data[i] = pattern(sent_so_far + i);
  ASSERT_TRUE(write_all(pty.master, data.data(), data.size()));
  sent_so_far += count;
}

class SerialPortOnPty : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    clock_use_virtual(false);
    ASSERT_GE(pty.master, 0);
    console_setup(nullptr);
    ASSERT_EQ(open_port(pty.slave.c_str(), 38400, 8, 0, 1, 12, 12), 0);
  }
  void SetUp() override {
    ASSERT_GE(pty.master, 0);
    ASSERT_NE(port_handle, INVALID_HANDLE_VALUE);
  }
};

TEST_F(SerialPortOnPty, ConsoleWrapsLongLinesOnceThePortIsOpen) {
  DWORD mode = 0;
  ASSERT_TRUE(GetConsoleMode(console_output, &mode));
  EXPECT_EQ(mode, (DWORD)(ENABLE_PROCESSED_OUTPUT | ENABLE_WRAP_AT_EOL_OUTPUT));
}

TEST_F(SerialPortOnPty, EveryWrittenByteIsThereWhenWriteByteReturns) {
  // Line feed and carriage return must pass untranslated, XON/XOFF unswallowed.
  const int values[] = {0x00, 0x41, 0x0A, 0x0D, 0x11, 0x13, 0x7F, 0x80, 0xFF, 0x1AE, -1, 0x100};
  for (int value : values) {
    write_byte(value);
    pollfd p = {pty.master, POLLIN, 0};
    // The kernel hands the byte to the other side through a work queue, so
    // allow it a moment; the byte must not be merely queued in our process.
    ASSERT_EQ(poll(&p, 1, 1000), 1) << value;
    unsigned char got = 0;
    ASSERT_EQ(read(pty.master, &got, 1), 1);
    EXPECT_EQ(got, value & 0xFF) << value;
  }
}

TEST_F(SerialPortOnPty, WriteByteWaitsWhileTheLineCannotTakeMore) {
  // The other side reads nothing for a while: once the kernel's buffers are
  // full, write_byte must wait instead of returning with the byte lost.
  const unsigned total = 200000;
  std::atomic<unsigned> written{0};
  std::thread writer([&] {
    for (unsigned i = 0; i < total; i++) {
      write_byte((int)pattern(i));
      written = i + 1;
    }
  });
  usleep(500000);
  unsigned stalled = written;
  EXPECT_LT(stalled, total);
  std::string got = read_some(pty.master, total, 60000);
  writer.join();
  ASSERT_EQ(got.size(), total);
  for (unsigned i = 0; i < total; i++) ASSERT_EQ((unsigned char)got[i], pattern(i)) << i;
}

TEST_F(SerialPortOnPty, ReceivedBytesLandInTheRingInOrder) {
  send_from_master(1000);
  ASSERT_TRUE(wait_for_count(1000, 5000));
  EnterCriticalSection(&port_lock);
  EXPECT_EQ(received_count, 1000u);
  EXPECT_EQ(ring_head, 1000u);
  EXPECT_EQ(ring_overflow, 0);
  LeaveCriticalSection(&port_lock);
  for (unsigned k = 0; k < 1000; k++) ASSERT_EQ(receive_ring[k], pattern(k)) << k;
}

TEST_F(SerialPortOnPty, RingWrapsAtItsEndAndFlagsTheOverflow) {
  send_from_master(16300 - sent_so_far);
  ASSERT_TRUE(wait_for_count(16300, 10000));
  EnterCriticalSection(&port_lock);
  unsigned head = ring_head;
  LeaveCriticalSection(&port_lock);
  EXPECT_EQ(head, 16300u);
  EXPECT_EQ(next_read_length(head), 84u);

  send_from_master(84);
  ASSERT_TRUE(wait_for_count(16384, 5000));
  EnterCriticalSection(&port_lock);
  EXPECT_EQ(ring_head, 0u);
  EXPECT_EQ(received_count, 16384u);
  EXPECT_EQ(ring_overflow, 0);  // exactly full is not yet an overflow
  LeaveCriticalSection(&port_lock);
  for (unsigned k = 0; k < RECEIVE_RING_SIZE; k++) ASSERT_EQ(receive_ring[k], pattern(k)) << k;

  send_from_master(1);
  ASSERT_TRUE(wait_for_count(16385, 5000));
  EnterCriticalSection(&port_lock);
  EXPECT_EQ(ring_head, 1u);
  EXPECT_EQ(ring_overflow, 1);
  LeaveCriticalSection(&port_lock);
  EXPECT_EQ(receive_ring[0], pattern(16384));
  EXPECT_EQ(receive_ring[1], pattern(1));
}

}  // namespace
