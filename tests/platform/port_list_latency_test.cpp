// The latency timer's words in the port listing, on both builds: the hint
// from 2 ms up, nothing for a value the timer cannot hold. And the serial
// number a Windows device instance ID holds, read the same on both builds.
#include <gtest/gtest.h>

#include <string>

#include "services/port_list.h"

namespace {

TEST(PortLatencyText, OneMillisecondIsRightMoreIsFlagged) {
  struct Case {
    long ms;
    const char *text;
  } cases[] = {
      {1, "Latenz 1 ms"},
      {0, "Latenz 0 ms"},
      {2, "Latenz 2 ms (zu hoch: auf 1 ms stellen)"},
      {16, "Latenz 16 ms (zu hoch: auf 1 ms stellen)"},
      {255, "Latenz 255 ms (zu hoch: auf 1 ms stellen)"},
      {-1, ""},
      {256, ""},
      {1000, ""},
  };
  for (const Case &c : cases) EXPECT_EQ(port_latency_text(c.ms), c.text) << c.ms;
}

TEST(UsbInstanceSerial, OnlyAUsbDevicesOwnSerialNumberCounts) {
  struct Case {
    const char *id;
    bool usb_device;
    const char *serial;
  } cases[] = {
      {"USB\\VID_0403&PID_6001\\A50285BI", true, "A50285BI"},
      {"usb\\vid_2341&pid_0043\\7523230313535", true, "7523230313535"},
      {"USB\\VID_1A86&PID_7523\\5&2A4B3C&0&1", true, ""},          // no serial: Windows' number
      {"USB\\VID_2341&PID_8036&MI_00\\6&3A1B&0&0000", false, ""},  // an interface
      {"FTDIBUS\\VID_0403+PID_6001+A50285BIA\\0000", false, ""},   // the driver's bus
      {"ACPI\\PNP0501\\1", false, ""},
      {"USB\\VID_0403&PID_6001", false, ""},
      {"USB\\VID_0403&PID_6001\\", true, ""},
      {"USB\\ROOT_HUB30\\4&1B2C&0&0", true, ""},
      {"", false, ""},
  };
  for (const Case &c : cases) {
    std::string serial = "garbage";
    EXPECT_EQ(usb_instance_serial(c.id, &serial), c.usb_device) << c.id;
    EXPECT_EQ(serial, c.serial) << c.id;
  }
}

}  // namespace
