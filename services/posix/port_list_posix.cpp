// The serial ports on Linux, from sysfs: every tty with a device behind it,
// except the 8250 driver's phantom ports, whose UART type reads 0 (no UART
// found). USB adapters are named by vendor, product and serial number, and by
// their stable /dev/serial/by-id links, which work as port arguments too.
// An FTDI adapter (ftdi_sio) also shows its latency timer. The same serial
// numbers find the port that a "usb:SERIAL" argument names.
#include <dirent.h>
#include <limits.h>
#include <strings.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "services/port_list.h"
#include "services/shown_text.h"

namespace {

std::string ports_root(void) {
  const char *root = getenv("ORN_PORTS_ROOT");
  std::string text = root != nullptr && root[0] != '\0' ? root : "";
  while (!text.empty() && text.back() == '/') text.pop_back();
  return text;
}

// The first line of a small sysfs file, without its line end; empty when the
// file is missing.
std::string first_line(const std::string &path) {
  FILE *file = fopen(path.c_str(), "r");
  if (file == nullptr) return "";
  char text[256] = "";
  if (fgets(text, sizeof text, file) == nullptr) text[0] = '\0';
  fclose(file);
  text[strcspn(text, "\r\n")] = '\0';
  return text;
}

bool exists(const std::string &path) {
  return access(path.c_str(), F_OK) == 0;
}

std::vector<std::string> folder_entries(const std::string &path) {
  std::vector<std::string> names;
  DIR *folder = opendir(path.c_str());
  if (folder == nullptr) return names;
  while (struct dirent *entry = readdir(folder)) {
    if (entry->d_name[0] != '.') names.push_back(entry->d_name);
  }
  closedir(folder);
  return names;
}

// ttyS2 before ttyS10: the letters, then the number at the end.
bool name_before(const std::string &a, const std::string &b) {
  size_t a_digits = a.find_last_not_of("0123456789") + 1;
  size_t b_digits = b.find_last_not_of("0123456789") + 1;
  int order = a.compare(0, a_digits, b, 0, b_digits);
  if (order != 0) return order < 0;
  return atol(a.c_str() + a_digits) < atol(b.c_str() + b_digits);
}

// The names serial_core gives its UART types (include/uapi/linux/serial_core.h).
std::string uart_name(int type) {
  static const struct {
    int type;
    const char *name;
  } names[] = {{1, "8250"},     {2, "16450"},   {3, "16550"},   {4, "16550A"},
               {5, "Cirrus"},   {6, "16650"},   {7, "16650V2"}, {8, "16750"},
               {9, "Startech"}, {10, "16C950"}, {11, "16654"},  {12, "16850"}};
  for (const auto &entry : names) {
    if (entry.type == type) return std::string("UART ") + entry.name;
  }
  return "UART Typ " + std::to_string(type);
}

// The USB device above a tty's device: the nearest folder with an idVendor.
std::string usb_device_of(const std::string &device_link, const std::string &sys_folder) {
  char resolved[PATH_MAX], sys_resolved[PATH_MAX];
  if (realpath(device_link.c_str(), resolved) == nullptr) return "";
  if (realpath(sys_folder.c_str(), sys_resolved) == nullptr) return "";
  std::string folder = resolved, sys = sys_resolved;
  while (folder.size() > sys.size() && folder.compare(0, sys.size(), sys) == 0) {
    if (exists(folder + "/idVendor")) return folder;
    folder.erase(folder.find_last_of('/'));
  }
  return "";
}

std::string usb_description(const std::string &usb) {
  std::string text = "USB " + first_line(usb + "/idVendor") + ":" + first_line(usb + "/idProduct");
  for (const char *field : {"manufacturer", "product"}) {
    std::string value = first_line(usb + "/" + field);
    if (!value.empty()) text += " " + value;
  }
  std::string serial = first_line(usb + "/serial");
  if (!serial.empty()) text += ", Seriennummer " + serial;
  return text;
}

// The latency timer in ms that ftdi_sio shows beside the tty's port device
// (the node /sys/bus/usb-serial/devices/ttyUSBn links to), or -1 where there
// is none or it holds no plain number.
long latency_of(const std::string &tty) {
  std::string text = first_line(tty + "/device/latency_timer");
  if (text.empty() || text.size() > 3) return -1;
  for (char digit : text) {
    if (!isdigit((unsigned char)digit)) return -1;
  }
  return atol(text.c_str());
}

// The /dev/serial/by-id links that lead to /dev/name.
std::string by_id_names(const std::string &root, const std::string &name) {
  std::string text, folder = root + "/dev/serial/by-id";
  std::vector<std::string> links = folder_entries(folder);
  std::sort(links.begin(), links.end());
  for (const std::string &link : links) {
    char target[PATH_MAX];
    ssize_t length = readlink((folder + "/" + link).c_str(), target, sizeof target - 1);
    if (length <= 0) continue;
    target[length] = '\0';
    const char *last = strrchr(target, '/');
    if (strcmp(last != nullptr ? last + 1 : target, name.c_str()) == 0) {
      text += "  /dev/serial/by-id/" + link;
    }
  }
  return text;
}

// What identifies one tty, or an empty text when it is no port to list.
std::string port_line(const std::string &root, const std::string &name) {
  std::string sys = root + "/sys";
  std::string tty = sys + "/class/tty/" + name;
  if (!exists(tty + "/device")) return "";  // consoles, pseudo-terminals
  std::string type = first_line(tty + "/type");
  if (!type.empty() && atoi(type.c_str()) == 0) return "";  // no UART behind it
  std::string line = "/dev/" + name;
  std::string usb = usb_device_of(tty + "/device", sys);
  if (!usb.empty()) {
    line += "  " + usb_description(usb);
    std::string latency = port_latency_text(latency_of(tty));
    if (!latency.empty()) line += "  " + latency;
  } else if (!type.empty()) {
    line += "  " + uart_name(atoi(type.c_str()));
  }
  if (name.compare(0, 4, "ttyS") == 0 && isdigit((unsigned char)name[4])) {
    line += "  (COM" + std::to_string(atoi(name.c_str() + 4) + 1) + ")";
  }
  return line + by_id_names(root, name);
}

// The ttys in sysfs, ttyS2 before ttyS10.
std::vector<std::string> tty_names(const std::string &root) {
  std::vector<std::string> names = folder_entries(root + "/sys/class/tty");
  std::sort(names.begin(), names.end(), name_before);
  return names;
}

// The serial number of the USB adapter behind a tty; empty for none.
std::string tty_serial(const std::string &root, const std::string &name) {
  std::string tty = root + "/sys/class/tty/" + name;
  if (!exists(tty + "/device")) return "";
  std::string usb = usb_device_of(tty + "/device", root + "/sys");
  return usb.empty() ? "" : first_line(usb + "/serial");
}

}  // namespace

std::vector<std::string> ports_with_serial(const std::string &serial) {
  std::string root = ports_root();
  std::vector<std::string> ports;
  for (const std::string &name : tty_names(root)) {
    std::string found = tty_serial(root, name);
    if (!found.empty() && strcasecmp(found.c_str(), serial.c_str()) == 0) {
      ports.push_back(root + "/dev/" + name);
    }
  }
  return ports;
}

int print_serial_ports(FILE *out) {
  std::string root = ports_root();
  std::vector<std::string> names = tty_names(root);
  int count = 0;
  for (const std::string &name : names) {
    std::string line = port_line(root, name);
    if (line.empty()) continue;
    // Names and a device's strings are the device maker's text, not ours.
    fprintf(out, "%s\n", shown_text(line.c_str()).c_str());
    count++;
  }
  return count;
}
