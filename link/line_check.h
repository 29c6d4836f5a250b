// The line's check: before the first read of a run, questions whose answers
// are known tell whether a receiver answers at all, whether DSR can say no
// (a looped or shorted cable holds it asserted), and how late the modem status
// shows an answer (a USB adapter reports it in packets). Reads then wait for
// that (receiver_protocol.h: answer_wait_us, line_slow).
//
// The known answers: CV 1 of the normal bank is read, then its value is
// verified (the receiver must confirm) and its complement (it must refuse),
// pair after pair, each confirmation timed from when its opcode left the
// wire to the first DSR sample that shows it.
#pragma once

#include <cstdint>

enum LineVerdict {
  LINE_UNCHECKED,
  LINE_SERVES,     // answers confirmed and refused as they must be
  LINE_SILENT,     // DSR never asserted: no receiver, no power, no cable
  LINE_STUCK,      // DSR never de-asserted: a looped or shorted line
  LINE_NO_CONFIRM  // the receiver answers, but confirms nothing in time
};

// The longest answer delay the check waits for; a line slower than this does
// not serve.
#define LINE_LONGEST_ANSWER_US 30000
// Pairs of known answers: a run's first check, a check after a failed read.
#define LINE_CHECK_PAIRS 16
#define LINE_RECHECK_PAIRS 4

struct LineMeasure {
  int verdict;
  int answers;        // confirmations timed
  int64_t median_us;  // answer delay: opcode off the wire to DSR showing it
  int64_t max_us;
  int64_t min_us;
  int ideal;  // every answer showed at the first sample, 1 ms on
};

// What the latest check found (verdict LINE_UNCHECKED before the first).
extern LineMeasure line_measure;

// Forgets what the checks found: a port opened anew is checked afresh.
void line_check_forget(void);
// Non-zero when the line has not been checked yet, or a read since the last
// check failed (its delay may have grown).
int line_check_due(void);
// A read failed: the next line_check_due() asks for a check.
void line_mark_suspect(void);
// Checks the line on the woken receiver with pairs of known answers, and sets
// answer_wait_us and line_slow from what it finds (a delay found once never
// shrinks in a run). Leaves cv_selection as it was. Returns the verdict.
int line_check(int pairs);
