// The data file asked for on the console where the platform has no file
// dialog (POSIX): a path typed through tarvel's own keyboard layer.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "console/console.h"
#include "cvtool/cvtool.h"
#include "platform/code_page_850.h"

namespace {
// Backspace takes a whole UTF-8 character off the end.
void drop_last_character(std::string &typed) {
  while (!typed.empty() && ((unsigned char)typed.back() & 0xC0) == 0x80) typed.pop_back();
  if (!typed.empty()) typed.pop_back();
}

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
      drop_last_character(typed);
      printf("\b \b");
    } else if (key >= 0x20 && key <= 0xFF && key != 0x7F) {
      // The console's letters are code page 850; names on this system are
      // UTF-8, so an umlaut goes into the name (and onto the screen) as UTF-8.
      char utf8[3];
      int length = cp850_to_utf8((unsigned char)key, false, utf8);
      if (typed.size() + (size_t)length <= limit) {
        typed.append(utf8, (size_t)length);
        printf("%.*s", length, utf8);
      }
    }
    fflush(stdout);
  }
  printf("\n");
  return typed.empty() ? -1 : 0;
}

// A path that ends in "/", "." or ".." names a directory even where there is
// none yet; so does one that leads to a directory.
bool names_directory(const std::string &typed, const std::string &full) {
  size_t last = typed.rfind('/');
  std::string final_part = last == std::string::npos ? typed : typed.substr(last + 1);
  if (final_part.empty() || final_part == "." || final_part == "..") return true;
  struct stat status;
  return stat(full.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
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

int prompt_for_data_file(char *path, size_t size) {
  std::string typed;
  for (;;) {
    if (prompt_for_path(typed, size - 1) != 0) return -1;
    std::string full = full_path_of(typed);
    if (names_directory(typed, full)) {
      printf("%s ist ein Verzeichnis.\n", typed.c_str());
      continue;
    }
    if (full.size() < size) {
      memcpy(path, full.c_str(), full.size() + 1);
      return 0;
    }
    printf("Der Pfad ist zu lang.\n");
  }
}
