// The framework's file selection on POSIX: instead of the graphical "open"
// dialog, a prompt for a path on the console, typed through tarvel's own
// keyboard layer.
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "console/console.h"
#include "platform/framework.h"

namespace {
// Reads a path typed at the console, with echo and Backspace, until Enter.
// Returns -1 for ESC (also the end of scripted input) or an empty answer.
int prompt_for_path(std::string &typed, size_t limit) {
  typed.clear();
  printf("Datendatei (*.txt): ");
  fflush(stdout);
  for (;;) {
    int key = wait_key();
    if (key == KEY_ENTER) break;
    if (key == KEY_ESC) {
      typed.clear();
      break;
    }
    if ((key == KEY_BACKSPACE || key == 0x7F) && !typed.empty()) {
      typed.pop_back();
      printf("\b \b");
    } else if (key >= 0x20 && key < 0x7F && typed.size() < limit) {
      // Only plain ASCII: the console's letters are code page 850, file names
      // here are UTF-8, and a half-converted name would be worse than none.
      typed.push_back((char)key);
      printf("%c", key);
    }
    fflush(stdout);
  }
  printf("\n");
  return typed.empty() ? -1 : 0;
}

// The current directory joined with a relative path, with "." and ".."
// resolved by name (the file need not exist yet).
std::string full_path_of(const std::string &typed) {
  std::string joined = typed;
  if (typed[0] != '/') {
    std::vector<char> directory(4096);
    if (getcwd(directory.data(), directory.size()) != nullptr) {
      joined = std::string(directory.data()) + "/" + typed;
    }
  }
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= joined.size()) {
    size_t end = joined.find('/', start);
    if (end == std::string::npos) end = joined.size();
    std::string part = joined.substr(start, end - start);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    start = end + 1;
  }
  std::string full;
  for (const std::string &part : parts) full += "/" + part;
  return full.empty() ? "/" : full;
}
}  // namespace

int framework_select_file(char *path, size_t size) {
  std::string typed;
  for (;;) {
    if (prompt_for_path(typed, size - 1) != 0) return -1;
    std::string full = full_path_of(typed);
    if (full.size() < size) {
      memcpy(path, full.c_str(), full.size() + 1);
      return 0;
    }
    printf("Der Pfad ist zu lang.\n");
  }
}
