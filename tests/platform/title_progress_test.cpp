// The progress text of the window title: percent done and the time left from
// the pace so far.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "services/title_progress.h"

namespace {

struct TitleCase {
  long done, total;
  long long elapsed_us;
  const char *title;
};

TEST(TitleProgress, PercentAndTimeLeftFromThePaceSoFar) {
  const TitleCase cases[] = {
      {0, 398, 0, "job 0%"},                       // no pace known yet
      {0, 398, 5000000, "job 0%"},                 // still none
      {199, 398, 9000000, "job 50% (noch 0:09)"},  // as long again
      {1, 398, 45000, "job 0% (noch 0:18)"},       // 397 x 45 ms, rounded up
      {100, 400, 60000000, "job 25% (noch 3:00)"},
      {398, 398, 18000000, "job 100% (noch 0:00)"},
      {500, 398, 1000000, "job 100% (noch 0:00)"},  // past the end: held at it
      {-3, 398, 1000000, "job 0%"},
      {5, 0, 1000000, "job 100% (noch 0:00)"},  // no total: done
      {1, 3, 1, "job 33% (noch 0:01)"},         // less than a second: 1
      {1, 1000, 3600000000LL, "job 0% (noch 59940:00)"},
  };
  for (const TitleCase &c : cases) {
    char text[128];
    title_progress_text(text, sizeof text, "job", c.done, c.total, c.elapsed_us);
    EXPECT_EQ(std::string(text), c.title) << c.done << "/" << c.total;
  }
}

TEST(TitleProgress, ALongJobNameIsCutNotOverrun) {
  std::string job(300, 'j');
  char text[40];
  memset(text, '#', sizeof text);
  title_progress_text(text, sizeof text, job.c_str(), 1, 2, 1000000);
  EXPECT_EQ(std::string(text), std::string(39, 'j'));
}

}  // namespace

#ifdef _WIN32
#include <windows.h>

namespace {

std::string console_title(void) {
  char text[256] = "";
  GetConsoleTitleA(text, sizeof text);
  return text;
}

// The console window's own title, shown and put back.
TEST(TitleProgress, TheConsoleTitleShowsTheProgressAndComesBack) {
  bool console = SetConsoleTitleA("before") && console_title() == "before";
  // Wine gives a console only on a terminal: the build runs this test once
  // more on one (ORN_REQUIRE_CONSOLE), where it must not be skipped.
  if (!console && getenv("ORN_REQUIRE_CONSOLE") != nullptr) FAIL() << "no console";
  if (!console) GTEST_SKIP() << "no console";
  title_progress_begin("tarvel: Auslesen");
  title_progress_step(0, 4);
  EXPECT_EQ(console_title(), "tarvel: Auslesen 0%");
  title_progress_step(2, 4);
  EXPECT_EQ(console_title().substr(0, 20), "tarvel: Auslesen 50%");
  title_progress_end();
  EXPECT_EQ(console_title(), "before");
}

}  // namespace
#endif
