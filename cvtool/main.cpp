// tarvel: reads and writes a receiver's CVs over a serial port.
#include "cvtool/cvtool.h"
#include "platform/safe_start.h"
#include "virtual_receiver/port_plug_in.h"

int main(int argc, char **argv) {
  platform_safe_start();
  virtual_receiver_plug_in();
  return tarvel_main(argc, argv);
}
