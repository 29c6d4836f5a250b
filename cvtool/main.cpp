// tarvel: reads and writes a receiver's CVs over a serial port.
#include "cvtool/cvtool.h"

int main(int argc, char **argv) {
  return tarvel_main(argc, argv);
}
