// tarvel: reads and writes a receiver's CVs over a serial port.
#include "cvtool/cvtool.h"
#include "platform/safe_start.h"

int main(int argc, char **argv) {
  platform_safe_start();
  return tarvel_main(argc, argv);
}
