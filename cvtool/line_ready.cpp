// Before a read, and before a job's first write: the line is checked when it
// is due (link/line_check.h), and a line that does not serve, or serves only
// slowly, is named once, in words, with what to do.
#include <cstdio>

#include "cvtool/options.h"
#include "cvtool/line_ready.h"
#include "cvtool/jobs.h"
#include "cvtool/json_report.h"
#include "link/line_check.h"
#include "link/receiver_protocol.h"
#include "link/serial_port.h"

int line_failed = 0;

namespace {

// The verdict last named, so that each is named once however often the
// line is checked again.
int named_verdict = LINE_UNCHECKED;
int slow_named = 0;

const char LATENCY_ADVICE[] =
    "Abhilfe bei einem USB-Adapter: seinen Latenz-Timer auf 1 ms stellen.\n"
    "  Linux:   echo 1 > /sys/bus/usb-serial/devices/ttyUSB0/latency_timer (als root;\n"
    "           ttyUSB0 ist der Adapter, den tarvel --ports zeigt)\n"
    "  Windows: Ger\x84te-Manager, Anschl\x81sse, Eigenschaften des Ports,\n"
    "           Anschlusseinstellungen, Erweitert: Latency Timer (msec) auf 1\n";

// A job's messages about the line go to standard error, so that its output
// stays what a script reads; the menu shows them on its screen.
FILE *line_stream(void) {
  return one_job_requested() ? stderr : stdout;
}

void print_ms(FILE *stream, int64_t us) {
  fprintf(stream, "%d,%d ms", (int)(us / 1000), (int)(us % 1000 / 100));
}

void name_failure(int verdict) {
  FILE *out = line_stream();
  if (verdict == LINE_SILENT) {
    fprintf(out,
            "\nDer Empf\x84nger antwortet nicht (DSR bleibt aus): Kabel, Stecker und\n"
            "Stromversorgung des Empf\x84ngers pr\x81"
            "fen.\n");
  } else if (verdict == LINE_STUCK) {
    fprintf(out,
            "\nDie Leitung meldet immer DSR, auch wo der Empf\x84nger nein sagen muss: das Kabel\n"
            "ist kurzgeschlossen oder mit sich selbst verbunden. Kabel pr\x81"
            "fen.\n");
  } else {
    fprintf(out,
            "\nDer Empf\x84nger best\x84tigt keinen Wert innerhalb von %d ms: Kabel und Adapter\n"
            "pr\x81"
            "fen.\n%s",
            LINE_LONGEST_ANSWER_US / 1000, LATENCY_ADVICE);
  }
  fflush(out);
}

void name_slow_line(void) {
  if (slow_named || !line_slow || tarvel_options.quiet) return;
  FILE *out = line_stream();
  fprintf(out, "\nDie Leitung meldet die Antworten des Empf\x84ngers sp\x84t (bis ");
  print_ms(out, line_measure.max_us);
  fprintf(out, " statt 1 ms): jeder CV dauert l\x84nger.\n%s", LATENCY_ADVICE);
  fflush(out);
  slow_named = 1;
}

}  // namespace

void name_line_verdict(int verdict) {
  if (verdict == LINE_SERVES) {
    name_slow_line();
  } else if (verdict != named_verdict) {
    name_failure(verdict);
  }
  named_verdict = verdict;
}

int line_ready(void) {
  if (!line_check_due()) return 0;
  unsigned failed_before = failed_writes;
  int verdict =
      line_check(line_measure.verdict == LINE_UNCHECKED ? LINE_CHECK_PAIRS : LINE_RECHECK_PAIRS);
  // Questions that never reached the port say nothing about the line: the
  // caller reports the port.
  if (failed_writes != failed_before) return -1;
  json_line_check(&line_measure);
  name_line_verdict(verdict);
  if (verdict == LINE_SERVES) return 0;
  line_failed = 1;
  return -1;
}
