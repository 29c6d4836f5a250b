// The single-CV dialogue against a virtual receiver opened through the port
// layer, on the virtual clock; keys from a pipe, the screen from the model.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <sstream>
#include <string>
#include <vector>

#include "tests/support/console_harness.h"
#include "cvtool/cvtool.h"
#include "cvtool/line_ready.h"
#include "link/receiver_protocol.h"
#include "link/serial_port.h"
#include "platform/clock.h"
#include "virtual_receiver/virtual_receiver.h"

// The port can be opened once per process: every test of the program shares it.
inline VirtualReceiver *receiver_in_service_mode(const std::string &port) {
  static VirtualReceiver *vr = nullptr;
  if (vr != nullptr) return vr;
  clock_use_virtual(true);
  console_setup(nullptr);
  if (open_port(port.c_str(), 38400, 8, 0, 1, 12, 12) != 0) return nullptr;
  reset_receiver(2000);
  // The line is checked before the first read of a run; here once, up front,
  // so that each test sees its own commands only.
  line_ready();
  vr = virtual_receiver_last();
  return vr;
}

// The four-byte commands (bank, index, data, opcode) in a stretch of trace,
// as "00 10 10 AF".
inline std::vector<std::string> commands_in(const std::string &trace) {
  std::vector<std::string> commands;
  std::istringstream lines(trace);
  std::string line, current;
  int bytes = 0;
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    std::string time, event, value;
    fields >> time >> event >> value;
    if (event != "TX") continue;
    current += (bytes ? " " : "") + value;
    if (++bytes == 4) {
      commands.push_back(current);
      current.clear();
      bytes = 0;
    }
  }
  return commands;
}

// Commands with the given opcode ("AF" verify, "AE" write).
inline std::vector<std::string> with_opcode(const std::vector<std::string> &commands,
                                            const std::string &opcode) {
  std::vector<std::string> picked;
  for (const std::string &c : commands)
    if (c.size() == 11 && c.substr(9) == opcode) picked.push_back(c);
  return picked;
}

// Each test program names the receiver it talks to.
std::string dialogue_port(void);

class DialogueTest : public testing::Test {
 protected:
  static void SetUpTestSuite() { vr = receiver_in_service_mode(dialogue_port()); }
  void SetUp() override {
    console.start(100, 200);
    ASSERT_NE(nullptr, vr) << "no virtual receiver";
    next_cv_entry = 1;
    binary_entry_mode = 0;
    cv_selection = CvSelection{1, 0, 0};
  }
  void TearDown() override {
    console.stop();
    if (vr != nullptr) {
      EXPECT_EQ(0, vr_error_count(vr)) << vr_trace(vr);
    }
  }

  // Runs one `e` command with these keys; ESC for ever after them.
  void run(const std::string &keys) {
    console.type(keys);
    console.close_input();
    size_t before = vr_trace(vr).size();
    single_cv_dialogue();
    sent = commands_in(vr_trace(vr).substr(before));
    screen = console.screen_text();
  }
  bool shows(const std::string &text) { return screen.find(text) != std::string::npos; }

  static VirtualReceiver *vr;
  ConsoleHarness console;
  std::vector<std::string> sent;  // commands sent during the dialogue
  std::string screen;
};

inline VirtualReceiver *DialogueTest::vr = nullptr;

#define PROMPT "CV-Nummer eingeben (1..256, Alternative CVs 1001..1256): "
#define DECIMAL_PROMPT "neuer Wert: (F1->Bin\x84reingabe) "
#define BINARY_PROMPT "neuer Wert: (F2->Dezimaleingabe) "
