// The receiver's command protocol. The receiver answers only on DSR, so a CV
// is read as eight yes-or-no questions and a verify of the assembled byte.
// Every pause after a byte counts from when that byte has left the wire.
#include "link/receiver_protocol.h"

#include <cstdio>

#include "link/line_check.h"
#include "link/serial_port.h"

CvSelection cv_selection = {1, 0, 0};
int64_t answer_wait_us = RECEIVER_ANSWER_US;
int line_slow = 0;

namespace {

const int AFTER_SAMPLE_MS = 3;
const int AFTER_WRITE_MS = 10;  // the receiver stores the byte meanwhile
const int WAKE_BYTE_PAUSE_MS = 20;
const int BEFORE_RESET_BYTE_MS = 500;  // the service lines settle
const int AFTER_RESET_BYTE_MS = 200;
const int AFTER_WAKE_MS = 2000;  // the receiver honks or blinks meanwhile
const int AFTER_QUIT_MS = 20;
const int RESET_BYTE = 'A';
const int WAKE_FIRST = 0xF3;
const int WAKE_LAST = 0xFE;  // 0xFF would start the boot loader instead
const int WAKE_END = 0x55;
// A stuck line holds DSR asserted, and so reads every CV as 255.
const int ALL_BITS = 0xFF;
// A receiver may refuse a value now and then; refusals in a row, or a
// complement it confirms, may mean that the line has grown slower.
const int REFUSALS_BEFORE_CHECK = 2;
int refusals_in_a_row = 0;

void pause_from_wire_ms(int ms) {
  pause_from_wire_us((int64_t)ms * 1000);
}

// ---------------------------------------------------------------- CV commands

int ask(int data, int opcode) {
  send_command(data, opcode);
  pause_from_wire_us(answer_wait_us);
  return dsr_asserted();
}

// The confirmation of value; where the line is slow, the answer must still
// stand at the end of the pause after it: one that changes was an old one.
int confirmed(int value) {
  int yes = ask(value, CMD_VERIFY);
  pause_ms(AFTER_SAMPLE_MS);
  if (yes && line_slow) yes = dsr_asserted();
  return yes;
}

// A line that cannot say no confirms the complement too.
int refused(int value) {
  int yes = ask(~value & ALL_BITS, CMD_VERIFY);
  pause_ms(AFTER_SAMPLE_MS);
  return !yes;
}

int value_holds(int value) {
  int holds = confirmed(value);
  int said_yes = holds;
  if (holds && (line_slow || value == ALL_BITS)) holds = refused(value);
  refusals_in_a_row = holds ? 0 : refusals_in_a_row + 1;
  if (said_yes != holds || refusals_in_a_row >= REFUSALS_BEFORE_CHECK) line_mark_suspect();
  return holds;
}

// ---------------------------------------------------------------- line changes

// Reads the port's settings afresh, changes the named fields, applies them.
void reconfigure(void (*change)(DCB *dcb)) {
  GetCommConfig(port_handle, &port_config, &port_config_size);
  change(&port_config.dcb);
  SetCommConfig(port_handle, &port_config, port_config_size);
}

void set_service_line(DCB *dcb) {
  dcb->fOutxCtsFlow = 0;
  dcb->fDtrControl = DTR_CONTROL_DISABLE;
  dcb->fRtsControl = RTS_CONTROL_ENABLE;
  dcb->BaudRate = 38400;
  dcb->ByteSize = 8;
  dcb->Parity = NOPARITY;
  dcb->StopBits = ONESTOPBIT;
}

// DTR asserted holds the receiver in reset.
void hold_in_reset(DCB *dcb) {
  dcb->fDtrControl = DTR_CONTROL_ENABLE;
  dcb->fRtsControl = RTS_CONTROL_ENABLE;
}

void release_reset(DCB *dcb) {
  dcb->fDtrControl = DTR_CONTROL_DISABLE;
}

void send_wake_bytes(void) {
  for (int wake = WAKE_FIRST; wake <= WAKE_LAST; wake++) {
    write_byte(wake);
    pause_from_wire_ms(WAKE_BYTE_PAUSE_MS);
  }
  write_byte(WAKE_END);
  pause_from_wire_ms(WAKE_BYTE_PAUSE_MS);
}

}  // namespace

void send_command(int data, int opcode) {
  write_byte(cv_selection.bank);
  write_byte(cv_selection.number - 1);
  write_byte(data);
  write_byte(opcode);
}

int dsr_asserted(void) {
  DWORD status = 0;
  if (!GetCommModemStatus(port_handle, &status)) return 0;
  return (status & MS_DSR_ON) != 0;
}

int read_cv(void) {
  int assembled = 0;
  for (int mask = 0x01; mask <= 0x80; mask <<= 1) {
    if (ask(mask, CMD_QUERY_BIT)) assembled |= mask;
    pause_ms(AFTER_SAMPLE_MS);
  }
  cv_selection.value = value_holds(assembled) ? assembled : -1;
  return cv_selection.value;
}

void write_cv(void) {
  send_command(cv_selection.value & 0xFF, CMD_WRITE);
  pause_from_wire_ms(AFTER_WRITE_MS);
}

int verify_cv(void) {
  return value_holds(cv_selection.value & 0xFF);
}

int receiver_messages_quiet = 0;

void reset_receiver(int reset_wait_ms) {
  reconfigure(set_service_line);
  pause_ms(BEFORE_RESET_BYTE_MS);
  write_byte(RESET_BYTE);
  pause_from_wire_ms(AFTER_RESET_BYTE_MS);
  reconfigure(hold_in_reset);
  if (!receiver_messages_quiet) printf("%d Sekunden Reset....", reset_wait_ms / 1000);
  fflush(stdout);
  pause_ms(reset_wait_ms);
  if (!receiver_messages_quiet) printf("\n");
  reconfigure(release_reset);
  pause_ms(WAKE_BYTE_PAUSE_MS);
  send_wake_bytes();
  if (!receiver_messages_quiet) printf("\nEmpf\x84nger sollte kurz hupen bzw. blinken\n");
  fflush(stdout);
  pause_ms(AFTER_WAKE_MS);
}

void quit_receiver(void) {
  for (int i = 0; i < 4; i++) write_byte(CMD_QUIT);
  pause_from_wire_ms(AFTER_QUIT_MS);
}
