// A virtual receiver opened as a program would open it, driven through its
// serial device on the virtual clock.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/serial_device.h"
#include "tests/support/files.h"
#include "virtual_receiver/virtual_receiver.h"

// The protocol's bytes.
const std::vector<int> SERVICE_WAKE = {0xF3, 0xF4, 0xF5, 0xF6, 0xF7, 0xF8, 0xF9,
                                       0xFA, 0xFB, 0xFC, 0xFD, 0xFE, 0x55};
const std::vector<int> BOOT_WAKE = {0xF3, 0xF4, 0xF5, 0xF6, 0xF7, 0xF8, 0xF9,
                                    0xFA, 0xFB, 0xFC, 0xFD, 0xFE, 0xFF};

// The lines of a trace whose event is event ("TX", "DSR" ...), each without
// its time: "TX F3".
std::vector<std::string> events(const std::string &trace, const std::string &event);

class ReceiverTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Opens name; fails the test when it cannot.
  void open(const std::string &name);
  void close();
  // 38400 8N1 with the given DTR and RTS, as the programs configure the line.
  DWORD configure(bool dtr, bool rts, DWORD baud = 38400);
  void send(const std::vector<int> &bytes);
  void send(std::initializer_list<int> bytes) { send(std::vector<int>(bytes)); }
  void pause_us(int64_t us) { clock_sleep_us(us); }
  // One DSR sample.
  bool dsr();
  // Wakes the receiver into the service mode on a configured line.
  void enter_service_mode();
  // Sends a CV command, waits 1 ms and samples DSR.
  bool ask(int bank, int index, int data, int opcode);

  std::string dir() {
    if (dir_.empty()) dir_ = make_temp_dir("vr-test");
    return dir_;
  }
  std::string trace() { return vr_trace(vr); }

  SerialDevice *device = nullptr;
  VirtualReceiver *vr = nullptr;

 private:
  std::string dir_;
};
