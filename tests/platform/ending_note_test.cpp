// The ending note (platform/posix/ending_note_posix.cpp): each signal from
// outside writes the note in force on standard error, once, and then ends the
// process as its default does; a handler that was there before still runs; an
// ignored signal stays ignored. Each case runs in a child of its own.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "services/ending_note.h"
#include "tests/support/pty_pair.h"

namespace {

struct NoteCase {
  const char *what;
  int signal_number;
  std::string (*steps)(void);  // runs in the child; returns what it then writes itself
  const char *note;            // what standard error gets before the end
  bool ends;                   // the signal ends the child (else it exits with 0)
};

// A handler the program had before the note: it says so, then the default.
void earlier_handler(int signal_number) {
  const char said[] = "earlier\n";
  ssize_t ignored = write(STDERR_FILENO, said, sizeof said - 1);
  (void)ignored;
  signal(signal_number, SIG_DFL);
  raise(signal_number);
}

std::string set_once(void) {
  ending_note_set("\nabgebrochen nach 3 CVs, der Empf\x84nger ist teilweise programmiert.\n");
  return "";
}
std::string set_twice(void) {
  ending_note_set("erste\n");
  ending_note_set("zweite\n");
  return "";
}
std::string set_then_cleared(void) {
  ending_note_set("erste\n");
  ending_note_set(nullptr);
  return "";
}
std::string after_an_earlier_handler(void) {
  signal(SIGTERM, earlier_handler);
  ending_note_set("note\n");
  return "";
}
std::string hang_up_ignored(void) {
  signal(SIGHUP, SIG_IGN);
  ending_note_set("note\n");
  return "still here\n";
}

const char UMLAUT_NOTE[] =
    "\nabgebrochen nach 3 CVs, der Empf\xC3\xA4nger ist teilweise programmiert.\n";

const NoteCase cases[] = {
    {"SIGINT (Ctrl+C)", SIGINT, set_once, UMLAUT_NOTE, true},
    {"SIGQUIT (Ctrl+\\)", SIGQUIT, set_once, UMLAUT_NOTE, true},
    {"SIGHUP (a closed terminal)", SIGHUP, set_once, UMLAUT_NOTE, true},
    {"SIGTERM", SIGTERM, set_once, UMLAUT_NOTE, true},
    {"SIGUSR1", SIGUSR1, set_once, UMLAUT_NOTE, true},
    {"the latest text", SIGTERM, set_twice, "zweite\n", true},
    {"no note after it was cleared", SIGINT, set_then_cleared, "", true},
    {"the earlier handler after the note", SIGTERM, after_an_earlier_handler, "note\nearlier\n",
     true},
    {"an ignored SIGHUP", SIGHUP, hang_up_ignored, "still here\n", false},
};

// Runs c in a child whose standard error is a pipe; returns what came through
// it and sets *status.
std::string run_case(const NoteCase &c, int *status) {
  int pipe_fds[2];
  if (pipe(pipe_fds) != 0) return "no pipe";
  pid_t child = fork();
  if (child == 0) {
    dup2(pipe_fds[1], STDERR_FILENO);
    close(pipe_fds[0]);
    std::string afterwards = c.steps();
    raise(c.signal_number);
    ssize_t ignored = write(STDERR_FILENO, afterwards.data(), afterwards.size());
    (void)ignored;
    _exit(0);
  }
  close(pipe_fds[1]);
  std::string got;
  for (std::string piece; !(piece = read_some(pipe_fds[0], 4096, 5000)).empty();) got += piece;
  close(pipe_fds[0]);
  waitpid(child, status, 0);
  return got;
}

TEST(EndingNote, EachSignalWritesTheNoteInForceAndTakesItsCourse) {
  for (const NoteCase &c : cases) {
    int status = 0;
    EXPECT_EQ(run_case(c, &status), c.note) << c.what;
    if (c.ends) {
      EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == c.signal_number)
          << c.what << ": status " << status;
    } else {
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << c.what;
    }
  }
}

}  // namespace
