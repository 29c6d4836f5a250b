// Plugs the virtual receiver into the port calls: from before main on, a port
// named "sim:..." opens it. Linked into the programs and into the tests that
// open such ports; the linker keeps this file for its anchor, as nothing calls
// into it.
#include "platform/serial_device.h"
#include "virtual_receiver/virtual_receiver.h"

int virtual_receiver_plug_in_anchor = 0;

namespace {

struct PlugIn {
  PlugIn() { serial_device_register("sim:", virtual_receiver_open_device); }
} plug_in;

}  // namespace
