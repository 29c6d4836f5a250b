// Plugs the virtual receiver into the port calls: from then on a port named
// "sim:..." opens it. The programs call it first in main, the tests that open
// such ports in theirs.
#include "virtual_receiver/port_plug_in.h"

#include "platform/serial_device.h"
#include "virtual_receiver/virtual_receiver.h"

void virtual_receiver_plug_in(void) {
  static bool plugged_in = false;
  if (plugged_in) return;
  plugged_in = true;
  serial_device_register("sim:", virtual_receiver_open_device);
}
