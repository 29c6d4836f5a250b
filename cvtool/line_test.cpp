// --line-test PORT: what a user runs first with new hardware, and sends us
// when something is wrong. Measures the line with a few hundred known answers
// on the woken receiver and says whether it serves, and what a read-out will
// take on it.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "cvtool/cvtool.h"
#include "cvtool/line_ready.h"
#include "cvtool/json_report.h"
#include "link/line_check.h"
#include "link/receiver_protocol.h"
#include "link/serial_port.h"
#include "services/port_list.h"

namespace {

// 150 pairs: 300 known answers, a few seconds on a good line.
const int LINE_TEST_PAIRS = 150;
const int BYTES_A_QUESTION = 4;
const int64_t BYTE_TIME_US = 260;
const int64_t AFTER_SAMPLE_US = 3000;

void print_ms(int64_t us) {
  printf("%d,%d ms", (int)(us / 1000), (int)(us % 1000 / 100));
}

// A CV is eight questions and a verify, and where the line is slow a verify
// of the complement besides.
int64_t cv_time_us(void) {
  int questions = line_slow ? 10 : 9;
  return questions * (BYTES_A_QUESTION * BYTE_TIME_US + answer_wait_us + AFTER_SAMPLE_US);
}

void print_timing(void) {
  printf("  Antwortzeit: Median ");
  print_ms(line_measure.median_us);
  printf(
      ", h\x94"
      "chstens ");
  print_ms(line_measure.max_us);
  printf(" nach dem Befehl (der Empf\x84nger selbst braucht 1 ms)\n");
  printf("  Abfrage nach: ");
  print_ms(answer_wait_us);
  printf("%s\n", line_slow ? ", mit Gegenprobe" : "");
  int64_t read_out_us = cv_time_us() * READ_OUT_CVS;
  printf("  Ein CV dauert etwa ");
  print_ms(cv_time_us());
  printf(", ein Auslesen (%d CVs) etwa %d s.\n", READ_OUT_CVS, (int)(read_out_us / 1000000 + 1));
}

// The name the port listing gives the port: its device on Linux (a by-id
// link resolved), COMn on Windows.
std::string listed_name(const char *port) {
  char device[DEVICE_NAME_SIZE];
  if (form_device_name(port, device, sizeof device) != 0) return "";
#ifdef _WIN32
  const char *prefix = "\\\\.\\";
  if (strncmp(device, prefix, strlen(prefix)) == 0) return device + strlen(prefix);
  return device;
#else
  char *real = realpath(device, nullptr);
  std::string name = real != nullptr ? real : device;
  free(real);
  return name;
#endif
}

// The port's line of `--ports` (the adapter, its serial number, its latency
// timer where the system says), or a word that there is none.
void print_adapter(const char *port) {
  std::string name = listed_name(port) + "  ";
  FILE *listing = tmpfile();
  if (listing != nullptr) {
    print_serial_ports(listing);
    rewind(listing);
    char line[1024];
    while (fgets(line, sizeof line, listing) != nullptr) {
      if (strncmp(line, name.c_str(), name.size()) != 0) continue;
      printf("  Adapter: %s", line + name.size());
      fclose(listing);
      return;
    }
    fclose(listing);
  }
  printf("  Adapter: keine Angaben des Systems\n");
}

}  // namespace

int run_line_test(const char *port) {
  printf("\nLeitungstest: %d bekannte Antworten ...\n", 2 * LINE_TEST_PAIRS);
  fflush(stdout);
  unsigned failed_before = failed_writes;
  int verdict = line_check(LINE_TEST_PAIRS);
  if (failed_writes != failed_before) {
    // Questions that never left say nothing about the line.
    printf("Schreibfehler: %u Bytes nicht gesendet, Schnittstelle ausgefallen (Exit-Code %d).\n",
           failed_writes - failed_before, JOB_PORT_FAILED);
    return JOB_PORT_FAILED;
  }
  json_line_check(&line_measure);
  print_adapter(port);
  printf(
      "  Bekannte Antworten: %d Werte best\x84tigt, jeder nach seinem Gegenteil, das\n"
      "  abgelehnt sein musste\n",
      line_measure.answers);
  if (verdict == LINE_SERVES) print_timing();
  name_line_verdict(verdict);
  if (quit_and_check() != 0) {
    printf("Schnittstelle ausgefallen (Exit-Code %d).\n", JOB_PORT_FAILED);
    return JOB_PORT_FAILED;
  }
  if (verdict != LINE_SERVES) {
    printf("Die Leitung taugt nicht f\x81r tarvel (Exit-Code 1).\n");
    return JOB_CV_FAILED;
  }
  printf("Die Leitung taugt f\x81r tarvel%s (Exit-Code 0).\n", line_slow ? ", aber langsam" : "");
  return JOB_DONE;
}
