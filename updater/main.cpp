// morrex: replaces the receiver's firmware with a program file.
#include "platform/safe_start.h"
#include "virtual_receiver/port_plug_in.h"
#include "updater/updater.h"

int main(int argc, char **argv) {
  platform_safe_start();
  virtual_receiver_plug_in();
  return run_updater(argc, argv);
}
