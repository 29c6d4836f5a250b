// The virtual receiver as a port: "sim:DIR?OPTIONS" (virtual_receiver.h).
#pragma once

// Registers the prefix "sim:" with the port calls (platform/serial_device.h).
// Call before the first port is opened; a second call changes nothing.
void virtual_receiver_plug_in(void);
