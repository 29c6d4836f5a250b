// The receiver behind a port handle. Its own file: it needs the platform's
// handle table (serial_device_of), which a test of the receiver alone does not
// link.
#include "virtual_receiver/receiver_state.h"

VirtualReceiver *virtual_receiver_of(HANDLE port) {
  SerialDevice *device = serial_device_of(port);
  return device == nullptr ? nullptr : vr_receiver_of_device(device);
}
