// The device under two threads, as tarvel uses it: a read pending on one,
// writes and DSR samples on the other; and the lookup from a port handle.
#include <future>
#include <map>
#include <thread>

#include "tests/virtual_receiver/receiver_fixture.h"

// The platform's handle table stands in here as a map of our own.
static std::map<HANDLE, SerialDevice *> handles;
SerialDevice *serial_device_of(HANDLE handle) {
  auto found = handles.find(handle);
  return found == handles.end() ? nullptr : found->second;
}

namespace {

class DeviceThreads : public ReceiverTest {
 protected:
  std::future<DWORD> start_read() {
    return std::async(std::launch::async, [this] {
      BYTE buffer[16];
      DWORD got = 99;
      DWORD error = device->read(buffer, sizeof buffer, 50, &got);
      return got == 0 ? error : 0u;
    });
  }
};

TEST_F(DeviceThreads, ReadWaitsUntilCancelled) {
  open("sim:");
  std::future<DWORD> read = start_read();
  // The receiver never sends: the read is still waiting.
  EXPECT_EQ(read.wait_for(std::chrono::milliseconds(50)), std::future_status::timeout);
  device->cancel_reads();
  ASSERT_EQ(read.wait_for(std::chrono::seconds(5)), std::future_status::ready);
  EXPECT_EQ(read.get(), (DWORD)ERROR_OPERATION_ABORTED);
  // One that starts after the cancel (the port is closing) does not wait.
  std::future<DWORD> late = start_read();
  ASSERT_EQ(late.wait_for(std::chrono::seconds(5)), std::future_status::ready);
  EXPECT_EQ(late.get(), (DWORD)ERROR_OPERATION_ABORTED);
}

TEST_F(DeviceThreads, WritesAndSamplesGoOnWhileAReadWaits) {
  open("sim:");
  std::future<DWORD> read = start_read();
  enter_service_mode();
  for (int i = 0; i < 50; ++i) {
    EXPECT_TRUE(ask(0x00, 0xFF, 0xFF, 0xAF));
    pause_us(3000);
  }
  EXPECT_EQ(vr_error_count(vr), 0);
  device->cancel_reads();
  EXPECT_EQ(read.get(), (DWORD)ERROR_OPERATION_ABORTED);
}

TEST_F(DeviceThreads, ClosingWakesAPendingRead) {
  open("sim:");
  std::future<DWORD> read = start_read();
  device->cancel_reads();
  ASSERT_EQ(read.wait_for(std::chrono::seconds(5)), std::future_status::ready);
  close();
  EXPECT_EQ(read.get(), (DWORD)ERROR_OPERATION_ABORTED);
}

TEST_F(DeviceThreads, StateStaysReadableAfterClose) {
  open("sim:?instant");
  enter_service_mode();
  send({0x00, 0x02, 0x63, 0xAE});
  VirtualReceiver *closed = vr;
  close();
  EXPECT_EQ(vr_cv(closed, 0, 3), 0x63);
  EXPECT_EQ(vr_state(closed), VR_SERVICE);
  EXPECT_NE(vr_trace(closed).find("TX AE"), std::string::npos);
}

TEST_F(DeviceThreads, HandleLeadsToItsReceiver) {
  open("sim:");
  VirtualReceiver *first = vr;
  SerialDevice *first_device = device;
  device = nullptr;
  open("sim:");
  int a = 0, b = 0, c = 0;
  handles[&a] = first_device;
  handles[&b] = device;
  EXPECT_EQ(virtual_receiver_of(&a), first);
  EXPECT_EQ(virtual_receiver_of(&b), vr);
  EXPECT_EQ(virtual_receiver_of(&c), nullptr);
  EXPECT_EQ(virtual_receiver_last(), vr);
  delete first_device;
  EXPECT_EQ(virtual_receiver_of(&a), nullptr);  // a closed device is nobody's
  handles.clear();
}

}  // namespace
