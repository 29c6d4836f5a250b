// A file that is written beside its target and takes the target's place only
// when it is complete and on the disk, so that an existing file is never the
// casualty of an interruption, a full disk or a failed job. One at a time.
//
// The new file never lands on a file that appeared meanwhile, unless the user
// agreed to replace one (the question's J, --force); it is kept instead.
//
// What was written in whole lines is not lost either: a job that cannot
// finish (a failure, an exit, a signal that ends the process, Ctrl+C on
// Windows) leaves those lines in a file beside the target's real file (links
// followed, so on the new file's file system), under the first free name of
// "NAME.teil", "NAME.2.teil", ... "NAME.99.teil", when at least one of them
// was worth keeping; NAME is shortened where the suffix would make the name
// too long for the folder. The kept file never replaces anything, and
// nothing half-written stays.
#pragma once

#include <cstddef>

// Suffix of the file that keeps the lines of a job that could not finish.
#define REPLACEMENT_PARTIAL_SUFFIX ".teil"

// Makes the new file in the folder of target (a link is followed to the file
// it names). may_replace: the user agreed that a file at target is replaced;
// without it the commit puts the new file in place only where nothing is.
// Fails, touching nothing, when target names something other than
// a regular file (errno EISDIR or ENOTREGULAR), when its name cannot be a
// file's (ENAMETOOLONG, ENOENT for a missing folder) or when the folder takes
// no new file (EACCES, EROFS, ...). Returns 0, or -1 with errno set.
int replacement_open(const char *target, int may_replace);

// Writes one whole line (printf's format) into the new file at once, held in
// no buffer, so that an interruption finds whole lines only. worth_keeping: the
// line holds something a user would want back (a value read). Returns 0, or -1
// with errno set by the write that failed; the line is then not counted.
int replacement_line(int worth_keeping, const char *format, ...)
    __attribute__((format(printf, 2, 3)));

// The platform's half of replacement_line: writes the formatted line of
// length bytes at once. Returns 0, or -1 with errno set.
int replacement_write_line(const char *line, size_t length, int worth_keeping);

// Syncs and closes the new file and puts it in the target's place. Returns 0,
// or -1 with errno set; the target is then as it was, and the new file waits
// for replacement_abandon. errno EEXIST: something is at the target and
// replacing was not agreed; the whole new file then counts as worth keeping.
// With may_replace, something other than a file there is not replaced either
// (EISDIR, ENOTREGULAR).
int replacement_commit(void);

// Closes the new file without touching the target. Returns the name of the
// file that keeps its whole lines (see above), or a null pointer when nothing
// was worth keeping or no name took them (the new file is then removed).
const char *replacement_abandon(void);

// The name of the new file while one is open (tests), else a null pointer.
const char *replacement_temporary_name(void);
