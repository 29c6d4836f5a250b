// The words for a file's error, the same on both systems.
#pragma once

// strerror, which also knows ENOTREGULAR (platform/safe_start.h).
const char *file_error_text(int error);
// perror's line for a file, "PATH: TEXT\n" on standard error, for an error
// that was saved when the failing call returned; controls in PATH are shown
// (shown_text).
void report_file_error(const char *path, int error);
