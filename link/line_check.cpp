// The line's check (see line_check.h).
#include "link/line_check.h"

#include <algorithm>
#include <vector>

#include "link/receiver_protocol.h"
#include "link/serial_port.h"
#include "platform/clock.h"

LineMeasure line_measure = {LINE_UNCHECKED, 0, 0, 0, 0, 0};

namespace {

const int AFTER_SAMPLE_MS = 3;
const int64_t POLL_STEP_US = 250;
// The steps by which a slow pass varies the phase of its confirmations.
const int64_t PHASE_STEP_US = 1250;
const int PROBE_CV = 1;
// A confirmation that does not show is asked again this often in a row
// before the pairs give up.
const int CONFIRM_TRIES = 3;

int suspect = 0;

// What the check has seen of DSR, to tell a silent line from a stuck one.
struct Seen {
  int ones;
  int zeros;
};
Seen seen;

int sample(void) {
  int level = dsr_asserted();
  (level ? seen.ones : seen.zeros)++;
  return level;
}

// After a command: samples from first_us after its opcode left the wire, one
// every POLL_STEP_US, until DSR shows level. Returns when it first showed,
// counted from the wire, or -1 when it did not within the longest delay;
// *at_once says whether the first sample showed it.
int64_t wait_for_level(int level, int64_t first_us, int *at_once) {
  int64_t from_us = wire_clear_us();
  int64_t at_us = from_us + first_us;
  *at_once = 1;
  for (;;) {
    clock_sleep_until_us(at_us);
    int64_t asked_us = clock_now_us();
    if (sample() == level) return asked_us - from_us;
    *at_once = 0;
    if (asked_us - from_us >= LINE_LONGEST_ANSWER_US) return -1;
    at_us = std::max(at_us + POLL_STEP_US, clock_now_us());
  }
}

// The probe CV read bit by bit, each sample wait_us after its opcode.
int probe_value(int64_t wait_us) {
  int value = 0;
  for (int mask = 0x01; mask <= 0x80; mask <<= 1) {
    send_command(mask, CMD_QUERY_BIT);
    pause_from_wire_us(wait_us);
    if (sample()) value |= mask;
    pause_ms(AFTER_SAMPLE_MS);
  }
  return value;
}

// What one pass of pairs found.
struct Pass {
  int value;                    // the probe CV's, as read
  std::vector<int64_t> delays;  // of the confirmations
  int at_once;                  // every answer showed at the first sample
  int refusal_missing;          // a complement was confirmed up to the longest delay
};

// The complement must be refused. It comes first in a pair, so that the
// confirmation after it starts from a line that showed no: any yes seen then
// is the confirmation's own. Sampled no earlier than twice as late as the
// slowest confirmation so far, so that the no seen is its answer, not the gap
// before it; on an ideal line at 1 ms.
int refusal_shows(int value, Pass *pass) {
  int64_t slowest =
      pass->delays.empty() ? 0 : *std::max_element(pass->delays.begin(), pass->delays.end());
  int64_t late_by = std::max<int64_t>(0, slowest - RECEIVER_ANSWER_US);
  int64_t first_us = std::min<int64_t>(RECEIVER_ANSWER_US + 2 * late_by, LINE_LONGEST_ANSWER_US);
  int at_once;
  send_command(~value & 0xFF, CMD_VERIFY);
  int shows = wait_for_level(0, first_us, &at_once) >= 0;
  pause_ms(AFTER_SAMPLE_MS);
  pass->at_once &= at_once;
  if (!shows) pass->refusal_missing = 1;
  return shows;
}

// One confirmation of value, timed into the pass; 0 when it never showed.
int confirmation_shows(int value, Pass *pass) {
  int at_once;
  send_command(value, CMD_VERIFY);
  int64_t delay_us = wait_for_level(1, RECEIVER_ANSWER_US, &at_once);
  pause_ms(AFTER_SAMPLE_MS);
  // A receiver's refusal says nothing about the line's pace.
  if (delay_us < 0) return 0;
  pass->at_once &= at_once;
  pass->delays.push_back(delay_us);
  return 1;
}

// A pause before the n-th confirmation of a slow pass: an adapter reports
// the status at ticks, and pairs that follow each other at one pace would
// meet every tick at the same phase and see only one delay of the many the
// line has. Sixteen steps spread over 20 ms, in an order that mixes them.
int64_t phase_step_us(int n) {
  return (n * 7 % 16) * PHASE_STEP_US;
}

// Pairs of a refusal and a confirmation. A receiver may refuse now and then,
// so a confirmation that does not show is asked again at once, a few times in
// a row: the line showed no until the longest delay, as a refusal leaves it.
// spread: vary the phase of the confirmations (a slow line).
void time_pairs(int value, int pairs, int spread, Pass *pass) {
  while ((int)pass->delays.size() < pairs) {
    if (!refusal_shows(value, pass)) return;
    if (spread) clock_sleep_us(phase_step_us((int)pass->delays.size()));
    int tries = 0;
    while (!confirmation_shows(value, pass)) {
      if (++tries == CONFIRM_TRIES) return;
    }
  }
}

int verdict_of(const Pass &pass, int pairs) {
  if (seen.zeros == 0) return LINE_STUCK;
  if (seen.ones == 0) return LINE_SILENT;
  if (pass.refusal_missing || (int)pass.delays.size() < pairs) return LINE_NO_CONFIRM;
  return LINE_SERVES;
}

void measure(const Pass &pass, int verdict) {
  std::vector<int64_t> delays = pass.delays;
  line_measure.verdict = verdict;
  line_measure.answers = (int)delays.size();
  line_measure.ideal = pass.at_once;
  if (delays.empty()) return;
  std::sort(delays.begin(), delays.end());
  line_measure.min_us = delays.front();
  line_measure.max_us = delays.back();
  line_measure.median_us = delays[delays.size() / 2];
}

// On an ideal line the receiver's own 1 ms holds. Otherwise the slowest
// answer seen (it showed at that sample or before), plus what the spread says
// so few samples may have missed: the phases of n samples leave about 1/n of
// the spread uncovered at its top, twice that to be on the safe side, but no
// more than the phase steps leave between them.
void set_answer_wait(void) {
  if (line_measure.ideal) return;
  int64_t spread = line_measure.max_us - line_measure.min_us;
  int64_t missed = std::min<int64_t>(2 * spread / line_measure.answers, PHASE_STEP_US);
  int64_t wait = line_measure.max_us + missed;
  answer_wait_us = std::max(answer_wait_us, wait);
  line_slow = answer_wait_us > RECEIVER_ANSWER_US;
}

// A pass at the pace in force; where it is not clean, the probe value may be
// wrong on a slow line: read it again slowly and take that pass instead.
Pass check_passes(int pairs) {
  Pass pass = {probe_value(answer_wait_us), {}, 1, 0};
  time_pairs(pass.value, pairs, 0, &pass);
  if (pass.at_once && !pass.refusal_missing && (int)pass.delays.size() == pairs) return pass;
  pass = Pass{probe_value(LINE_LONGEST_ANSWER_US), {}, 1, 0};
  time_pairs(pass.value, pairs, 1, &pass);
  return pass;
}

// The answers a pace check expects, yes and no: a sequence that differs from
// itself shifted by any step, so that a line showing an answer one, two or
// more questions late cannot pass it.
const int PACE_ANSWERS[] = {1, 1, 1, 1, 0, 0, 0, 1, 0, 0, 1, 1, 0, 1, 0};
// How often a wait that failed the pace check is made a little longer before
// the line is given up.
const int PACE_TRIES = 4;

// Questions at the pace reads will ask them, each sampled once after
// answer_wait_us. A late answer shows as a yes where a no is due somewhere in
// the sequence: that fails it at once. A no where a yes is due may also be a
// receiver's refusal now and then, so a few are let pass. Returns 1 when the
// answers hold.
int pace_holds(int value) {
  int missed_yes = 0, yeses = 0;
  for (int expected : PACE_ANSWERS) {
    send_command(expected ? value : ~value & 0xFF, CMD_VERIFY);
    pause_from_wire_us(answer_wait_us);
    int answer = sample();
    pause_ms(AFTER_SAMPLE_MS);
    if (answer && !expected) return 0;
    yeses += expected;
    missed_yes += expected && !answer;
  }
  return missed_yes * 2 <= yeses;
}

// A slow line's wait is tried at the pace of a read, and made longer while
// answers come too late for it. Returns the verdict.
int settle_pace(int value) {
  for (int tries = 0; tries < PACE_TRIES; tries++) {
    if (pace_holds(value)) return LINE_SERVES;
    int64_t spread = line_measure.max_us - line_measure.min_us;
    int64_t longer = std::max<int64_t>(spread / 8, 2 * POLL_STEP_US);
    answer_wait_us = std::min<int64_t>(answer_wait_us + longer, LINE_LONGEST_ANSWER_US);
  }
  return LINE_NO_CONFIRM;
}

}  // namespace

void line_check_forget(void) {
  line_measure = LineMeasure{LINE_UNCHECKED, 0, 0, 0, 0, 0};
  answer_wait_us = RECEIVER_ANSWER_US;
  line_slow = 0;
  suspect = 0;
}

int line_check_due(void) {
  return line_measure.verdict != LINE_SERVES || suspect;
}

void line_mark_suspect(void) {
  suspect = 1;
}

int line_check(int pairs) {
  CvSelection kept = cv_selection;
  cv_selection = {PROBE_CV, 0, 0};
  seen = Seen{0, 0};
  Pass pass = check_passes(pairs);
  measure(pass, verdict_of(pass, pairs));
  if (line_measure.verdict == LINE_SERVES) set_answer_wait();
  if (line_measure.verdict == LINE_SERVES && line_slow) {
    line_measure.verdict = settle_pace(pass.value);
  }
  suspect = 0;
  cv_selection = kept;
  return line_measure.verdict;
}
