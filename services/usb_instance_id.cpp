// A USB adapter's serial number in a Windows device instance ID, read by the
// same rule on both builds, so that it is tested on both.
#include <cctype>
#include <cstring>
#include <string>

#include "services/port_list.h"

namespace {

bool starts_with_usb(const char *id) {
  return strlen(id) >= 4 && tolower((unsigned char)id[0]) == 'u' &&
         tolower((unsigned char)id[1]) == 's' && tolower((unsigned char)id[2]) == 'b' &&
         id[3] == '\\';
}

}  // namespace

bool usb_instance_serial(const char *id, std::string *serial) {
  serial->clear();
  if (!starts_with_usb(id)) return false;
  const char *end = strchr(id + 4, '\\');
  if (end == nullptr) return false;
  std::string hardware(id + 4, end);
  if (hardware.find("&MI_") != std::string::npos) return false;  // an interface
  // Windows makes up a number with '&' in it where the device has no serial.
  if (end[1] != '\0' && strpbrk(end + 1, "&\\") == nullptr) *serial = end + 1;
  return true;
}
