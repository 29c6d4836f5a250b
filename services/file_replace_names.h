// The names a replacement file works with (see file_replace.h), kept where a
// signal or console handler can reach them without allocating. Internal to
// platform/.
//
// The kept lines go beside the target's real file, under the first free name
// of NAME.teil, NAME.2.teil, ... NAME.99.teil; where a suffix would make the
// name longer than the folder takes, NAME is cut (at a character's start) so
// that the suffix fits.
#pragma once

#include <cstddef>

// Room for a path and what is added to it, on either build.
#define REPLACEMENT_NAME_SIZE 4160

// How many names the kept lines may try.
#define PARTIAL_NAMES 99

struct ReplacementNames {
  char target[REPLACEMENT_NAME_SIZE];     // what the new file replaces (links resolved)
  char temporary[REPLACEMENT_NAME_SIZE];  // the new file beside it
  char partial[REPLACEMENT_NAME_SIZE];    // where the whole lines went, once kept
  char kept_message[4 * REPLACEMENT_NAME_SIZE];
  // The kept file's name without its suffix, for ".teil", ".N.teil" and
  // ".NN.teil", and each as a message shows it.
  char stem[3][REPLACEMENT_NAME_SIZE];
  char shown_stem[3][3 * REPLACEMENT_NAME_SIZE];
  char shown_temporary[3 * REPLACEMENT_NAME_SIZE];  // the new file as a message shows it
  char message_head[64];                            // what the message says before the name
  char message_tail[3 * REPLACEMENT_NAME_SIZE];     // and after it
};

// Prepares the kept file's names beside real_target, in a folder that takes
// names of up to name_max bytes; the message that names the kept file is
// head, the name, then tail. Call when names->temporary is set. Returns 0, or
// -1 with errno ENAMETOOLONG.
int partial_names_prepare(ReplacementNames *names, const char *real_target, size_t name_max,
                          const char *head, const char *tail);

// Puts the file from (names->temporary) under the first free kept name with
// move (0, or -1 with errno; EEXIST: that name is taken) and fills
// names->partial and kept_message. When no name takes it, it stays where it
// is, under its own name, which partial and the message then give. Returns 0,
// or -1 when the file is gone (ENOENT: its folder was removed).
// Async-signal-safe when move is.
int partial_keep(ReplacementNames *names, const char *from,
                 int (*move)(const char *from, const char *to));

// Candidate number (1 to PARTIAL_NAMES) of the kept file's name, into out.
// Async-signal-safe.
void partial_name(const ReplacementNames *names, int number, char *out, size_t size);

#ifndef _WIN32
// Puts from at to unless something is there (errno EEXIST): renameat2 with
// RENAME_NOREPLACE, or where the file system lacks it, a link and an unlink.
// Async-signal-safe.
int move_without_replacing(const char *from, const char *to);
// The second way alone (tests): link, then unlink.
int move_by_link(const char *from, const char *to);
#endif
