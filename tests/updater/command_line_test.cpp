// The port argument: reset prefix, port number as atoi reads it, device names.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "updater/updater.h"

namespace {

struct PortCase {
  const char *argument;
  ResetMode mode;
  int wait;
  const char *name;  // as the messages name the port
  const char *device;
};

const PortCase port_cases[] = {
    {"3", FULL_RESET, 10000, "COM3", ""},
    {"x12", SHORT_RESET, 2000, "COM12", ""},
    {"r5", NO_RESET, 0, "COM5", ""},
    // Only the lower-case letters are prefixes.
    {"R5", FULL_RESET, 10000, "COM0", ""},
    {"X5", FULL_RESET, 10000, "COM0", ""},
    {"-3", FULL_RESET, 10000, "COM-3", ""},
    {"COM3", FULL_RESET, 10000, "COM0", ""},
    {" 7", FULL_RESET, 10000, "COM7", ""},
    {"+4", FULL_RESET, 10000, "COM4", ""},
    {"12abc", FULL_RESET, 10000, "COM12", ""},
    {"", FULL_RESET, 10000, "COM0", ""},
    {"r", NO_RESET, 0, "COM0", ""},
    {"xr3", SHORT_RESET, 2000, "COM0", ""},
    // Too large for an int: held at the limit rather than undefined.
    {"99999999999", FULL_RESET, 10000, "COM2147483647", ""},
    {"-99999999999", FULL_RESET, 10000, "COM-2147483648", ""},
    // Device names, after the prefix.
    {"/dev/ttyUSB0", FULL_RESET, 10000, "/dev/ttyUSB0", "/dev/ttyUSB0"},
    {"x/dev/ttyUSB0", SHORT_RESET, 2000, "/dev/ttyUSB0", "/dev/ttyUSB0"},
    {"r./tty", NO_RESET, 0, "./tty", "./tty"},
    {"sim:", FULL_RESET, 10000, "sim:", "sim:"},
    {"xsim:DIR", SHORT_RESET, 2000, "sim:DIR", "sim:DIR"},
    {"rsim:?instant", NO_RESET, 0, "sim:?instant", "sim:?instant"},
    {"X/dev/ttyUSB0", FULL_RESET, 10000, "X/dev/ttyUSB0", "X/dev/ttyUSB0"},
};

class PortArgument : public ::testing::TestWithParam<PortCase> {};

TEST_P(PortArgument, GivesResetModeWaitAndPortName) {
  const PortCase &c = GetParam();
  take_port_argument(c.argument);
  EXPECT_EQ(reset_mode, c.mode);
  EXPECT_EQ(reset_wait, c.wait);
  EXPECT_EQ(port_name, c.name);
  EXPECT_EQ(port_device, c.device);
}

INSTANTIATE_TEST_SUITE_P(Forms, PortArgument, ::testing::ValuesIn(port_cases));

TEST(PortArgument, AFollowingArgumentForgetsTheDeviceOfAnEarlierOne) {
  take_port_argument("xsim:DIR");
  take_port_argument("4");
  EXPECT_EQ(port_device, "");
  EXPECT_EQ(port_name, "COM4");
  EXPECT_EQ(reset_mode, FULL_RESET);
}

TEST(PortArgument, OpensComPortsTenAndAboveThroughTheDeviceNamespaceOnWindows) {
  take_port_argument("x12");
#ifdef _WIN32
  EXPECT_EQ(port_open_name(), "\\\\.\\COM12");
#else
  EXPECT_EQ(port_open_name(), "COM12");
#endif
  EXPECT_EQ(port_name, "COM12");
  take_port_argument("xsim:DIR");
  EXPECT_EQ(port_open_name(), "sim:DIR");
}

// Options stand anywhere; what is left are the port and the file, in order.
TEST(Options, AreTakenWhereverTheyStandAndLeaveThePositionalsInOrder) {
  struct Row {
    std::vector<std::string> args;
    int request;
    std::vector<std::string> left;
    const char *bad;
  };
  const Row rows[] = {
      {{"3", "fw.bin"}, REQUEST_RUN, {"3", "fw.bin"}, ""},
      {{"--help"}, REQUEST_HELP, {}, ""},
      {{"-h"}, REQUEST_HELP, {}, ""},
      {{"-?"}, REQUEST_HELP, {}, ""},
      {{"/?"}, REQUEST_HELP, {"/?"}, ""},
      {{"x3", "fw.bin", "--help"}, REQUEST_HELP, {"x3", "fw.bin"}, ""},
      {{"--version"}, REQUEST_VERSION, {}, ""},
      {{"-V", "x3"}, REQUEST_VERSION, {"x3"}, ""},
      {{"--version", "--help"}, REQUEST_HELP, {}, ""},
      {{"x3", "--ports"}, REQUEST_PORTS, {"x3"}, ""},
      {{"x3", "fw.bin", "--verify"}, REQUEST_BAD_OPTION, {"x3", "fw.bin"}, "--verify"},
      {{"-q", "x3", "fw.bin"}, REQUEST_BAD_OPTION, {"x3", "fw.bin"}, "-q"},
      {{"--help=x"}, REQUEST_BAD_OPTION, {}, "--help=x"},
      {{"--ports", "--bogus"}, REQUEST_BAD_OPTION, {}, "--bogus"},
      // A negative number is the port argument, as atoi reads it.
      {{"-3", "fw.bin"}, REQUEST_RUN, {"-3", "fw.bin"}, ""},
      {{"x3", "--", "-fw.bin"}, REQUEST_RUN, {"x3", "-fw.bin"}, ""},
      {{"--", "--help", "fw.bin"}, REQUEST_RUN, {"--help", "fw.bin"}, ""},
      {{"-", "fw.bin"}, REQUEST_RUN, {"-", "fw.bin"}, ""},
      {{"x3", "fw.bin", "extra"}, REQUEST_RUN, {"x3", "fw.bin", "extra"}, ""},
  };
  for (const Row &row : rows) {
    std::vector<std::string> storage = {"morrex"};
    storage.insert(storage.end(), row.args.begin(), row.args.end());
    std::vector<char *> argv;
    for (std::string &s : storage) argv.push_back(&s[0]);
    argv.push_back(nullptr);
    int argc = (int)storage.size();
    std::string shown = row.args.empty() ? "" : row.args[0];
    EXPECT_EQ(take_updater_options(&argc, argv.data()), row.request) << shown;
    std::vector<std::string> left(argv.begin() + 1, argv.begin() + argc);
    EXPECT_EQ(left, row.left) << shown;
    EXPECT_EQ(bad_option, row.bad) << shown;
  }
}

}  // namespace
