// The COM ports on Windows: the device setup API's ports class gives each its
// friendly name ("USB-SERIAL CH340 (COM5)"); the DOS device names add every COM
// port it does not know (virtual ports, Wine's dosdevices links), and stand in
// for it where it fails. A port of the FTDI driver also shows its latency
// timer, from the driver's device parameters. A USB adapter's serial number
// comes from its device instance ID (USB\VID_0403&PID_6001\A50285BI), which
// also finds the port that a "usb:SERIAL" argument names.
#include <windows.h>
#include <cfgmgr32.h>
#include <setupapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "services/port_list.h"
#include "services/shown_text.h"
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
  std::string serial;  // the USB adapter's serial number; empty for none
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

// The serial number of the USB device the port is or hangs from (an FTDI
// port's bus device, a composite device's interface); empty where that device
// has none.
std::string usb_serial_of(DEVINST instance) {
  for (int level = 0; level < 4; level++) {
    char id[MAX_DEVICE_ID_LEN + 1] = "";
    if (CM_Get_Device_IDA(instance, id, sizeof id - 1, 0) != CR_SUCCESS) return "";
    std::string serial;
    if (usb_instance_serial(id, &serial)) return serial;
    DEVINST parent;
    if (CM_Get_Parent(&parent, instance, 0) != CR_SUCCESS) return "";
    instance = parent;
  }
  return "";
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
    ports->push_back({number, name, friendly, usb_serial_of(info.DevInst)});
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
    ports->push_back({number, upper, "", ""});
  }
}

// The name of key's subkey number index, or false past the last.
bool subkey_name(HKEY key, DWORD index, char *name, DWORD size) {
  return RegEnumKeyExA(key, index, name, &size, nullptr, nullptr, nullptr, nullptr) ==
         ERROR_SUCCESS;
}

// LatencyTimer of a device whose PortName is COMnumber, or -1.
long parameters_latency(HKEY parameters, int number) {
  char name[64] = "";
  DWORD size = sizeof name - 1, type = 0, latency = 0;
  if (RegQueryValueExA(parameters, "PortName", nullptr, &type, (BYTE *)name, &size) !=
          ERROR_SUCCESS ||
      type != REG_SZ || com_number(name) != number) {
    return -1;
  }
  size = sizeof latency;
  if (RegQueryValueExA(parameters, "LatencyTimer", nullptr, &type, (BYTE *)&latency, &size) !=
          ERROR_SUCCESS ||
      type != REG_DWORD || size != sizeof latency) {
    return -1;
  }
  return latency <= 255 ? (long)latency : -1;
}

// The latency of COMnumber among one FTDIBUS device's instances ("0000", ...).
long device_latency(HKEY bus, const char *device, int number) {
  HKEY instances;
  if (RegOpenKeyExA(bus, device, 0, KEY_READ, &instances) != ERROR_SUCCESS) return -1;
  long latency = -1;
  char instance[256];
  for (DWORD i = 0; latency < 0 && subkey_name(instances, i, instance, sizeof instance); i++) {
    std::string path = std::string(instance) + "\\Device Parameters";
    HKEY parameters;
    if (RegOpenKeyExA(instances, path.c_str(), 0, KEY_READ, &parameters) != ERROR_SUCCESS) continue;
    latency = parameters_latency(parameters, number);
    RegCloseKey(parameters);
  }
  RegCloseKey(instances);
  return latency;
}

// The FTDI driver's latency timer in ms for COMnumber, or -1 where it is no
// port of that driver. The driver keeps it beside the port's name.
long ftdi_latency(int number) {
  HKEY bus;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Enum\\FTDIBUS", 0, KEY_READ,
                    &bus) != ERROR_SUCCESS) {
    return -1;
  }
  long latency = -1;
  char device[256];
  for (DWORD i = 0; latency < 0 && subkey_name(bus, i, device, sizeof device); i++) {
    latency = device_latency(bus, device, number);
  }
  RegCloseKey(bus);
  return latency;
}

// "COM5  USB Serial Port (COM5)  Latenz 16 ms (...)": what is known, in that order.
std::string port_line(const Port &port) {
  // The friendly name is the driver maker's text, not ours; the name is COM
  // and digits (com_number), the latency our own words.
  std::string line = port.name;
  if (!port.description.empty()) line += "  " + shown_text(port.description.c_str());
  if (!port.serial.empty()) line += ", Seriennummer " + shown_text(port.serial.c_str());
  std::string latency = port_latency_text(ftdi_latency(port.number));
  if (!latency.empty()) line += "  " + latency;
  return line;
}

// Every port, by number.
std::vector<Port> all_ports(void) {
  std::vector<Port> ports;
  add_setup_ports(&ports);
  add_dos_devices(&ports);
  std::sort(ports.begin(), ports.end(),
            [](const Port &a, const Port &b) { return a.number < b.number; });
  return ports;
}

}  // namespace

std::vector<std::string> ports_with_serial(const std::string &serial) {
  std::vector<std::string> names;
  for (const Port &port : all_ports()) {
    if (!port.serial.empty() && _stricmp(port.serial.c_str(), serial.c_str()) == 0) {
      names.push_back("\\\\.\\" + port.name);
    }
  }
  return names;
}

int print_serial_ports(FILE *out) {
  std::vector<Port> ports = all_ports();
  for (const Port &port : ports) fprintf(out, "%s\n", port_line(port).c_str());
  return (int)ports.size();
}
