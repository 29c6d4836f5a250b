// The port layer's pure decisions: device names, the line settings open_port
// gives the driver, and how much the reader asks for at each ring position.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "link/serial_port.h"

namespace {

struct NameCase {
  std::string port;
  int result;
  std::string device;
};

#ifdef _WIN32
#define HIGH_COM(n) "\\\\.\\COM" n  // CreateFileA reaches COM10 and up only so
#else
#define HIGH_COM(n) "COM" n  // the stand-in opens /dev/ttyS<n-1>
#endif

TEST(DeviceName, FormsComNamesFromOneCharacterAndFromCom10Up) {
  const NameCase cases[] = {
      {"3", 0, "COM3"},
      {"COM3", 0, "COM3"},  // worked as it stands; its messages keep the name
      {"com3", 0, "com3"},
      {"12", 0, HIGH_COM("12")},
      {"10", 0, HIGH_COM("10")},
      {"256", 0, HIGH_COM("256")},
      {"COM12", 0, HIGH_COM("12")},
      {"com12", 0, HIGH_COM("12")},
      {"cOm255", 0, HIGH_COM("255")},
      {"257", 0, "257"},  // beyond the COM ports: a name as it stands
      {"012", 0, "012"},
      {"07", 0, "07"},
      {"COM012", 0, "COM012"},
      {"COM1x", 0, "COM1x"},
      {"12a", 0, "12a"},
      {"-12", 0, "-12"},
      {"COM", 0, "COM"},
      {"/dev/ttyUSB0", 0, "/dev/ttyUSB0"},
      {"sim:dir?instant", 0, "sim:dir?instant"},
      {"", 0, ""},
      {std::string(99, 'x'), 0, std::string(99, 'x')},
      {std::string(100, 'x'), -1, ""},
      {std::string(5000, 'x'), -1, ""},
  };
  for (const NameCase &c : cases) {
    char name[DEVICE_NAME_SIZE];
    memset(name, '#', sizeof name);
    EXPECT_EQ(form_device_name(c.port.c_str(), name, sizeof name), c.result) << c.port.size();
    EXPECT_EQ(std::string(name), c.device) << c.port.size();
  }
}

TEST(DeviceName, NeverWritesPastTheBuffer) {
  char buffer[DEVICE_NAME_SIZE + 8];
  memset(buffer, '#', sizeof buffer);
  std::string port(DEVICE_NAME_SIZE + 20, 'y');
  EXPECT_EQ(form_device_name(port.c_str(), buffer, DEVICE_NAME_SIZE), -1);
  for (size_t i = DEVICE_NAME_SIZE; i < sizeof buffer; i++) EXPECT_EQ(buffer[i], '#') << i;
}

struct LineCase {
  int parity;
  int stop_bits;
  BYTE want_parity;
  BYTE want_stop_bits;
};

TEST(LineSettings, ParityAndStopBitsFromTheArguments) {
  const LineCase cases[] = {
      {0, 1, NOPARITY, ONESTOPBIT},      {'O', 1, ODDPARITY, ONESTOPBIT},
      {'E', 1, EVENPARITY, ONESTOPBIT},  {'M', 1, MARKPARITY, ONESTOPBIT},
      {'S', 1, SPACEPARITY, ONESTOPBIT}, {'e', 1, NOPARITY, ONESTOPBIT},
      {'o', 1, NOPARITY, ONESTOPBIT},    {'N', 2, NOPARITY, TWOSTOPBITS},
      {0, 0, NOPARITY, ONESTOPBIT},      {0, 3, NOPARITY, ONESTOPBIT},
  };
  for (const LineCase &c : cases) {
    DCB dcb;
    memset(&dcb, 0, sizeof dcb);
    apply_line_settings(&dcb, 38400, 8, c.parity, c.stop_bits, 12, 12);
    EXPECT_EQ(dcb.Parity, c.want_parity) << c.parity;
    EXPECT_EQ(dcb.StopBits, c.want_stop_bits) << c.stop_bits;
    EXPECT_EQ(dcb.BaudRate, 38400u);
    EXPECT_EQ(dcb.ByteSize, 8);
  }
}

TEST(LineSettings, ClearsOutputFlowControlAndKeepsWhatItDoesNotName) {
  DCB dcb;
  memset(&dcb, 0, sizeof dcb);
  dcb.fParity = 1;
  dcb.fOutxCtsFlow = 1;
  dcb.fOutxDsrFlow = 1;
  dcb.fAbortOnError = 1;
  dcb.fOutX = 1;
  dcb.XonChar = 0x11;
  dcb.fDtrControl = 2;  // handshake and toggle: a driver's own choice
  dcb.fRtsControl = 3;
  apply_line_settings(&dcb, 9600, 0x107, 0, 1, 0, 0);
  EXPECT_EQ(dcb.fParity, 0u);
  EXPECT_EQ(dcb.fOutxCtsFlow, 0u);
  EXPECT_EQ(dcb.fOutxDsrFlow, 0u);
  EXPECT_EQ(dcb.fAbortOnError, 1u);
  EXPECT_EQ(dcb.fOutX, 1u);
  EXPECT_EQ(dcb.XonChar, 0x11);
  // A zero dtr or rts leaves the driver's choice alone.
  EXPECT_EQ(dcb.fDtrControl, 2u);
  EXPECT_EQ(dcb.fRtsControl, 3u);
  EXPECT_EQ(dcb.ByteSize, 7);  // low 8 bits of the argument
  apply_line_settings(&dcb, 38400, 8, 0, 1, 1, 99);
  EXPECT_EQ(dcb.fDtrControl, (DWORD)DTR_CONTROL_ENABLE);
  EXPECT_EQ(dcb.fRtsControl, (DWORD)RTS_CONTROL_ENABLE);
}

TEST(ReadLength, NeverRunsPastTheEndOfTheRing) {
  const unsigned cases[][2] = {
      {0, 128}, {1000, 128}, {16255, 128}, {16256, 128}, {16257, 127}, {16300, 84}, {16383, 1},
  };
  for (const auto &c : cases) EXPECT_EQ(next_read_length(c[0]), c[1]) << c[0];
  for (unsigned head = 0; head < RECEIVE_RING_SIZE; head++) {
    unsigned length = next_read_length(head);
    ASSERT_GE(length, 1u);
    ASSERT_LE(length, 128u);
    ASSERT_LE(head + length, (unsigned)RECEIVE_RING_SIZE) << head;
  }
}

}  // namespace
