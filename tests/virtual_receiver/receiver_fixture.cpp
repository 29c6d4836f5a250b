#include "tests/virtual_receiver/receiver_fixture.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

std::vector<std::string> events(const std::string &trace, const std::string &event) {
  std::vector<std::string> found;
  size_t start = 0;
  while (start < trace.size()) {
    size_t end = trace.find('\n', start);
    std::string line = trace.substr(start, end - start);
    start = end + 1;
    size_t blank = line.find(' ');
    std::string rest = line.substr(blank + 1);
    if (rest.compare(0, event.size() + 1, event + " ") == 0) found.push_back(rest);
  }
  return found;
}

void ReceiverTest::SetUp() {
  clock_use_virtual(true);
}

void ReceiverTest::TearDown() {
  close();
  if (!dir_.empty()) remove_tree(dir_);
}

void ReceiverTest::open(const std::string &name) {
  close();
  DWORD error = 0;
  device = virtual_receiver_open_device(name.c_str(), &error);
  vr = device != nullptr ? virtual_receiver_last() : nullptr;
  ASSERT_NE(device, nullptr) << name << ": error " << error;
}

void ReceiverTest::close() {
  delete device;
  device = nullptr;
}

DWORD ReceiverTest::configure(bool dtr, bool rts, DWORD baud) {
  if (device == nullptr) return ERROR_INVALID_HANDLE;
  DCB dcb = {};
  dcb.DCBlength = sizeof dcb;
  dcb.BaudRate = baud;
  dcb.ByteSize = 8;
  dcb.Parity = NOPARITY;
  dcb.StopBits = ONESTOPBIT;
  dcb.fDtrControl = dtr ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE;
  dcb.fRtsControl = rts ? RTS_CONTROL_ENABLE : RTS_CONTROL_DISABLE;
  return device->apply(dcb);
}

void ReceiverTest::send(const std::vector<int> &bytes) {
  ASSERT_NE(device, nullptr);
  for (int byte : bytes) {
    BYTE b = (BYTE)byte;
    DWORD written = 0;
    ASSERT_EQ(device->write(&b, 1, &written), 0u);
    ASSERT_EQ(written, 1u);
  }
}

bool ReceiverTest::dsr() {
  DWORD status = 0;
  if (device == nullptr) {
    ADD_FAILURE() << "no device";
    return false;
  }
  EXPECT_EQ(device->modem_status(&status), 0u);
  return (status & MS_DSR_ON) != 0;
}

void ReceiverTest::enter_service_mode() {
  configure(false, true);
  send(SERVICE_WAKE);
  ASSERT_EQ(vr_state(vr), VR_SERVICE);
}

bool ReceiverTest::ask(int bank, int index, int data, int opcode) {
  send({bank, index, data, opcode});
  pause_us(1000);
  return dsr();
}
