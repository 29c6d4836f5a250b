// The ending note on POSIX: two buffers, the one shown named by an atomic
// index, so that a signal that interrupts an update finds the previous text
// whole. The handler only calls write, sigaction and raise.
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <string>

#include "platform/code_page_850.h"
#include "platform/posix/terminal_posix.h"
#include "services/ending_note.h"

namespace {

// The signals from outside whose default ends the process.
const int ending_signals[] = {
    SIGHUP,  SIGINT,  SIGQUIT, SIGTERM,   SIGUSR1, SIGUSR2,
    SIGALRM, SIGXCPU, SIGXFSZ, SIGVTALRM, SIGPROF, SIGIO,
#ifdef SIGPWR
    SIGPWR,
#endif
};
const size_t NOTE_SIZE = 4096;  // 1000 code page 850 bytes take at most 3000 in UTF-8

char notes[2][NOTE_SIZE];
size_t lengths[2];
std::atomic<int> shown{-1};  // the buffer in force, -1 for none
struct sigaction previous[NSIG];
bool installed = false;

// The note once, then what was there before (another module's clean-up, or
// the default action) follows.
void on_signal(int signal_number) {
  int saved_errno = errno;
  int which = shown.exchange(-1);
  if (which >= 0) terminal_write(STDERR_FILENO, notes[which], lengths[which]);
  sigaction(signal_number, &previous[signal_number], nullptr);
  errno = saved_errno;
  raise(signal_number);  // blocked here, delivered when this handler returns
}

void install_handlers(void) {
  installed = true;
  for (int signal_number : ending_signals) {
    if (sigaction(signal_number, nullptr, &previous[signal_number]) != 0) continue;
    // One the program ignores (SIGHUP under nohup) does not end it: no note.
    if (previous[signal_number].sa_handler == SIG_IGN) continue;
    struct sigaction action = {};
    action.sa_handler = on_signal;
    sigfillset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(signal_number, &action, nullptr);
  }
}

}  // namespace

void ending_note_set(const char *text) {
  if (text == nullptr || text[0] == '\0') {
    shown.store(-1);
    return;
  }
  // As the standard streams show text.
  std::string note = passing_utf8_text(text, strlen(text));
  if (note.size() >= NOTE_SIZE) note.resize(NOTE_SIZE - 1);
  int current = shown.load();
  int next = current == 0 ? 1 : 0;
  memcpy(notes[next], note.data(), note.size());
  lengths[next] = note.size();
  shown.store(next);
  if (!installed) install_handlers();
}
