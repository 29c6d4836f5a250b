// The serial port: opening and configuring it, the one-byte write that every
// byte on the line goes through, and the reset-and-wake sequence.
#include "services/port_argument.h"
#include "platform/port_open_cause.h"
#include "updater/updater.h"

#include "platform/clock.h"
#include "services/shown_text.h"

HANDLE port_handle = INVALID_HANDLE_VALUE;
int failed_writes = 0;

namespace {

COMMCONFIG port_config;
DWORD config_size;
// Ten bit times at 38400 baud, to the microsecond as the receiver counts them.
const int64_t BYTE_TIME_US = 260;
// When the bytes handed over will have left the wire by their line time, and
// when the last one has left.
int64_t line_free_us;
int64_t wire_clear_us;
static_assert(sizeof(COMMCONFIG) == 52, "the configuration size the port calls are given");

// Reads the configuration, sets the DTR and RTS controls, writes it back; every
// other field stays as read. The results are not examined: a port that refuses a
// setting is used as it is.
void reconfigure(int dtr_control, int rts_control) {
  GetCommConfig(port_handle, &port_config, &config_size);
  port_config.dcb.fDtrControl = dtr_control;
  port_config.dcb.fRtsControl = rts_control;
  SetCommConfig(port_handle, &port_config, config_size);
}

}  // namespace

// On Windows the device namespace prefix is what makes COM10 and above
// reachable; the messages keep the short name.
std::string port_open_name(void) {
#ifdef _WIN32
  if (port_device.empty()) return "\\\\.\\" + port_name;
#endif
  return port_name;
}

namespace {

// The name to open: the adapter that "usb:SERIAL" names, or the port's own.
// Returns 0, or -1 after saying, as a failed open does, why there is none.
int name_to_open(std::string *name) {
  *name = port_open_name();
  if (!names_usb_serial(port_device.c_str())) return 0;
  char device[300], cause[300];
  unsigned long code = 0;
  if (resolve_usb_port(port_device.c_str(), device, sizeof device, &code, cause, sizeof cause) ==
      0) {
    *name = device;
    return 0;
  }
  fprintf(stderr, "Open %s: Error %ld\n", shown_text(port_name.c_str()).c_str(), (long)code);
  print_ports_hint(cause, "");
  return -1;
}

}  // namespace

int open_port(void) {
  config_size = sizeof(COMMCONFIG);
  std::string name;
  if (name_to_open(&name) != 0) return end_run(EXIT_PORT);
  port_handle = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (port_handle == INVALID_HANDLE_VALUE) {
    DWORD code = GetLastError();
    char cause[300], advice[300];
    describe_port_open_failure(code, cause, sizeof cause, advice, sizeof advice);
    fprintf(stderr, "Open %s: Error %ld\n", shown_text(port_name.c_str()).c_str(), (long)code);
    print_ports_hint(cause, advice);
    return end_run(EXIT_PORT);
  }
  GetCommConfig(port_handle, &port_config, &config_size);
  port_config.dcb.BaudRate = CBR_38400;
  port_config.dcb.ByteSize = 8;
  port_config.dcb.Parity = NOPARITY;
  port_config.dcb.StopBits = ONESTOPBIT;
  port_config.dcb.fOutxCtsFlow = FALSE;
  port_config.dcb.fDtrControl = DTR_CONTROL_DISABLE;
  port_config.dcb.fRtsControl = RTS_CONTROL_DISABLE;
  SetCommConfig(port_handle, &port_config, config_size);
  return 0;
}

void write_byte(int value) {
  BYTE byte = (BYTE)(value & 0xFF);
  DWORD written = 0;
  int64_t start_us = clock_now_us();
  if (!WriteFile(port_handle, &byte, 1, &written, nullptr)) {
    DWORD code = GetLastError();
    char cause[300];
    describe_system_error(code, cause, sizeof cause);
    fprintf(stderr, "WriteFile returns %ld: %s\n", (long)code, shown_text(cause).c_str());
    failed_writes++;
    // Nothing left: the pause after it counts from now.
    wire_clear_us = clock_now_us();
    return;
  }
  line_free_us = (start_us > line_free_us ? start_us : line_free_us) + BYTE_TIME_US;
  int64_t done_us = clock_now_us();
  wire_clear_us = done_us > line_free_us ? done_us : line_free_us;
}

void pause_from_wire(int ms) {
  int64_t from_us = wire_clear_us != 0 ? wire_clear_us : clock_now_us();
  clock_sleep_until_us(from_us + (int64_t)ms * 1000);
}

void reset_receiver(ResetMode mode, int wait) {
  if (mode != NO_RESET) {
    Sleep(BEFORE_RESET_BYTE_MS);
    write_byte(RESET_BYTE);
    pause_from_wire(AFTER_RESET_BYTE_MS);
    reconfigure(DTR_CONTROL_ENABLE, RTS_CONTROL_ENABLE);
    updater_print("%d Sekunden Reset....", wait / 1000);
    Sleep(wait);
    updater_print("\n");
    reconfigure(DTR_CONTROL_DISABLE, RTS_CONTROL_DISABLE);
  }
  Sleep(BEFORE_WAKE_MS);
  for (int value = WAKE_FIRST; value <= WAKE_LAST; value++) {
    write_byte(value);
    pause_from_wire(WAKE_BYTE_MS);
  }
  updater_print("\nEmpfaenger sollte kurz hupen/blinken bzw. Dauerton/Dauerblinken beenden\n");
  Sleep(AFTER_WAKE_MS);
}
