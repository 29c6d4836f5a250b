// `morrex --ports`: which ports there are, without opening any (opening one
// raises DTR, which resets a receiver).
#include <cstring>

#include "services/port_list.h"
#include "updater/updater.h"

int print_ports(void) {
  if (print_serial_ports(stdout) == 0) printf("Keine serielle Schnittstelle gefunden.\n");
  fflush(stdout);
  return EXIT_DONE;
}

void print_ports_hint(const char *cause, const char *advice) {
  fprintf(stderr, "Grund: %s\n", cause);
  if (advice[0] != '\0') fprintf(stderr, "%s\n", advice);
  fprintf(stderr, "Vorhandene Schnittstellen zeigt: morrex --ports\n");
}
