// The receiver's command protocol: reset and wake, CV read (bit by bit on DSR,
// then a verify), CV write, quit.
#pragma once

#include <cstdint>

struct CvSelection {
  int number;  // 1 to 256
  int bank;    // 0 normal, 1 alternative
  int value;   // 0 to 255, or -1 after a failed read
};

// The CV that the next read or write addresses. Starts as CV 1, normal, 0.
extern CvSelection cv_selection;
// Non-zero: reset_receiver says nothing (a job run with --quiet); the line's
// bytes and pauses are the same.
extern int receiver_messages_quiet;

#define CMD_QUERY_BIT 0xB0
#define CMD_VERIFY 0xAF
#define CMD_WRITE 0xAE
#define CMD_QUIT 0xEE

// The receiver sets DSR this long after an opcode has reached it.
#define RECEIVER_ANSWER_US 1000

// How long after an opcode has left the wire a DSR sample waits: the
// receiver's own 1 ms on an ideal line, more where the line's check found the
// modem status to arrive late (link/line_check.h). Never below 1 ms.
extern int64_t answer_wait_us;
// Non-zero where the line may show an old answer as a new one: every read and
// verify then ends with a verify of the complement, which must be refused,
// and the confirmation is sampled twice.
extern int line_slow;

// Reads the selected CV; stores and returns its value, or -1 when the receiver
// does not confirm it (or, where the line could not have said no, confirms the
// complement too). A confirmed complement, or a second failed read in a row,
// marks the line for a new check.
int read_cv(void);
// Writes the selected CV's value (its low 8 bits) without reading it back.
void write_cv(void);
// Asks the receiver to confirm the selected CV's value as a read ends: 1 when
// it confirms, 0 when not. Changes nothing in cv_selection.
int verify_cv(void);
// Holds the receiver in reset for reset_wait_ms, then wakes it into service mode.
void reset_receiver(int reset_wait_ms);
// Releases the receiver from service mode.
void quit_receiver(void);

// The pieces the line check asks its known questions with.
// Sends bank, index (of cv_selection), data and opcode.
void send_command(int data, int opcode);
// The DSR level now; a failed status read counts as not asserted.
int dsr_asserted(void);
