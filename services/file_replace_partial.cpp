// The names the kept lines of a job that could not finish go under (see
// file_replace_names.h), the same on both builds. What runs when the lines are
// kept may run in a signal handler: it only copies bytes.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "services/file_replace.h"
#include "services/file_replace_names.h"
#include "services/shown_text.h"

namespace {

// The longest suffix of each kind: ".teil", ".9.teil", ".99.teil".
const size_t suffix_lengths[3] = {5, 7, 8};

int kind_of(int number) {
  return number < 2 ? 0 : number < 10 ? 1 : 2;
}

// Appends text to out (size bytes in all) as far as it fits.
void append(char *out, size_t size, const char *text) {
  size_t at = strlen(out);
  while (*text != '\0' && at + 1 < size) out[at++] = *text++;
  out[at] = '\0';
}

// The suffix of candidate number: ".teil" or ".N.teil".
void suffix_of(int number, char *out) {
  char *at = out;
  if (number >= 2) {
    *at++ = '.';
    if (number >= 10) *at++ = (char)('0' + number / 10 % 10);
    *at++ = (char)('0' + number % 10);
  }
  strcpy(at, REPLACEMENT_PARTIAL_SUFFIX);
}

// How many bytes of the name (from its last separator on) stay so that
// suffix bytes fit in name_max; never in the middle of a UTF-8 character.
size_t kept_leaf_length(const char *leaf, size_t name_max, size_t suffix) {
  size_t length = strlen(leaf);
  if (length + suffix <= name_max) return length;
  size_t cut = name_max > suffix ? name_max - suffix : 1;
  while (cut > 1 && ((unsigned char)leaf[cut] & 0xC0) == 0x80) cut--;
  return cut;
}

size_t leaf_start(const char *path) {
  const char *slash = strrchr(path, '/');
#ifdef _WIN32
  const char *backslash = strrchr(path, '\\');
  if (backslash != nullptr && (slash == nullptr || backslash > slash)) slash = backslash;
#endif
  return slash == nullptr ? 0 : (size_t)(slash - path) + 1;
}

}  // namespace

int partial_names_prepare(ReplacementNames *names, const char *real_target, size_t name_max,
                          const char *head, const char *tail) {
  size_t leaf = leaf_start(real_target);
  if (strlen(real_target) + 16 >= sizeof names->stem[0]) {
    errno = ENAMETOOLONG;
    return -1;
  }
  for (int kind = 0; kind < 3; kind++) {
    size_t kept = kept_leaf_length(real_target + leaf, name_max, suffix_lengths[kind]);
    snprintf(names->stem[kind], sizeof names->stem[kind], "%.*s", (int)(leaf + kept), real_target);
    snprintf(names->shown_stem[kind], sizeof names->shown_stem[kind], "%s",
             shown_text(names->stem[kind]).c_str());
  }
  snprintf(names->shown_temporary, sizeof names->shown_temporary, "%s",
           shown_text(names->temporary).c_str());
  snprintf(names->message_head, sizeof names->message_head, "%s", head);
  snprintf(names->message_tail, sizeof names->message_tail, "%s", tail);
  names->partial[0] = '\0';
  names->kept_message[0] = '\0';
  return 0;
}

void partial_name(const ReplacementNames *names, int number, char *out, size_t size) {
  char suffix[16];
  suffix_of(number, suffix);
  out[0] = '\0';
  append(out, size, names->stem[kind_of(number)]);
  append(out, size, suffix);
}

// The message that names the kept file: shown, the name as shown, suffix.
void make_message(ReplacementNames *names, const char *shown, const char *suffix) {
  char *message = names->kept_message;
  message[0] = '\0';
  append(message, sizeof names->kept_message, names->message_head);
  append(message, sizeof names->kept_message, shown);
  append(message, sizeof names->kept_message, suffix);
  append(message, sizeof names->kept_message, names->message_tail);
}

int partial_keep(ReplacementNames *names, const char *from,
                 int (*move)(const char *from, const char *to)) {
  for (int number = 1; number <= PARTIAL_NAMES; number++) {
    partial_name(names, number, names->partial, sizeof names->partial);
    if (move(from, names->partial) == 0) {
      char suffix[16];
      suffix_of(number, suffix);
      make_message(names, names->shown_stem[kind_of(number)], suffix);
      return 0;
    }
    // A name that is taken, or that the folder refuses, leaves the next.
    if (errno != EEXIST && errno != EISDIR && errno != ENOTEMPTY && errno != ENAMETOOLONG) break;
  }
  names->partial[0] = '\0';
  // The folder is gone, and the file with it: there is nothing to name.
  if (errno == ENOENT) return -1;
  append(names->partial, sizeof names->partial, from);
  make_message(names, names->shown_temporary, "");
  return 0;
}
