// Progress and time left of a long job in the window title, so that it shows
// in the task bar or a terminal's tab while the window is hidden. The console
// lines themselves do not change.
#pragma once

#include <cstddef>

// Starts showing the progress of job (a short text such as "tarvel: Auslesen").
void title_progress_begin(const char *job);
// done of total steps are done; the title changes only when its text does.
void title_progress_step(long done, long total);
// Puts the title back as it was before title_progress_begin.
void title_progress_end(void);

// The title for done of total steps after elapsed_us: "job 37% (noch 1:05)";
// the time left is left out until a step has been done.
void title_progress_text(char *text, size_t size, const char *job, long done, long total,
                         long long elapsed_us);

// The platform's part (window_title_*.cpp): keeps the title that was shown
// before the first set, shows text, and puts the kept title back.
void window_title_set(const char *text);
void window_title_restore(void);
