// The receiver's command protocol: reset and wake, CV read (bit by bit on DSR,
// then a verify), CV write, quit.
#pragma once

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

// Reads the selected CV; stores and returns its value, or -1 when the receiver
// does not confirm it.
int read_cv(void);
// Writes the selected CV's value (its low 8 bits) without reading it back.
void write_cv(void);
// Asks the receiver to confirm the selected CV's value with one verify, as a
// read ends: 1 when it confirms, 0 when not. Changes nothing in cv_selection.
int verify_cv(void);
// Holds the receiver in reset for reset_wait_ms, then wakes it into service mode.
void reset_receiver(int reset_wait_ms);
// Releases the receiver from service mode.
void quit_receiver(void);
