// tarvel's serial port: open and configure the one port, send single bytes
// that wait for their completion, and keep a read pending in the background.
#include "link/serial_port.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "console/console.h"
#include "link/line_check.h"
#include "platform/clock.h"
#include "platform/port_open_cause.h"
#include "services/shown_text.h"

HANDLE port_handle = INVALID_HANDLE_VALUE;
COMMCONFIG port_config;
DWORD port_config_size;

unsigned char receive_ring[RECEIVE_RING_SIZE];
unsigned ring_head;
unsigned received_count;
int ring_overflow;
unsigned failed_writes = 0;
char port_open_cause[PORT_OPEN_TEXT_SIZE];
char port_open_advice[PORT_OPEN_TEXT_SIZE];
CRITICAL_SECTION port_lock;

namespace {

// Each side has its own request and done flag; a completion routine runs on
// the thread that queued the request, so the flags need no lock.
OVERLAPPED write_request;
int write_done;
OVERLAPPED read_request;
int read_done;
DWORD read_error;
DWORD last_read_length;
void *reader_thread;
// The line as our writes have used it: when the last byte handed over will
// have left the wire at the latest by its line time, and when it has left.
int64_t line_free_us;
int64_t wire_clear_at_us;
int line_baud = 38400;
// The code of the refused read last reported, so that a dead device is
// reported once instead of ten times a second.
DWORD reported_refusal;

// A dead device refuses or fails every read at once; this pause keeps the
// reader from spinning on it. Real time on purpose: it paces the reader, it is
// no part of the protocol's timing.
const int READ_RETRY_PAUSE_MS = 100;

void clear_port_error(void) {
  DWORD errors = 0;
  COMSTAT status;
  ClearCommError(port_handle, &errors, &status);
}

BYTE parity_setting(int parity) {
  switch (parity) {
    case 'O':
      return ODDPARITY;
    case 'E':
      return EVENPARITY;
    case 'M':
      return MARKPARITY;
    case 'S':
      return SPACEPARITY;
    default:
      return NOPARITY;
  }
}

void configure_port(int baud_rate, int data_bits, int parity, int stop_bits, int dtr, int rts) {
  GetCommConfig(port_handle, &port_config, &port_config_size);
  apply_line_settings(&port_config.dcb, baud_rate, data_bits, parity, stop_bits, dtr, rts);
  SetCommConfig(port_handle, &port_config, port_config_size);
  if (baud_rate > 0) line_baud = baud_rate;
  // A read stays pending until a byte arrives and ends 2 ms after a burst.
  COMMTIMEOUTS timeouts = {2, 0, 0, 0, 0};
  SetCommTimeouts(port_handle, &timeouts);
  clear_port_error();
}

// ---------------------------------------------------------------- writing

// Ten bit times, to the microsecond as the receiver counts them.
int64_t byte_time_us(void) {
  return (10000000 + line_baud / 2) / line_baud;
}

// A byte handed over at start_us leaves the wire one byte time after the line
// is free; the completion tells the truth only where it comes later.
void account_wire_time(int64_t start_us) {
  line_free_us = (start_us > line_free_us ? start_us : line_free_us) + byte_time_us();
  int64_t done_us = clock_now_us();
  wire_clear_at_us = done_us > line_free_us ? done_us : line_free_us;
}

void WINAPI write_completed(DWORD error_code, DWORD, LPOVERLAPPED) {
  // The byte counts as sent either way; a port that aborts on errors must be
  // cleared before it takes the next one.
  if (error_code != 0) {
    clear_port_error();
    failed_writes++;
  }
  write_done = 1;
}

// ---------------------------------------------------------------- reading

void WINAPI read_completed(DWORD error_code, DWORD transferred, LPOVERLAPPED) {
  if (error_code != 0) clear_port_error();
  read_error = error_code;
  last_read_length = transferred;
  read_done = 1;
}

void pause_reader(void) {
  std::this_thread::sleep_for(std::chrono::milliseconds(READ_RETRY_PAUSE_MS));
}

void report_refused_read(void) {
  DWORD code = GetLastError();
  if (code != ERROR_OPERATION_ABORTED && code != reported_refusal) {
    char text[200] = "";
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                   0x0400, text, sizeof text, nullptr);
    printf("Readfile: %d %s\n", (int)code, shown_message(text).c_str());
    reported_refusal = code;
  }
  clear_port_error();
}

// Counts what one read delivered; length is what it asked for.
void store_arrival(DWORD got, unsigned length) {
  if (got > length) got = length;
  EnterCriticalSection(&port_lock);
  ring_head += got;
  if (ring_head >= RECEIVE_RING_SIZE) ring_head -= RECEIVE_RING_SIZE;
  received_count += got;
  if (received_count > RECEIVE_RING_SIZE) ring_overflow = 1;
  LeaveCriticalSection(&port_lock);
}

void read_once(void) {
  unsigned length = next_read_length(ring_head);
  memset(&read_request, 0, sizeof read_request);
  read_done = 0;
  if (!ReadFileEx(port_handle, receive_ring + ring_head, length, &read_request, read_completed)) {
    report_refused_read();
    pause_reader();
    return;
  }
  while (!read_done) SleepEx(INFINITE, TRUE);
  store_arrival(last_read_length, length);
  if (read_error == 0 && last_read_length > 0) {
    reported_refusal = 0;
  } else {
    pause_reader();
  }
}

unsigned reader_main(void *) {
  for (;;) read_once();
}

// ---------------------------------------------------------------- exit

void release_port(void) {
  if (reader_thread != nullptr) framework_release_thread(reader_thread);
  reader_thread = nullptr;
  // The reader runs on until the process ends and may be about to count a
  // read: deleting the lock under it would crash the exit, so it stays taken
  // and goes with the process.
  EnterCriticalSection(&port_lock);
}

}  // namespace

void apply_line_settings(DCB *dcb, int baud_rate, int data_bits, int parity, int stop_bits, int dtr,
                         int rts) {
  if (dtr != 0) dcb->fDtrControl = DTR_CONTROL_ENABLE;
  if (rts != 0) dcb->fRtsControl = RTS_CONTROL_ENABLE;
  dcb->fParity = 0;
  dcb->fOutxCtsFlow = 0;
  dcb->fOutxDsrFlow = 0;
  dcb->BaudRate = (DWORD)baud_rate;
  dcb->ByteSize = (BYTE)data_bits;
  dcb->Parity = parity_setting(parity);
  dcb->StopBits = stop_bits == 2 ? TWOSTOPBITS : ONESTOPBIT;
}

int open_port(const char *port, int baud_rate, int data_bits, int parity, int stop_bits, int dtr,
              int rts) {
  char device[DEVICE_NAME_SIZE];
  if (form_device_name(port, device, sizeof device) != 0) {
    snprintf(port_open_cause, sizeof port_open_cause,
             "Der Name ist zu lang (h\x94"
             "chstens %d Zeichen).",
             DEVICE_NAME_SIZE - 1);
    port_open_advice[0] = '\0';
    fprintf(stderr, "Open_in %s: Error %ld\n", shown_text(port).c_str(),
            (long)ERROR_FILENAME_EXCED_RANGE);
    return -1;
  }
  InitializeCriticalSection(&port_lock);
  port_config_size = sizeof(COMMCONFIG);
  SetConsoleMode(console_output, ENABLE_PROCESSED_OUTPUT | ENABLE_WRAP_AT_EOL_OUTPUT);
  port_handle = CreateFileA(device, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            FILE_FLAG_OVERLAPPED | FILE_ATTRIBUTE_NORMAL, nullptr);
  if (port_handle == INVALID_HANDLE_VALUE) {
    DWORD code = GetLastError();
    describe_port_open_failure(code, port_open_cause, sizeof port_open_cause, port_open_advice,
                               sizeof port_open_advice);
    fprintf(stderr, "Open_in %s: Error %ld\n", shown_text(device).c_str(), (long)code);
    return -1;
  }
  configure_port(baud_rate, data_bits, parity, stop_bits, dtr, rts);
  line_check_forget();
  reader_thread = framework_begin_thread(reader_main, nullptr);
  atexit(release_port);
  return 0;
}

void write_byte(int value) {
  // Stays valid until the write has completed: we do not return before.
  BYTE byte = (BYTE)(value & 0xFF);
  int64_t start_us = clock_now_us();
  // A refused request never completes, so nothing is waited for; it gets one
  // more try and is then dropped.
  for (int attempt = 0; attempt < 2; attempt++) {
    memset(&write_request, 0, sizeof write_request);
    write_done = 0;
    if (WriteFileEx(port_handle, &byte, 1, &write_request, write_completed)) {
      while (!write_done) SleepEx(INFINITE, TRUE);
      account_wire_time(start_us);
      return;
    }
    clear_port_error();
  }
  failed_writes++;
  // Nothing left: the pause after it counts from now.
  wire_clear_at_us = clock_now_us();
}

int64_t wire_clear_us(void) {
  return wire_clear_at_us;
}

void pause_from_wire_us(int64_t us) {
  // Before the first byte there is nothing to count from but now.
  int64_t from_us = wire_clear_at_us != 0 ? wire_clear_at_us : clock_now_us();
  clock_sleep_until_us(from_us + us);
}

void pause_ms(int ms) {
  clock_sleep_us((int64_t)ms * 1000);
}

unsigned next_read_length(unsigned head) {
  return head <= RECEIVE_RING_SIZE - READ_CHUNK ? READ_CHUNK : RECEIVE_RING_SIZE - head;
}
