// The port layer under Wine on COM7, which the driver (serial_port_over_pty.py)
// links to a pseudo-terminal whose master it holds. The driver checks what
// arrives on its side; here we check what lands in the ring. The tests run in
// order on the one open port, and the driver answers the first one.
#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

#include "link/receiver_protocol.h"
#include "link/serial_port.h"

namespace {

// What the driver sends once it has the 256 written bytes: a first part,
// then the rest that takes the ring past its end.
const unsigned FIRST_PART = 1000;
const unsigned TOTAL_SENT = RECEIVE_RING_SIZE + 100;

// The driver's pattern: without short period, so a byte out of place shows.
unsigned char pattern(unsigned k) {
  return (unsigned char)((k * 2654435761u) >> 13);
}

unsigned received_now(void) {
  EnterCriticalSection(&port_lock);
  unsigned count = received_count;
  LeaveCriticalSection(&port_lock);
  return count;
}

// The reader's state, taken under its lock so that a failed check cannot
// leave the lock held.
struct RingState {
  std::vector<unsigned char> ring;
  unsigned head;
  int overflow;
};

RingState ring_state(void) {
  EnterCriticalSection(&port_lock);
  RingState state = {std::vector<unsigned char>(receive_ring, receive_ring + RECEIVE_RING_SIZE),
                     ring_head, ring_overflow};
  LeaveCriticalSection(&port_lock);
  return state;
}

// Waits up to 20 s for count bytes; returns the counts seen on the way.
std::vector<unsigned> wait_for_received(unsigned count) {
  std::vector<unsigned> seen;
  for (int i = 0; i < 2000 && received_now() < count; i++) {
    if (seen.empty() || seen.back() != received_now()) seen.push_back(received_now());
    Sleep(10);
  }
  seen.push_back(received_now());
  return seen;
}

class SerialPortUnderWine : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_EQ(open_port("7", 38400, 8, 0, 1, 12, 12), 0); }
  void SetUp() override { ASSERT_NE(port_handle, INVALID_HANDLE_VALUE); }
};

TEST_F(SerialPortUnderWine, ReceivedBytesLandInTheRingInOrderAndTheCountGrows) {
  // Every byte value, which the driver compares with what reached its side;
  // it answers with its data once it has them all.
  for (int value = 0; value < 256; value++) write_byte(value);
  std::vector<unsigned> seen = wait_for_received(FIRST_PART);
  ASSERT_EQ(seen.back(), FIRST_PART);
  // The driver sends in pieces with pauses: the count must be seen growing.
  EXPECT_GE(seen.size(), 3u);
  for (size_t i = 1; i < seen.size(); i++) EXPECT_GT(seen[i], seen[i - 1]);
  RingState state = ring_state();
  EXPECT_EQ(state.head, FIRST_PART);
  EXPECT_EQ(state.overflow, 0);
  for (unsigned k = 0; k < FIRST_PART; k++) ASSERT_EQ(state.ring[k], pattern(k)) << "byte " << k;
}

TEST_F(SerialPortUnderWine, TheRingWrapsAndFlagsTheOverflow) {
  ASSERT_EQ(wait_for_received(TOTAL_SENT).back(), TOTAL_SENT);
  RingState state = ring_state();
  EXPECT_EQ(state.head, TOTAL_SENT - RECEIVE_RING_SIZE);
  EXPECT_EQ(state.overflow, 1);
  // Every cell holds the last byte that came to it.
  for (unsigned k = TOTAL_SENT - RECEIVE_RING_SIZE; k < TOTAL_SENT; k++) {
    ASSERT_EQ(state.ring[k % RECEIVE_RING_SIZE], pattern(k)) << "byte " << k;
  }
}

TEST_F(SerialPortUnderWine, ModemStatusIsUnsupportedOnAPseudoTerminal) {
  DWORD status = 0;
  BOOL ok = GetCommModemStatus(port_handle, &status);
  DWORD error = ok ? 0 : GetLastError();
  printf("GetCommModemStatus: %d, error %lu, status 0x%lX\n", (int)ok, (unsigned long)error,
         (unsigned long)status);
  // Wine cannot ask a pseudo-terminal for its lines. Should a later Wine
  // learn to, DSR must still read as not asserted: nothing drives it.
  if (ok) {
    EXPECT_EQ(status & MS_DSR_ON, 0u);
  } else {
    EXPECT_EQ(error, (DWORD)ERROR_NOT_SUPPORTED);
  }
}

TEST_F(SerialPortUnderWine, ReadCvWithoutDsrFails) {
  // The driver checks the 36 command bytes that this sends.
  cv_selection.number = 1;
  cv_selection.bank = 0;
  cv_selection.value = 0;
  EXPECT_EQ(read_cv(), -1);
  EXPECT_EQ(cv_selection.value, -1);
}

}  // namespace
