// morrex: replaces the receiver's firmware with a program file.
#include "platform/safe_start.h"
#include "updater/updater.h"

int main(int argc, char **argv) {
  platform_safe_start();
  return run_updater(argc, argv);
}
