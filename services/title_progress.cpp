// Progress in the window title: percent done and the time left, estimated from
// the pace so far.
#include "services/title_progress.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#ifdef _WIN32
#include <windows.h>
#else
#include "platform/clock.h"
#endif

namespace {
char job_name[64];
char shown[128];
long long started_us;
bool active;

long long now_us(void) {
#ifdef _WIN32
  return (long long)GetTickCount64() * 1000;
#else
  return clock_now_us();
#endif
}
}  // namespace

void title_progress_text(char *text, size_t size, const char *job, long done, long total,
                         long long elapsed_us) {
  if (total <= 0) total = 1;
  if (done < 0) done = 0;
  if (done > total) done = total;
  int percent = (int)(done * 100 / total);
  if (done == 0) {
    snprintf(text, size, "%s %d%%", job, percent);
    return;
  }
  long long left_s = (elapsed_us * (total - done) / done + 999999) / 1000000;
  snprintf(text, size, "%s %d%% (noch %lld:%02lld)", job, percent, left_s / 60, left_s % 60);
}

void title_progress_begin(const char *job) {
  snprintf(job_name, sizeof job_name, "%s", job);
  shown[0] = '\0';
  started_us = now_us();
  active = true;
}

// The title is a side show: a caller about to report errno must find it as
// its own failed call left it.
void title_progress_step(long done, long total) {
  if (!active) return;
  char text[sizeof shown];
  title_progress_text(text, sizeof text, job_name, done, total, now_us() - started_us);
  if (strcmp(text, shown) == 0) return;
  strcpy(shown, text);
  int saved_errno = errno;
  window_title_set(text);
  errno = saved_errno;
}

void title_progress_end(void) {
  if (!active) return;
  active = false;
  int saved_errno = errno;
  window_title_restore();
  errno = saved_errno;
}
