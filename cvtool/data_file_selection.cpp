// Data file selection: make sure there is a data file name before a batch
// command runs, asking the user through the framework's file dialog, or on
// the console where there is none.
#include <cstdio>
#include <cstring>

#include "cvtool/cvtool.h"
#include "platform/platform.h"

// Room for any path the platform hands out; only paths that fit the data file
// name are taken.
#define SELECTED_PATH_SIZE 4096

namespace {
// Copies path into the data file name, with ".txt" appended when the path has
// no dot anywhere. Returns -1, leaving the name as it was, when it would not fit.
int take_selected_path(const char *path) {
  size_t length = strlen(path);
  const char *extension = strchr(path, '.') == nullptr ? ".txt" : "";
  if (length + strlen(extension) >= DATA_FILE_NAME_SIZE) return -1;
  memcpy(data_file_name, path, length);
  strcpy(data_file_name + length, extension);
  return 0;
}

// 0 with the chosen path, -1 when the user chose none.
int choose_path(char *path, size_t size) {
  int answer = framework_select_file(path, size);
  if (answer == FRAMEWORK_NO_DIALOG) answer = prompt_for_data_file(path, size);
  return answer;
}
}  // namespace

int select_data_file(void) {
  static char path[SELECTED_PATH_SIZE];
  if (data_file_name[0] != '\0') return KEEP_RUNNING;
  for (;;) {
    // Cancelling ends the program at once; the receiver is left as it is.
    if (choose_path(path, sizeof path) != 0) return EXIT_NO_FILE_CHOSEN;
    if (take_selected_path(path) == 0) return KEEP_RUNNING;
    printf(
        "\nDer Pfad ist zu lang (h\x94"
        "chstens %d Zeichen).\n",
        DATA_FILE_NAME_SIZE - 1);
  }
}
