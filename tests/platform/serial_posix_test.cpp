// The serial calls on a pseudo-terminal pair: what the far end sees of the
// bytes and the line settings, exclusive opening, error codes, modem lines,
// and the wire trace.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/tty_device_posix.h"
#include "tests/support/files.h"
#include "tests/support/pty_pair.h"
#include "tests/support/wire_log.h"

namespace {

HANDLE open_port(const std::string &path) {
  return CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

class SerialPty : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(pty.ok());
    port = open_port(pty.slave);
    ASSERT_NE(port, INVALID_HANDLE_VALUE) << GetLastError();
  }
  void TearDown() override {
    if (port != INVALID_HANDLE_VALUE) CloseHandle(port);
  }
  COMMCONFIG config() {
    COMMCONFIG read_back;
    DWORD size = sizeof read_back;
    EXPECT_TRUE(GetCommConfig(port, &read_back, &size));
    return read_back;
  }
  // The settings of the slave as the kernel holds them. On Linux the master's
  // termios calls act on the slave's termios, so the far end can read them
  // without a second open of the slave (which TIOCEXCL forbids to anyone but root).
  termios far_end_settings() {
    termios t;
    memset(&t, 0, sizeof t);
    EXPECT_EQ(tcgetattr(pty.master, &t), 0);
    return t;
  }
  PtyPair pty;
  HANDLE port = INVALID_HANDLE_VALUE;
};

TEST_F(SerialPty, BytesWrittenArriveInOrderOnTheFarEnd) {
  std::string all;
  for (int value = 0; value < 256; value++) all += (char)value;
  // One byte per call, as the programs send them, and then all in one call.
  for (int value = 0; value < 256; value++) {
    BYTE byte = (BYTE)value;
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(port, &byte, 1, &written, nullptr));
    ASSERT_EQ(written, 1u);
  }
  EXPECT_EQ(pty.receive(256), all);
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(port, all.data(), 256, &written, nullptr));
  EXPECT_EQ(written, 256u);
  EXPECT_EQ(pty.receive(256), all);
}

TEST_F(SerialPty, FreshPortReportsDefaultsAndIsRaw) {
  COMMCONFIG fresh = config();
  EXPECT_EQ(fresh.dwSize, 52u);
  EXPECT_EQ(fresh.dcb.DCBlength, 28u);
  EXPECT_EQ(fresh.dcb.BaudRate, 9600u);
  EXPECT_EQ(fresh.dcb.ByteSize, 8);
  EXPECT_EQ(fresh.dcb.Parity, NOPARITY);
  EXPECT_EQ(fresh.dcb.StopBits, ONESTOPBIT);
  EXPECT_EQ(fresh.dcb.fBinary, 1u);
  EXPECT_EQ(fresh.dcb.fDtrControl, (DWORD)DTR_CONTROL_ENABLE);
  EXPECT_EQ(fresh.dcb.fRtsControl, (DWORD)RTS_CONTROL_ENABLE);
  termios t = far_end_settings();
  EXPECT_EQ(cfgetospeed(&t), B9600);
  // A pseudo-terminal starts cooked: echo would send the far end's bytes back
  // and OPOST would turn 0x0A into 0x0D 0x0A.
  EXPECT_EQ(t.c_lflag & (ECHO | ICANON | ISIG), 0u);
  EXPECT_EQ(t.c_oflag & OPOST, 0u);
  EXPECT_EQ(t.c_iflag & (ICRNL | IXON), 0u);
  BYTE newline = 0x0A;
  DWORD written;
  ASSERT_TRUE(WriteFile(port, &newline, 1, &written, nullptr));
  EXPECT_EQ(pty.receive(2, 200), "\n");
}

struct LineCase {
  DWORD baud;
  BYTE byte_size;
  BYTE parity;
  BYTE stop_bits;
  speed_t speed;
  tcflag_t csize;
  tcflag_t parity_flags;  // PARENB, PARODD, CMSPAR
  bool two_stop_bits;
};

const LineCase line_cases[] = {
    {38400, 8, NOPARITY, ONESTOPBIT, B38400, CS8, 0, false},
    {9600, 7, EVENPARITY, ONESTOPBIT, B9600, CS7, PARENB, false},
    {19200, 7, ODDPARITY, TWOSTOPBITS, B19200, CS7, PARENB | PARODD, true},
    {115200, 5, NOPARITY, TWOSTOPBITS, B115200, CS5, 0, true},
    {1200, 6, NOPARITY, ONESTOPBIT, B1200, CS6, 0, false},
};

DCB dcb_for(const LineCase &c) {
  DCB dcb = serial_default_dcb();
  dcb.BaudRate = c.baud;
  dcb.ByteSize = c.byte_size;
  dcb.Parity = c.parity;
  dcb.StopBits = c.stop_bits;
  return dcb;
}

// The whole frame, as a real port gets it. (A pseudo-terminal cannot show it:
// its driver forces 8 bits without parity, see the next test.)
TEST(SerialTermios, SettingsBecomeTheFrame) {
  for (const LineCase &c : line_cases) {
    SCOPED_TRACE(c.baud);
    termios t;
    memset(&t, 0xFF, sizeof t);  // whatever the driver had: all of it must go
    DCB dcb = dcb_for(c);
    dcb.fOutX = dcb.fInX = 1;  // software flow is never set: 0x11 and 0x13 are data
    ASSERT_EQ(serial_termios_from_dcb(dcb, &t), (DWORD)ERROR_SUCCESS);
    EXPECT_EQ(cfgetospeed(&t), c.speed);
    EXPECT_EQ(cfgetispeed(&t), c.speed);
    EXPECT_EQ(t.c_cflag & CSIZE, c.csize);
    EXPECT_EQ(t.c_cflag & (PARENB | PARODD | CMSPAR), c.parity_flags);
    EXPECT_EQ((t.c_cflag & CSTOPB) != 0, c.two_stop_bits);
    EXPECT_EQ(t.c_cflag & (CREAD | CLOCAL), CREAD | CLOCAL);
    EXPECT_EQ(t.c_cflag & CRTSCTS, 0u);
    EXPECT_EQ(t.c_iflag & (INPCK | ISTRIP | ICRNL | INLCR | IGNCR | IXON | IXOFF | PARMRK), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
    EXPECT_EQ(t.c_lflag & (ECHO | ICANON | ISIG | IEXTEN), 0u);
    EXPECT_EQ(t.c_cc[VMIN], 0);
    EXPECT_EQ(t.c_cc[VTIME], 0);
  }
}

TEST(SerialTermios, ImpossibleSettingsAreRefused) {
  const struct {
    DWORD baud;
    BYTE byte_size;
    BYTE parity;
    BYTE stop_bits;
  } refused[] = {{12345, 8, NOPARITY, ONESTOPBIT},
                 {0, 8, NOPARITY, ONESTOPBIT},
                 {38400, 9, NOPARITY, ONESTOPBIT},
                 {38400, 4, NOPARITY, ONESTOPBIT},
                 {38400, 8, 5, ONESTOPBIT},
                 {38400, 8, NOPARITY, 3},
                 // No sticky parity bit: nothing asks for one.
                 {38400, 8, MARKPARITY, ONESTOPBIT},
                 {38400, 8, SPACEPARITY, ONESTOPBIT}};
  for (const auto &r : refused) {
    DCB dcb = serial_default_dcb();
    dcb.BaudRate = r.baud;
    dcb.ByteSize = r.byte_size;
    dcb.Parity = r.parity;
    dcb.StopBits = r.stop_bits;
    termios t;
    memset(&t, 0, sizeof t);
    EXPECT_EQ(serial_termios_from_dcb(dcb, &t), (DWORD)ERROR_INVALID_PARAMETER) << r.baud;
  }
}

// What the far end of a pseudo-terminal can see: the speed, the stop bits
// and the odd-parity flag. Byte size and PARENB the Linux pty driver resets to
// 8 bits without parity; the port still takes and reports the settings.
TEST_F(SerialPty, LineSettingsReachTheDevice) {
  for (const LineCase &c : line_cases) {
    SCOPED_TRACE(c.baud);
    COMMCONFIG changed = config();
    changed.dcb = dcb_for(c);
    ASSERT_TRUE(SetCommConfig(port, &changed, sizeof changed)) << GetLastError();
    termios t = far_end_settings();
    EXPECT_EQ(cfgetospeed(&t), c.speed);
    EXPECT_EQ(cfgetispeed(&t), c.speed);
    EXPECT_EQ(t.c_cflag & PARODD, c.parity_flags & PARODD);
    EXPECT_EQ((t.c_cflag & CSTOPB) != 0, c.two_stop_bits);
    COMMCONFIG read_back = config();
    EXPECT_EQ(read_back.dcb.BaudRate, c.baud);
    EXPECT_EQ(read_back.dcb.ByteSize, c.byte_size);
    EXPECT_EQ(read_back.dcb.Parity, c.parity);
    EXPECT_EQ(read_back.dcb.StopBits, c.stop_bits);
  }
}

TEST_F(SerialPty, CtsFlowControlFollowsTheSettings) {
  COMMCONFIG changed = config();
  changed.dcb.fOutxCtsFlow = 1;
  ASSERT_TRUE(SetCommConfig(port, &changed, sizeof changed));
  EXPECT_NE(far_end_settings().c_cflag & CRTSCTS, 0u);
  changed.dcb.fOutxCtsFlow = 0;
  ASSERT_TRUE(SetCommConfig(port, &changed, sizeof changed));
  EXPECT_EQ(far_end_settings().c_cflag & CRTSCTS, 0u);
}

TEST_F(SerialPty, FieldsTheProgramDoesNotTouchAreKept) {
  COMMCONFIG changed = config();
  changed.dcb.fAbortOnError = 1;
  changed.dcb.XonLim = 1234;
  changed.dcb.EvtChar = 0x7E;
  ASSERT_TRUE(SetCommConfig(port, &changed, sizeof changed));
  COMMCONFIG read_back = config();
  EXPECT_EQ(read_back.dcb.fAbortOnError, 1u);
  EXPECT_EQ(read_back.dcb.XonLim, 1234);
  EXPECT_EQ(read_back.dcb.EvtChar, 0x7E);
}

TEST_F(SerialPty, RefusedSettingsLeaveTheLineAsItWas) {
  COMMCONFIG changed = config();
  changed.dcb.BaudRate = 38400;
  ASSERT_TRUE(SetCommConfig(port, &changed, sizeof changed));
  const struct {
    DWORD baud;
    BYTE byte_size;
    BYTE parity;
  } refused[] = {{12345, 8, NOPARITY}, {38400, 9, NOPARITY}, {38400, 4, NOPARITY}, {38400, 8, 5}};
  for (const auto &r : refused) {
    COMMCONFIG bad = changed;
    bad.dcb.BaudRate = r.baud;
    bad.dcb.ByteSize = r.byte_size;
    bad.dcb.Parity = r.parity;
    EXPECT_FALSE(SetCommConfig(port, &bad, sizeof bad));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_PARAMETER);
    EXPECT_EQ(config().dcb.BaudRate, 38400u);
    termios t = far_end_settings();
    EXPECT_EQ(cfgetospeed(&t), B38400);
  }
}

TEST_F(SerialPty, ConfigQueryWithTooSmallSizeAsksFor52Bytes) {
  COMMCONFIG read_back;
  DWORD size = 10;
  EXPECT_FALSE(GetCommConfig(port, &read_back, &size));
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(size, 52u);
}

TEST_F(SerialPty, SecondOpenIsDeniedUntilTheFirstCloses) {
  HANDLE second = open_port(pty.slave);
  EXPECT_EQ(second, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_ACCESS_DENIED);
  ASSERT_TRUE(CloseHandle(port));
  port = open_port(pty.slave);
  EXPECT_NE(port, INVALID_HANDLE_VALUE) << GetLastError();
}

TEST_F(SerialPty, PseudoTerminalHasNoModemLines) {
  // DSR reads as not asserted, and DTR/RTS changes are taken without effect.
  DWORD status = 0xFFFF;
  ASSERT_TRUE(GetCommModemStatus(port, &status));
  EXPECT_EQ(status & MS_DSR_ON, 0u);
  COMMCONFIG changed = config();
  changed.dcb.fDtrControl = DTR_CONTROL_DISABLE;
  changed.dcb.fRtsControl = RTS_CONTROL_DISABLE;
  EXPECT_TRUE(SetCommConfig(port, &changed, sizeof changed)) << GetLastError();
  changed.dcb.fDtrControl = DTR_CONTROL_ENABLE;
  EXPECT_TRUE(SetCommConfig(port, &changed, sizeof changed)) << GetLastError();
  ASSERT_TRUE(GetCommModemStatus(port, &status));
  EXPECT_EQ(status & MS_DSR_ON, 0u);
}

TEST_F(SerialPty, ClearCommErrorReportsNoErrors) {
  DWORD errors = 0xFF;
  COMSTAT status;
  memset(&status, 0xFF, sizeof status);
  EXPECT_TRUE(ClearCommError(port, &errors, &status));
  EXPECT_EQ(errors, 0u);
  EXPECT_EQ(status.cbInQue, 0u);
  EXPECT_TRUE(ClearCommError(port, nullptr, nullptr));
}

// ---------------------------------------------------------------- opening failures

TEST(SerialOpen, FailuresGiveTheWin32Codes) {
  char file_template[] = "/tmp/h1-serial-XXXXXX";
  int file = mkstemp(file_template);
  ASSERT_GE(file, 0);
  close(file);
  const struct {
    std::string name;
    DWORD code;
  } cases[] = {
      {"/dev/h1-no-such-port", ERROR_FILE_NOT_FOUND},
      {"/tmp/h1-no-such-folder/port", ERROR_FILE_NOT_FOUND},
      {"COM0", ERROR_FILE_NOT_FOUND},        // not a port name: a file that is not there
      {file_template, ERROR_NOT_SUPPORTED},  // a file, not a serial device
      {"/tmp", ERROR_ACCESS_DENIED},
      {std::string(5000, 'x'), ERROR_FILENAME_EXCED_RANGE},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name.substr(0, 40));
    SetLastError(0);
    EXPECT_EQ(open_port(c.name), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), c.code);
  }
  unlink(file_template);
}

TEST(SerialOpen, EveryCallRefusesAHandleItDidNotMake) {
  HANDLE bogus = (HANDLE)(uintptr_t)0x1234;
  COMMCONFIG config;
  DWORD size = sizeof config;
  DWORD value = 0;
  BYTE byte = 0;
  COMMTIMEOUTS timeouts = {2, 0, 0, 0, 0};
  const std::vector<BOOL> results = {
      GetCommConfig(bogus, &config, &size),
      SetCommConfig(bogus, &config, size),
      SetCommTimeouts(bogus, &timeouts),
      ClearCommError(bogus, &value, nullptr),
      GetCommModemStatus(bogus, &value),
      WriteFile(bogus, &byte, 1, &value, nullptr),
      CloseHandle(bogus),
      CloseHandle(INVALID_HANDLE_VALUE),
  };
  for (size_t i = 0; i < results.size(); i++) EXPECT_FALSE(results[i]) << i;
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_HANDLE);
}

TEST(SerialOpen, ClosedHandleIsNoLongerValid) {
  PtyPair pty;
  ASSERT_TRUE(pty.ok());
  HANDLE port = open_port(pty.slave);
  ASSERT_NE(port, INVALID_HANDLE_VALUE);
  ASSERT_TRUE(CloseHandle(port));
  BYTE byte = 1;
  DWORD written;
  EXPECT_FALSE(WriteFile(port, &byte, 1, &written, nullptr));
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_HANDLE);
  EXPECT_EQ(serial_device_of(port), nullptr);
}

// ---------------------------------------------------------------- port names

TEST(SerialNames, ComNamesMapToTtyS) {
  const struct {
    const char *name;
    const char *path;
  } cases[] = {
      {"COM3", "/dev/ttyS2"},
      {"COM1", "/dev/ttyS0"},
      {"com2", "/dev/ttyS1"},
      {"COM12", "/dev/ttyS11"},
      {"\\\\.\\COM12", "/dev/ttyS11"},
      {"COM256", "/dev/ttyS255"},
      {"COM0", "COM0"},
      {"COM-3", "COM-3"},
      {"COM03", "COM03"},
      {"COM257", "COM257"},
      {"COM", "COM"},
      {"COM3x", "COM3x"},
      {"12", "12"},
      {"/dev/ttyUSB0", "/dev/ttyUSB0"},
      {"\\\\.\\foo", "\\\\.\\foo"},
  };
  for (const auto &c : cases) {
    char path[64];
    ASSERT_EQ(serial_device_path(c.name, path, sizeof path), 0) << c.name;
    EXPECT_STREQ(path, c.path) << c.name;
  }
}

TEST(SerialNames, PathThatDoesNotFitIsRefused) {
  char path[11];  // "/dev/ttyS2" and its NUL
  EXPECT_EQ(serial_device_path("COM3", path, sizeof path), 0);
  char exact[13];  // "/dev/ttyS122" and its NUL
  EXPECT_EQ(serial_device_path("COM123", exact, sizeof exact), 0);
  EXPECT_EQ(serial_device_path("COM123", exact, sizeof exact - 1), -1);
  EXPECT_EQ(serial_device_path("/dev/ttyUSB0", path, sizeof path), -1);
}

// ---------------------------------------------------------------- wire trace

std::vector<std::string> trace_events(const std::string &file) {
  std::vector<std::string> events;
  int64_t last_us = -1;
  for (const WireEvent &e : read_wire_log(file)) {
    EXPECT_GE(e.us, last_us) << e.event << " " << e.value;  // times never go back
    last_us = e.us;
    events.push_back(e.event + " " + e.value);
  }
  return events;
}

// ORN_TRACE naming something that is no regular file: the port opens at once
// and works, untraced, and nothing reaches what the name names.
TEST(SerialTrace, OnlyARegularFileIsTracedTo) {
  std::string dir = make_temp_dir("h1-trace-dir");
  ASSERT_FALSE(dir.empty());
  std::string fifo = dir + "/fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  for (const std::string &name : {fifo, dir, std::string("/dev/full")}) {
    SCOPED_TRACE(name);
    PtyPair pty;
    ASSERT_TRUE(pty.ok());
    setenv("ORN_TRACE", name.c_str(), 1);
    HANDLE port = open_port(pty.slave);
    unsetenv("ORN_TRACE");
    ASSERT_NE(port, INVALID_HANDLE_VALUE);
    const BYTE bytes[] = {0x41, 0xF3};
    DWORD written;
    EXPECT_TRUE(WriteFile(port, bytes, 2, &written, nullptr));
    CloseHandle(port);
    char seen[16];
    EXPECT_LE(read(reader, seen, sizeof seen), 0) << "the FIFO got trace lines";
  }
  close(reader);
  unlink(fifo.c_str());
  rmdir(dir.c_str());
}

TEST(SerialTrace, RealPortAppendsTheLineEvents) {
  char file[] = "/tmp/h1-trace-XXXXXX";
  int fd = mkstemp(file);
  ASSERT_GE(fd, 0);
  close(fd);
  PtyPair pty;
  ASSERT_TRUE(pty.ok());
  setenv("ORN_TRACE", file, 1);
  HANDLE port = open_port(pty.slave);
  unsetenv("ORN_TRACE");
  ASSERT_NE(port, INVALID_HANDLE_VALUE);
  COMMCONFIG config;
  DWORD size = sizeof config;
  ASSERT_TRUE(GetCommConfig(port, &config, &size));
  config.dcb.BaudRate = 38400;
  config.dcb.fDtrControl = DTR_CONTROL_DISABLE;
  ASSERT_TRUE(SetCommConfig(port, &config, size));
  ASSERT_TRUE(SetCommConfig(port, &config, size));  // no change: nothing to say
  const BYTE bytes[] = {0x41, 0xF3};
  DWORD written;
  ASSERT_TRUE(WriteFile(port, bytes, 2, &written, nullptr));
  DWORD status;
  ASSERT_TRUE(GetCommModemStatus(port, &status));
  config.dcb.fRtsControl = RTS_CONTROL_DISABLE;
  config.dcb.Parity = EVENPARITY;
  ASSERT_TRUE(SetCommConfig(port, &config, size)) << GetLastError();
  CloseHandle(port);
  const std::vector<std::string> expected = {
      "LINE 9600 8N1", "DTR 1", "RTS 1", "LINE 38400 8N1", "DTR 0",
      "TX 41",         "TX F3", "DSR 0", "LINE 38400 8E1", "RTS 0",
  };
  EXPECT_EQ(trace_events(file), expected);
  unlink(file);
}

}  // namespace
