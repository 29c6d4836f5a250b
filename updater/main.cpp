// morrex: replaces the receiver's firmware with a program file.
#include "updater/updater.h"

int main(int argc, char **argv) {
  return run_updater(argc, argv);
}
