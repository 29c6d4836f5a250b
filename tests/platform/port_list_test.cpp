// The port listing on a fake sysfs tree (ORN_PORTS_ROOT): which ttys are
// ports, what identifies them, in which order; and the listing seen through
// both programs' --ports. On the same tree, the port that "usb:SERIAL" names.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "services/port_argument.h"
#include "services/port_list.h"
#include "tests/support/program_run.h"
#include "tests/support/temp_dir_fixture.h"

namespace {

namespace fs = std::filesystem;

// dir is the fake root: the listing reads ORN_PORTS_ROOT/sys.
class PortList : public TempDirFixture {
 protected:
  PortList() : TempDirFixture("port_list") {}

  void SetUp() override {
    TempDirFixture::SetUp();
    setenv("ORN_PORTS_ROOT", dir.c_str(), 1);
    fs::create_directories(dir + "/sys/class/tty");
  }
  void TearDown() override {
    unsetenv("ORN_PORTS_ROOT");
    TempDirFixture::TearDown();
  }

  void write(const std::string &path, const std::string &text) {
    fs::create_directories(fs::path(dir + path).parent_path());
    std::ofstream(dir + path) << text << "\n";
  }
  void link(const std::string &target, const std::string &path) {
    fs::create_directories(fs::path(dir + path).parent_path());
    fs::create_directory_symlink(target, dir + path);
  }
  // A tty as the kernel shows it: its class entry links into the device tree,
  // and its "device" link (when it has a device) to the device above it.
  void tty(const std::string &name, const std::string &device_folder, const char *type) {
    std::string node = "/sys/devices/" + device_folder + "/tty/" + name;
    fs::create_directories(dir + node);
    if (type != nullptr) write(node + "/type", type);
    if (!device_folder.empty() && device_folder.find("virtual") == std::string::npos) {
      fs::create_directory_symlink(dir + "/sys/devices/" + device_folder, dir + node + "/device");
    }
    link("../../devices/" + device_folder + "/tty/" + name, "/sys/class/tty/" + name);
  }
  void usb_adapter(const std::string &usb, const std::string &vendor, const std::string &product,
                   const char *maker, const char *model, const char *serial) {
    std::string folder = "/sys/devices/pci0000:00/0000:00:14.0/" + usb;
    write(folder + "/idVendor", vendor);
    write(folder + "/idProduct", product);
    if (maker) write(folder + "/manufacturer", maker);
    if (model) write(folder + "/product", model);
    if (serial) write(folder + "/serial", serial);
  }

  std::string listing(int *count) {
    FILE *out = tmpfile();
    *count = print_serial_ports(out);
    rewind(out);
    std::string text;
    char buffer[512];
    while (fgets(buffer, sizeof buffer, out)) text += buffer;
    fclose(out);
    return text;
  }
};

TEST_F(PortList, ListsRealUartsAndUsbAdaptersButNoPhantomsOrConsoles) {
  tty("ttyS0", "platform/serial8250", "4");
  tty("ttyS1", "platform/serial8250", "0");  // one of the 32 phantoms
  tty("ttyS10", "pnp0/00:05", "10");
  tty("ttyS2", "pci0000:00/0000:00:16.3", "4");
  tty("tty0", "virtual", nullptr);
  tty("ttyprintk", "virtual", nullptr);
  usb_adapter("usb1/1-2", "0403", "6001", "FTDI", "FT232R USB UART", "A9XK3Q1Z");
  tty("ttyUSB0", "pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0/ttyUSB0", nullptr);
  usb_adapter("usb1/1-3", "1a86", "7523", nullptr, "USB Serial", nullptr);
  tty("ttyUSB1", "pci0000:00/0000:00:14.0/usb1/1-3/1-3:1.0/ttyUSB1", nullptr);
  usb_adapter("usb1/1-4", "2341", "0043", "Arduino (www.arduino.cc)", nullptr, "7523230313535");
  tty("ttyACM0", "pci0000:00/0000:00:14.0/usb1/1-4/1-4:1.0", nullptr);
  link("../../ttyUSB0", "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A9XK3Q1Z-if00-port0");
  link("../../ttyACM0", "/dev/serial/by-id/usb-Arduino_7523230313535-if00");
  link("../../ttyUSB0", "/dev/serial/by-path/pci-0000:00:14.0-usb-0:2:1.0-port0");

  int count = 0;
  std::string text = listing(&count);
  EXPECT_EQ(count, 6);
  EXPECT_EQ(text,
            "/dev/ttyACM0  USB 2341:0043 Arduino (www.arduino.cc), Seriennummer 7523230313535"
            "  /dev/serial/by-id/usb-Arduino_7523230313535-if00\n"
            "/dev/ttyS0  UART 16550A  (COM1)\n"
            "/dev/ttyS2  UART 16550A  (COM3)\n"
            "/dev/ttyS10  UART 16C950  (COM11)\n"
            "/dev/ttyUSB0  USB 0403:6001 FTDI FT232R USB UART, Seriennummer A9XK3Q1Z"
            "  /dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A9XK3Q1Z-if00-port0\n"
            "/dev/ttyUSB1  USB 1a86:7523 USB Serial\n");
}

TEST_F(PortList, ATreeWithoutPortsListsNothing) {
  struct Case {
    const char *what;
    bool class_folder;
  } cases[] = {{"no tty class at all", false}, {"only phantoms and consoles", true}};
  for (const Case &c : cases) {
    fs::remove_all(dir + "/sys");
    if (c.class_folder) {
      fs::create_directories(dir + "/sys/class/tty");
      tty("ttyS0", "platform/serial8250", "0");
      tty("console", "virtual", nullptr);
    }
    int count = -1;
    EXPECT_EQ(listing(&count), "") << c.what;
    EXPECT_EQ(count, 0) << c.what;
  }
}

// An FTDI adapter's latency timer (ftdi_sio's sysfs attribute beside the
// port device) stands after the adapter's names, with a hint above 1 ms;
// anything else leaves the line as it was.
TEST_F(PortList, UsbAdaptersShowTheLatencyTheirDriverReports) {
  const std::string ftdi = "/dev/ttyUSB0  USB 0403:6001 FTDI FT232R USB UART";
  const std::string ch340 = "/dev/ttyUSB0  USB 1a86:7523 USB Serial";
  const std::string by_id = "  /dev/serial/by-id/usb-adapter-if00-port0";
  struct Case {
    const char *what;
    bool is_ftdi;
    const char *latency_file;  // nullptr: no such attribute
    std::string line;
  } cases[] = {
      {"1 ms", true, "1", ftdi + "  Latenz 1 ms" + by_id},
      {"16 ms", true, "16", ftdi + "  Latenz 16 ms (zu hoch: auf 1 ms stellen)" + by_id},
      {"2 ms", true, "2", ftdi + "  Latenz 2 ms (zu hoch: auf 1 ms stellen)" + by_id},
      {"255 ms", true, "255", ftdi + "  Latenz 255 ms (zu hoch: auf 1 ms stellen)" + by_id},
      {"0 ms", true, "0", ftdi + "  Latenz 0 ms" + by_id},
      {"no attribute", true, nullptr, ftdi + by_id},
      {"empty file", true, "", ftdi + by_id},
      {"letters", true, "abc", ftdi + by_id},
      {"a unit", true, "16 ms", ftdi + by_id},
      {"negative", true, "-1", ftdi + by_id},
      {"out of range", true, "256", ftdi + by_id},
      {"too long", true, "0016", ftdi + by_id},
      {"a control", true, "1\x1b[2J", ftdi + by_id},
      {"not FTDI", false, nullptr, ch340 + by_id},
  };
  const std::string port = "pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0/ttyUSB0";
  for (const Case &c : cases) {
    fs::remove_all(dir + "/sys");
    fs::remove_all(dir + "/dev");
    fs::create_directories(dir + "/sys/class/tty");
    if (c.is_ftdi) {
      usb_adapter("usb1/1-2", "0403", "6001", "FTDI", "FT232R USB UART", nullptr);
    } else {
      usb_adapter("usb1/1-2", "1a86", "7523", nullptr, "USB Serial", nullptr);
    }
    tty("ttyUSB0", port, nullptr);
    link("../../../devices/" + port, "/sys/bus/usb-serial/devices/ttyUSB0");
    link("../../ttyUSB0", "/dev/serial/by-id/usb-adapter-if00-port0");
    if (c.latency_file != nullptr) write("/sys/devices/" + port + "/latency_timer", c.latency_file);
    int count = 0;
    EXPECT_EQ(listing(&count), c.line + "\n") << c.what;
    EXPECT_EQ(count, 1) << c.what;
  }
}

// Both programs answer --ports with the listing and 0, before their banner,
// and touch no port.
TEST_F(PortList, BothProgramsListThePortsAndEndWith0) {
  tty("ttyS3", "platform/serial8250", "4");
  struct Case {
    const char *program;
    bool ports;
    const char *out;
  } cases[] = {
      {TARVEL_PATH, true, "/dev/ttyS3  UART 16550A  (COM4)\n"},
      {MORREX_PATH, true, "/dev/ttyS3  UART 16550A  (COM4)\n"},
      {TARVEL_PATH, false, "Keine serielle Schnittstelle gefunden.\n"},
      {MORREX_PATH, false, "Keine serielle Schnittstelle gefunden.\n"},
  };
  for (const Case &c : cases) {
    if (!c.ports) fs::remove_all(dir + "/sys/class/tty/ttyS3");
    std::string command = std::string(c.program) + " --ports </dev/null 2>&1";
    FILE *pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string text;
    char buffer[512];
    while (fgets(buffer, sizeof buffer, pipe)) text += buffer;
    int status = pclose(pipe);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << c.program;
    EXPECT_EQ(text, c.out) << c.program;
  }
}

// ---------------------------------------------------------------- usb:SERIAL

// A tree with adapters whose serial numbers find them: one of a kind, one
// without a serial number, a two-port adapter, and three cheap clones that
// share one.
class UsbSerial : public PortList {
 protected:
  void SetUp() override {
    PortList::SetUp();
    tty("ttyS0", "platform/serial8250", "4");
    usb_adapter("usb1/1-2", "0403", "6001", "FTDI", "FT232R USB UART", "A9XK3Q1Z");
    tty("ttyUSB0", usb_port("1-2", "ttyUSB0"), nullptr);
    usb_adapter("usb1/1-3", "1a86", "7523", nullptr, "USB Serial", nullptr);
    tty("ttyUSB1", usb_port("1-3", "ttyUSB1"), nullptr);
    usb_adapter("usb1/1-4", "2341", "0043", "Arduino (www.arduino.cc)", nullptr, "7523230313535");
    tty("ttyACM0", "pci0000:00/0000:00:14.0/usb1/1-4/1-4:1.0", nullptr);
    usb_adapter("usb1/1-5", "0403", "6010", "FTDI", "Dual RS232", "FT2DUAL");
    tty("ttyUSB2", usb_port("1-5", "ttyUSB2"), nullptr);
    tty("ttyUSB3", "pci0000:00/0000:00:14.0/usb1/1-5/1-5:1.1/ttyUSB3", nullptr);
    const char *clones[][2] = {{"1-6", "ttyUSB10"}, {"1-7", "ttyUSB5"}, {"1-8", "ttyUSB4"}};
    for (const auto &clone : clones) {
      usb_adapter(std::string("usb1/") + clone[0], "067b", "2303", "Prolific", nullptr, "CLONE");
      tty(clone[1], usb_port(clone[0], clone[1]), nullptr);
    }
  }
  static std::string usb_port(const std::string &usb, const std::string &name) {
    return "pci0000:00/0000:00:14.0/usb1/" + usb + "/" + usb + ":1.0/" + name;
  }
};

TEST_F(UsbSerial, FindsTheOneAdapterWithTheSerialNumberOrSaysWhyNot) {
  struct Case {
    const char *port;
    int result;
    unsigned long code;
    std::string found;  // the device, or the cause; "%" for the tree
  } cases[] = {
      {"usb:A9XK3Q1Z", 0, 0, "%/dev/ttyUSB0"},
      {"usb:a9xk3q1z", 0, 0, "%/dev/ttyUSB0"},
      {"USB:A9XK3Q1Z", 0, 0, "%/dev/ttyUSB0"},
      {"usb:7523230313535", 0, 0, "%/dev/ttyACM0"},
      {"usb:A9XK3Q1", -1, 2, "Kein USB-Adapter mit Seriennummer A9XK3Q1 gefunden."},
      {"usb:NOPE", -1, 2, "Kein USB-Adapter mit Seriennummer NOPE gefunden."},
      {"usb:", -1, 2, "Seriennummer fehlt nach usb:"},
      {"usb:FT2DUAL", -1, 87,
       "Mehrere Schnittstellen mit Seriennummer FT2DUAL: %/dev/ttyUSB2 und %/dev/ttyUSB3 (eine "
       "davon angeben)."},
      {"usb:clone", -1, 87,
       "Mehrere Schnittstellen mit Seriennummer clone: %/dev/ttyUSB4, %/dev/ttyUSB5 und "
       "%/dev/ttyUSB10 (eine davon angeben)."},
      // The user's text is shown, never obeyed.
      {"usb:X\x1b[2J", -1, 2, "Kein USB-Adapter mit Seriennummer X\u2190[2J gefunden."},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.port);
    char device[100] = "garbage", cause[300] = "";
    unsigned long code = 0;
    int result = resolve_usb_port(c.port, device, sizeof device, &code, cause, sizeof cause);
    EXPECT_EQ(result, c.result);
    std::string found = c.found;
    for (size_t at = found.find('%'); at != std::string::npos; at = found.find('%', at + 1)) {
      found.replace(at, 1, dir);
    }
    if (c.result == 0) {
      EXPECT_EQ(device, found);
    } else {
      EXPECT_STREQ(device, "");
      EXPECT_EQ(code, c.code);
      EXPECT_EQ(cause, found);
    }
  }
}

TEST_F(UsbSerial, ADeviceNameThatDoesNotFitIsRefusedWhole) {
  char device[8] = "garbage", cause[300] = "";
  unsigned long code = 0;
  EXPECT_EQ(resolve_usb_port("usb:A9XK3Q1Z", device, sizeof device, &code, cause, sizeof cause),
            -1);
  EXPECT_STREQ(device, "");
  EXPECT_EQ(code, 87u);
  EXPECT_EQ(std::string(cause), "Der Name ist zu lang: " + dir + "/dev/ttyUSB0");
}

TEST(PortArgument, OnlyTheUsbPrefixNamesAnAdapterBySerialNumber) {
  struct Case {
    const char *port;
    bool by_serial;
  } cases[] = {
      {"usb:A9XK3Q1Z", true},  {"Usb:", true},      {"usb", false},    {"usbA", false},
      {"/dev/ttyUSB0", false}, {"sim:usb:", false}, {"xusb:A", false}, {"", false},
  };
  for (const Case &c : cases) EXPECT_EQ(names_usb_serial(c.port), c.by_serial) << c.port;
}

TEST(PortArgument, AnEmptyVariableNamesNoPort) {
  unsetenv("ORN_TEST_PORT");
  EXPECT_EQ(port_from_environment("ORN_TEST_PORT"), nullptr);
  setenv("ORN_TEST_PORT", "", 1);
  EXPECT_EQ(port_from_environment("ORN_TEST_PORT"), nullptr);
  setenv("ORN_TEST_PORT", "sim:r", 1);
  EXPECT_STREQ(port_from_environment("ORN_TEST_PORT"), "sim:r");
  unsetenv("ORN_TEST_PORT");
}

// Both programs: an adapter that is not there, or not the only one, ends the
// run as a port that cannot be opened does; one that is found is opened by
// its device name (here a folder, which no port opens).
TEST_F(UsbSerial, BothProgramsNameTheMissingOrAmbiguousAdapterAndEndAsForAnyPort) {
  fs::create_directories(dir + "/dev/ttyUSB0");
  const std::string not_found =
      "Error 2\nGrund: Kein USB-Adapter mit Seriennummer NOPE gefunden.\n";
  const std::string two =
      "Error 87\nGrund: Mehrere Schnittstellen mit Seriennummer FT2DUAL: " + dir +
      "/dev/ttyUSB2 und " + dir + "/dev/ttyUSB3 (eine davon angeben).\n";
  const std::string folder = "Error 5\nGrund: " + system_words(EISDIR) + "\n";
  struct Case {
    const char *program;
    std::vector<std::string> args;
    int code;
    std::string err;
  } cases[] = {
      {TARVEL_PATH, {"--read-out", "%/cvs.txt", "usb:NOPE"}, 99, "Open_in usb:NOPE: " + not_found},
      {TARVEL_PATH, {"--read-out", "%/cvs.txt", "usb:FT2DUAL"}, 99, "Open_in usb:FT2DUAL: " + two},
      {TARVEL_PATH,
       {"--read-out", "%/cvs.txt", "usb:A9XK3Q1Z"},
       99,
       "Open_in " + dir + "/dev/ttyUSB0: " + folder},
      {MORREX_PATH, {"usb:NOPE", "%/fw.bin"}, 1, "Open usb:NOPE: " + not_found},
      {MORREX_PATH, {"xusb:FT2DUAL", "%/fw.bin"}, 1, "Open usb:FT2DUAL: " + two},
      {MORREX_PATH, {"rusb:A9XK3Q1Z", "%/fw.bin"}, 1, "Open usb:A9XK3Q1Z: " + folder},
  };
  std::ofstream(dir + "/fw.bin") << "8\x5A"
                                 << "3";
  for (const Case &c : cases) {
    SCOPED_TRACE(c.args[c.args.size() - 2]);
    RunOptions options;
    options.environment = {"ORN_PORTS_ROOT=" + dir};
    options.stdin_fd = open("/dev/null", O_RDONLY);
    ProgramRun r = run_program(c.program, with_dir(c.args, dir), dir, options);
    close(options.stdin_fd);
    EXPECT_EQ(r.code, c.code);
    std::string hint = std::string("Vorhandene Schnittstellen zeigt: ") +
                       (c.code == 99 ? "tarvel" : "morrex") + " --ports\n";
    EXPECT_EQ(r.err, c.err + hint);
    EXPECT_FALSE(fs::exists(dir + "/cvs.txt"));
  }
}

}  // namespace
