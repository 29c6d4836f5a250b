// Which port names a plugged-in device opens. Filled at start-up, before any
// thread runs, and only read afterwards, so it needs no lock.
#include <cstring>

#include "platform/serial_device.h"

namespace {

struct Registration {
  const char *prefix;
  SerialDeviceOpener open;
};

const int MOST_REGISTRATIONS = 4;
Registration registrations[MOST_REGISTRATIONS];
int registration_count = 0;

}  // namespace

void serial_device_register(const char *prefix, SerialDeviceOpener open) {
  if (registration_count < MOST_REGISTRATIONS) registrations[registration_count++] = {prefix, open};
}

SerialDeviceOpener serial_device_opener(const char *name) {
  for (int i = 0; i < registration_count; i++) {
    const Registration &entry = registrations[i];
    if (strncmp(name, entry.prefix, strlen(entry.prefix)) == 0) return entry.open;
  }
  return nullptr;
}
