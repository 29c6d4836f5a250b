// key_echo [pid-file]: clears the screen yellow on blue and prints the code of
// every key it reads, one per line, until q. The end-to-end check drives it
// in tmux; the pid file lets the check end it with a signal.
#include <unistd.h>

#include <cstdio>

#include "console/console.h"
#include "platform/safe_start.h"

int main(int argc, char **argv) {
  platform_streams_begin();
  if (argc > 1) {
    FILE *pid_file = fopen(argv[1], "w");
    if (pid_file == nullptr) return 1;
    fprintf(pid_file, "%d\n", (int)getpid());
    fclose(pid_file);
  }
  console_setup(nullptr);
  clear_screen(ATTR_SCREEN);
  printf("key_echo ready\n");
  for (;;) {
    int key = wait_key();
    printf("key 0x%X\n", (unsigned)key);
    if (key == 'q') return 0;
  }
}
