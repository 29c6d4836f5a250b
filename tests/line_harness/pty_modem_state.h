/* The state that gives a pseudo-terminal modem lines: a small file that the
 * preload library (in the program under test, Linux build or Wine) and the far
 * end (pty_receiver) both map. Plain C, shared by both sides; every field that
 * both sides touch is read and written with the compiler's atomic builtins.
 *
 * The program sets DTR and RTS (TIOCMSET/TIOCMBIS/TIOCMBIC); the far end sets
 * what the receiver drives. Every byte the program writes to the slave gets its
 * time stamp in the ring below, in order, so that the far end can give each byte
 * it reads from the master the time it left the program. Line changes, settings
 * changes and DSR samples are events with their time.
 *
 * Lines like a USB serial adapter's: the far end may hold each byte back for a
 * while after its stamp (its option --byte-delay), and the preload library may
 * answer the modem status late (the environment variables below). The far end
 * keeps a short history of the DSR plans it published, with the time each took
 * effect, so that a late answer can give the level of a past moment. */
#ifndef PTY_MODEM_STATE_H
#define PTY_MODEM_STATE_H

#include <stdint.h>

#define PTY_MODEM_MAGIC 0x6d6f646dU /* "mdom" */
#define PTY_MODEM_STAMPS 65536
#define PTY_MODEM_EVENTS 4096
#define PTY_MODEM_HISTORY 1024
/* The environment variable that names the state file for the preload library. */
#define PTY_MODEM_ENV "ORN_PTY_MODEM"
/* The far end's wake-up FIFO is the state file's name with this appended. */
#define PTY_MODEM_WAKE_SUFFIX ".wake"
/* The modem status as an adapter answers it, read by the preload library (in
 * microseconds; absent or 0: at once and fresh, as on an ideal line). */
#define PTY_STATUS_US_ENV "ORN_PTY_STATUS_US"         /* each TIOCMGET's round trip */
#define PTY_TICK_US_ENV "ORN_PTY_TICK_US"             /* the status is taken at these ticks */
#define PTY_TICK_DELAY_US_ENV "ORN_PTY_TICK_DELAY_US" /* and reaches the program this late */
#define PTY_JITTER_US_ENV "ORN_PTY_JITTER_US"         /* and up to this much later still */
#define PTY_SEED_ENV "ORN_PTY_SEED"                   /* the jitter's seed (default 1) */

enum pty_modem_event_kind {
  PTY_EVENT_LINES = 1,    /* value: TIOCM_DTR | TIOCM_RTS as the program left them */
  PTY_EVENT_SETTINGS = 2, /* the program called tcsetattr on the slave */
  PTY_EVENT_SAMPLE = 3    /* value: the TIOCM_* bits the program was given */
};

struct pty_modem_event {
  int64_t at_us; /* CLOCK_MONOTONIC */
  int64_t of_us; /* a sample: the moment whose DSR level the program was given (at_us on an
                    ideal line, earlier on a late status); otherwise at_us */
  uint32_t kind;
  uint32_t value;
  uint64_t ready; /* the event's number + 1 once written */
};

/* A DSR plan (as dsr_plan below) and the far end's time from which it held. */
struct pty_modem_plan {
  int64_t since_us;
  uint64_t plan;
};

struct pty_modem_state {
  uint32_t magic;         /* written last by the far end */
  uint32_t far_end_pid;   /* a program stops waiting for a far end that is gone */
  uint64_t slave_rdev;    /* only this device has modem lines */
  uint32_t program_lines; /* TIOCM_DTR | TIOCM_RTS */
  uint32_t far_lines;     /* TIOCM_CTS | TIOCM_CD as the far end drives them */
  /* DSR as the receiver will drive it: (from_us << 1) | level; the level holds
   * from from_us on, DSR is off before. Published before the counts below. */
  uint64_t dsr_plan;
  uint64_t bytes_stamped; /* bytes written so far (stamps[n % PTY_MODEM_STAMPS]) */
  uint64_t bytes_done;    /* bytes the far end has given to the receiver */
  uint64_t events_claimed;
  uint64_t events_done;
  uint64_t sample_wait_us;  /* what the samples waited for the far end, in all */
  int64_t made_us;          /* when the far end made the state: the status ticks count from here */
  int64_t byte_delay_us;    /* the far end gives each byte to the receiver this long after its
                               stamp; set before the magic */
  uint64_t plans_published; /* plans so far (history[n % PTY_MODEM_HISTORY]) */
  uint64_t status_answers;  /* late answers given so far: each one's jitter follows from it */
  int64_t latest_status_of_us; /* no late answer shows an older moment than the one before */
  struct pty_modem_plan history[PTY_MODEM_HISTORY];
  int64_t stamps[PTY_MODEM_STAMPS];
  struct pty_modem_event events[PTY_MODEM_EVENTS];
};

#endif
