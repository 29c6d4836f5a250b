// The COM ports on Windows: the device setup API's ports class gives each its
// friendly name ("USB-SERIAL CH340 (COM5)"); the DOS device names add every COM
// port it does not know (virtual ports, Wine's dosdevices links), and stand in
// for it where it fails.
#include <windows.h>
#include <setupapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/port_list.h"
#include "platform/shown_text.h"
// The listing reaches the console as code page 850 text and UTF-8 glyphs.
#include "platform/win32/console_text_win32.h"

namespace {

// GUID_DEVCLASS_PORTS: serial and parallel ports.
const GUID ports_class = {
    0x4D36E978, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};

struct Port {
  int number;
  std::string name;
  std::string description;
};

// The n of "COMn" (any case), or 0 for any other name.
int com_number(const char *name) {
  if (_strnicmp(name, "COM", 3) != 0 || name[3] < '1' || name[3] > '9') return 0;
  for (const char *digit = name + 3; *digit != '\0'; digit++) {
    if (*digit < '0' || *digit > '9') return 0;
  }
  return atoi(name + 3);
}

std::string port_name_of(HDEVINFO set, SP_DEVINFO_DATA *info) {
  HKEY key = SetupDiOpenDevRegKey(set, info, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
  if (key == INVALID_HANDLE_VALUE) return "";
  char name[64] = "";
  DWORD size = sizeof name - 1, type = 0;
  if (RegQueryValueExA(key, "PortName", nullptr, &type, (BYTE *)name, &size) != ERROR_SUCCESS ||
      type != REG_SZ) {
    name[0] = '\0';
  }
  RegCloseKey(key);
  name[sizeof name - 1] = '\0';
  return name;
}

void add_setup_ports(std::vector<Port> *ports) {
  HDEVINFO set = SetupDiGetClassDevsA(&ports_class, nullptr, nullptr, DIGCF_PRESENT);
  if (set == INVALID_HANDLE_VALUE) return;
  SP_DEVINFO_DATA info;
  info.cbSize = sizeof info;
  for (DWORD index = 0; SetupDiEnumDeviceInfo(set, index, &info); index++) {
    std::string name = port_name_of(set, &info);
    int number = com_number(name.c_str());
    if (number == 0) continue;  // a printer port
    char friendly[256] = "";
    if (!SetupDiGetDeviceRegistryPropertyA(set, &info, SPDRP_FRIENDLYNAME, nullptr,
                                           (BYTE *)friendly, sizeof friendly - 1, nullptr)) {
      friendly[0] = '\0';
    }
    ports->push_back({number, name, friendly});
  }
  SetupDiDestroyDeviceInfoList(set);
}

bool listed(const std::vector<Port> &ports, int number) {
  for (const Port &port : ports) {
    if (port.number == number) return true;
  }
  return false;
}

void add_dos_devices(std::vector<Port> *ports) {
  // The list of every DOS device name; a machine with many needs a larger buffer.
  std::vector<char> names;
  DWORD length = 0;
  for (size_t size = 65536; length == 0 && size <= 4 * 1024 * 1024; size *= 4) {
    names.assign(size, '\0');
    length = QueryDosDeviceA(nullptr, names.data(), (DWORD)names.size());
    if (length == 0 && GetLastError() != ERROR_INSUFFICIENT_BUFFER) return;
  }
  if (length == 0) return;
  for (const char *name = names.data(); *name != '\0' && name < names.data() + length;
       name += strlen(name) + 1) {
    int number = com_number(name);
    if (number == 0 || listed(*ports, number)) continue;
    std::string upper = "COM" + std::to_string(number);
    ports->push_back({number, upper, ""});
  }
}

}  // namespace

int print_serial_ports(FILE *out) {
  std::vector<Port> ports;
  add_setup_ports(&ports);
  add_dos_devices(&ports);
  std::sort(ports.begin(), ports.end(),
            [](const Port &a, const Port &b) { return a.number < b.number; });
  for (const Port &port : ports) {
    if (port.description.empty()) {
      fprintf(out, "%s\n", port.name.c_str());
    } else {
      // The friendly name is the driver maker's text, not ours; the name is
      // COM and digits (com_number).
      fprintf(out, "%s  %s\n", port.name.c_str(), shown_text(port.description.c_str()).c_str());
    }
  }
  return (int)ports.size();
}
