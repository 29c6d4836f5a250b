// Real serial devices and pseudo-terminals behind the POSIX stand-in: termios
// for the line, the modem-control ioctls for DTR, RTS and DSR, poll for reads
// that wait, the wire trace that ORN_TRACE asks for, and low latency from
// the driver while the port is open.
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "platform/clock.h"
#include "platform/platform.h"
#include "platform/posix/tty_device_posix.h"
#include "platform/safe_start.h"
#include "platform/wire_trace_text.h"

namespace {

struct TtyDevice : SerialDevice {
  int fd = -1;
  // A byte in this pipe wakes every read for good (cancel_reads, on close).
  int cancel_pipe[2] = {-1, -1};
  std::atomic<bool> modem_lines{true};  // false on a pseudo-terminal
  std::mutex lock;                      // guards the trace state below
  int trace_fd = -1;                    // -1: no trace
  int latency_change = -1;              // tty_low_latency_begin's, -1: none
  int64_t opened_us = 0;
  int traced_dtr = -1;
  int traced_rts = -1;
  char traced_line[32] = "";

  ~TtyDevice() override;
  DWORD apply(const DCB &dcb) override;
  DWORD write(const BYTE *data, DWORD length, DWORD *written) override;
  DWORD read(BYTE *buffer, DWORD length, DWORD interval_ms, DWORD *got) override;
  void cancel_reads() override;
  DWORD modem_status(DWORD *status) override;
  DWORD clear_error(DWORD *errors) override;
};

DWORD last_os_error() {
  return win32_error_from_errno(errno);
}

// ---------------------------------------------------------------- wire trace

// One line per event, each with a single write: nothing is held back that a
// killed program would lose, and the protocol's pauses pay one call per event.
void trace_lines(TtyDevice &tty, const char *event, const char *const *values, int count) {
  if (tty.trace_fd < 0) return;
  long long at_us = (long long)(clock_now_us() - tty.opened_us);
  char text[WIRE_TRACE_BATCH * 32];
  int used = wire_trace_lines(text, sizeof text, at_us, event, values, count);
  ssize_t ignored = ::write(tty.trace_fd, text, (size_t)used);
  (void)ignored;
}

void trace_batch(void *tty, const char *const *values, int count) {
  trace_lines(*static_cast<TtyDevice *>(tty), "TX", values, count);
}

void trace(TtyDevice &tty, const char *event, const char *value) {
  trace_lines(tty, event, &value, 1);
}

void trace_open(TtyDevice &tty) {
  const char *file = getenv("ORN_TRACE");
  tty.opened_us = clock_now_us();
  if (file == nullptr || file[0] == '\0') return;
  // A FIFO or a device there must not hold up the port's open; it is not
  // traced to, like a file that cannot be opened.
  tty.trace_fd = open_regular_descriptor(file, O_WRONLY | O_APPEND | O_CREAT, 0644);
}

void trace_bytes(TtyDevice &tty, const BYTE *data, DWORD length) {
  if (tty.trace_fd >= 0) wire_trace_bytes(data, length, trace_batch, &tty);
}

void trace_settings(TtyDevice &tty, const DCB &dcb, bool dtr, bool rts) {
  if (tty.trace_fd < 0) return;
  std::lock_guard<std::mutex> hold(tty.lock);
  char line[32];
  wire_trace_line_settings(dcb.BaudRate, dcb.ByteSize, dcb.Parity, dcb.StopBits, line, sizeof line);
  if (strcmp(line, tty.traced_line) != 0) {
    trace(tty, "LINE", line);
    snprintf(tty.traced_line, sizeof tty.traced_line, "%s", line);
  }
  if ((int)dtr != tty.traced_dtr) trace(tty, "DTR", dtr ? "1" : "0");
  if ((int)rts != tty.traced_rts) trace(tty, "RTS", rts ? "1" : "0");
  tty.traced_dtr = dtr;
  tty.traced_rts = rts;
}

// ---------------------------------------------------------------- line settings

struct BaudSpeed {
  DWORD baud;
  speed_t speed;
};

const BaudSpeed baud_speeds[] = {
    {110, B110},       {300, B300},       {600, B600},       {1200, B1200},
    {2400, B2400},     {4800, B4800},     {9600, B9600},     {19200, B19200},
    {38400, B38400},   {57600, B57600},   {115200, B115200}, {230400, B230400},
#ifdef B460800
    {460800, B460800}, {921600, B921600},
#endif
};

bool speed_of(DWORD baud, speed_t *speed) {
  for (const BaudSpeed &entry : baud_speeds) {
    if (entry.baud == baud) {
      *speed = entry.speed;
      return true;
    }
  }
  return false;
}

// The line carries binary commands, not text: nothing may be translated,
// swallowed, echoed or turned into a signal.
void set_raw(termios &t) {
  // A break or a parity error must not become 0xFF 0x00 escapes or SIGINT.
  t.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | IXANY);
  // 0x0D and 0x0A are data bytes, not line ends.
  t.c_iflag &= ~(INLCR | IGNCR | ICRNL);
  // Bytes leave exactly as written (no LF -> CR LF).
  t.c_oflag &= ~OPOST;
  // No echo back to the receiver, no line buffering, 0x03 is not Ctrl-C.
  t.c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
  // Receive at all; ignore the carrier line, which the receiver does not drive.
  t.c_cflag |= CREAD | CLOCAL;
  // Drop DTR and RTS on close, as Windows does when a port is closed.
  t.c_cflag |= HUPCL;
  // The driver never waits inside read(); the stand-in waits in poll, where a
  // cancel and the interval time-out can reach it.
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;
}

void set_frame(termios &t, const DCB &dcb) {
  static const tcflag_t sizes[] = {CS5, CS6, CS7, CS8};
  t.c_cflag &= ~(CSIZE | PARENB | PARODD | CSTOPB);
#ifdef CMSPAR
  t.c_cflag &= ~CMSPAR;  // whatever the driver had before: no sticky parity bit
#endif
  t.c_cflag |= sizes[dcb.ByteSize - 5];
  if (dcb.Parity != NOPARITY) t.c_cflag |= PARENB;
  if (dcb.Parity == ODDPARITY) t.c_cflag |= PARODD;
  // Two stop bits; with five data bits the hardware makes that 1.5.
  if (dcb.StopBits != ONESTOPBIT) t.c_cflag |= CSTOPB;
  // Check the parity of what arrives only when the settings ask for it.
  t.c_iflag &= ~INPCK;
  if (dcb.fParity) t.c_iflag |= INPCK;
}

void set_flow(termios &t, const DCB &dcb) {
  // CTS gates sending only when asked; the receiver's lines carry commands.
  // (DSR flow has no termios counterpart and stays off.)
  t.c_cflag &= ~CRTSCTS;
  if (dcb.fOutxCtsFlow) t.c_cflag |= CRTSCTS;
  // No XON/XOFF, whatever the settings say: 0x11 and 0x13 are data on this
  // line, and neither program asks for software flow control.
  t.c_iflag &= ~(IXON | IXOFF);
}

bool dcb_valid(const DCB &dcb, speed_t *speed) {
  return speed_of(dcb.BaudRate, speed) && dcb.ByteSize >= 5 && dcb.ByteSize <= 8 &&
         dcb.Parity <= EVENPARITY && dcb.StopBits <= TWOSTOPBITS;
}

// Whether the device took the frame and speed that were asked for.
bool frame_taken(const termios &asked, const termios &now) {
  tcflag_t frame = CSIZE | PARENB | PARODD | CSTOPB;
  return (asked.c_cflag & frame) == (now.c_cflag & frame) &&
         cfgetospeed(&asked) == cfgetospeed(&now);
}

// Applies t. A pseudo-terminal always keeps 8 bits without parity (the Linux
// driver forces it, and the C library then reports EINVAL); framing means
// nothing there, so only a device with modem lines must take it.
DWORD set_termios(TtyDevice &tty, const termios &t) {
  int result = tcsetattr(tty.fd, TCSADRAIN, &t);
  int error = errno;
  termios now;
  if (tcgetattr(tty.fd, &now) != 0) return last_os_error();
  if (frame_taken(t, now)) {
    return result == 0 ? ERROR_SUCCESS : win32_error_from_errno(error);
  }
  return tty.modem_lines ? ERROR_INVALID_PARAMETER : ERROR_SUCCESS;
}

// Asserts or clears one modem line. A device without modem lines (a
// pseudo-terminal answers ENOTTY or EINVAL) takes the change without effect.
DWORD set_modem_line(TtyDevice &tty, int line, bool on) {
  if (!tty.modem_lines) return ERROR_SUCCESS;
  if (ioctl(tty.fd, on ? TIOCMBIS : TIOCMBIC, &line) == 0) return ERROR_SUCCESS;
  if (errno == ENOTTY || errno == EINVAL) {
    tty.modem_lines = false;
    return ERROR_SUCCESS;
  }
  return last_os_error();
}

// ---------------------------------------------------------------- reading

// Waits until the device has something to say (data, a hang-up, an error) or
// timeout_ms pass (-1: no limit). *ready tells which. A signal (a window
// resized, the program continued) does not cut the wait short.
DWORD wait_readable(TtyDevice &tty, int timeout_ms, bool *ready) {
  pollfd fds[2] = {{tty.fd, POLLIN, 0}, {tty.cancel_pipe[0], POLLIN, 0}};
  *ready = false;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  int count;
  int wait_ms = timeout_ms;
  while ((count = poll(fds, 2, wait_ms)) < 0 && errno == EINTR) {
    if (timeout_ms < 0) continue;
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    wait_ms = left.count() > 0 ? (int)left.count() : 0;
  }
  if (count < 0) return last_os_error();
  if (fds[1].revents != 0) return ERROR_OPERATION_ABORTED;
  if (fds[0].revents & POLLNVAL) return ERROR_INVALID_HANDLE;
  *ready = fds[0].revents != 0;
  return ERROR_SUCCESS;
}

// Reads what has arrived, after wait_readable said the device is ready.
DWORD read_ready(TtyDevice &tty, BYTE *buffer, DWORD length, DWORD *got) {
  *got = 0;
  ssize_t count = ::read(tty.fd, buffer, length);
  if (count > 0) {
    *got = (DWORD)count;
    return ERROR_SUCCESS;
  }
  // With VMIN 0 a ready device that gives nothing has hung up (a pulled USB
  // adapter); a pseudo-terminal whose other side closed says EIO.
  if (count == 0) return ERROR_DEVICE_NOT_CONNECTED;
  if (errno == EAGAIN || errno == EINTR) return ERROR_SUCCESS;
  return last_os_error();
}

DWORD read_first(TtyDevice &tty, BYTE *buffer, DWORD length, DWORD *got) {
  for (;;) {
    bool ready;
    DWORD error = wait_readable(tty, -1, &ready);
    if (error == ERROR_SUCCESS && ready) error = read_ready(tty, buffer, length, got);
    if (error != ERROR_SUCCESS || *got > 0) return error;
  }
}

// ---------------------------------------------------------------- the device

TtyDevice::~TtyDevice() {
  // The exclusive flag lives with the tty, which may outlive this open (the
  // slave of a pseudo-terminal does while its master is open).
  ioctl(fd, TIOCNXCL);
  tty_low_latency_end(latency_change);
  close(fd);
  close(cancel_pipe[0]);
  close(cancel_pipe[1]);
  if (trace_fd >= 0) close(trace_fd);
}

DWORD TtyDevice::apply(const DCB &dcb) {
  termios t;
  if (tcgetattr(fd, &t) != 0) return last_os_error();
  if (serial_termios_from_dcb(dcb, &t) != ERROR_SUCCESS) return ERROR_INVALID_PARAMETER;
  DWORD error = set_termios(*this, t);
  if (error != ERROR_SUCCESS) return error;
  // Set the lines after the settings: some drivers reset them on a change.
  bool dtr = dcb.fDtrControl != DTR_CONTROL_DISABLE;
  bool rts = wire_trace_rts_on(dcb.fRtsControl);
  error = set_modem_line(*this, TIOCM_DTR, dtr);
  if (error == ERROR_SUCCESS) error = set_modem_line(*this, TIOCM_RTS, rts);
  if (error == ERROR_SUCCESS) trace_settings(*this, dcb, dtr, rts);
  return error;
}

DWORD TtyDevice::write(const BYTE *data, DWORD length, DWORD *written) {
  *written = 0;
  while (*written < length) {
    ssize_t count = ::write(fd, data + *written, length - *written);
    if (count > 0) {
      *written += (DWORD)count;
    } else if (count < 0 && errno == EAGAIN) {
      // The output queue is full: wait for room, without a time-out as Windows.
      pollfd out = {fd, POLLOUT, 0};
      if (poll(&out, 1, -1) > 0 && (out.revents & (POLLHUP | POLLERR | POLLNVAL))) {
        return ERROR_DEVICE_NOT_CONNECTED;
      }
    } else if (count < 0 && errno != EINTR) {
      return last_os_error();
    }
  }
  // A write is complete when its bytes have left the port: the protocol's
  // pauses count from there.
  while (tcdrain(fd) != 0) {
    if (errno != EINTR) return last_os_error();
  }
  trace_bytes(*this, data, length);
  return ERROR_SUCCESS;
}

DWORD TtyDevice::read(BYTE *buffer, DWORD length, DWORD interval_ms, DWORD *got) {
  *got = 0;
  if (length == 0) return ERROR_SUCCESS;
  DWORD error = read_first(*this, buffer, length, got);
  if (error != ERROR_SUCCESS) return error;
  // Then more until the line has been quiet for the interval (none: until the
  // length is reached). A failure now ends the read with what has arrived;
  // the next read reports it.
  int timeout_ms = interval_ms == 0 ? -1 : (int)(interval_ms > INT_MAX ? INT_MAX : interval_ms);
  while (*got < length) {
    bool ready;
    DWORD more = 0;
    if (wait_readable(*this, timeout_ms, &ready) != ERROR_SUCCESS || !ready) break;
    if (read_ready(*this, buffer + *got, length - *got, &more) != ERROR_SUCCESS) break;
    *got += more;
  }
  return ERROR_SUCCESS;
}

void TtyDevice::cancel_reads() {
  static const char wake = 1;
  ssize_t ignored = ::write(cancel_pipe[1], &wake, 1);
  (void)ignored;
}

DWORD TtyDevice::modem_status(DWORD *status) {
  *status = 0;
  int lines = 0;
  if (modem_lines && ioctl(fd, TIOCMGET, &lines) != 0) {
    if (errno != ENOTTY && errno != EINVAL) return last_os_error();
    modem_lines = false;
  }
  if (lines & TIOCM_CTS) *status |= MS_CTS_ON;
  if (lines & TIOCM_DSR) *status |= MS_DSR_ON;
  if (lines & TIOCM_RI) *status |= MS_RING_ON;
  if (lines & TIOCM_CD) *status |= MS_RLSD_ON;
  trace(*this, "DSR", (*status & MS_DSR_ON) ? "1" : "0");
  return ERROR_SUCCESS;
}

DWORD TtyDevice::clear_error(DWORD *errors) {
  // termios keeps no error state to clear: a parity error arrives as data.
  *errors = 0;
  return ERROR_SUCCESS;
}

// ---------------------------------------------------------------- low latency

// An FTDI adapter reports the receiver's answer (DSR) when its latency timer
// runs out, 16 ms by default; with ASYNC_LOW_LATENCY the driver sets 1 ms. The
// flag outlives the open (until the adapter is plugged in again), so what was
// changed is put back on every way out. The handlers only make the ioctl with
// the saved values, and sigaction.

struct LatencyChange {
  std::atomic<bool> taken{false};
  std::atomic<int> fd{-1};  // set once call and before are filled in
  serial_info_call call = nullptr;
  serial_struct before;
};

LatencyChange latency_changes[4];
struct sigaction latency_previous[NSIG];
std::once_flag latency_restore_installed;

// The signals whose default ends the process, as the terminal's restore.
const int latency_ending_signals[] = {
    SIGHUP,    SIGINT,  SIGQUIT, SIGILL,  SIGTRAP, SIGABRT, SIGBUS,    SIGFPE,  SIGUSR1, SIGSEGV,
    SIGUSR2,   SIGPIPE, SIGALRM, SIGTERM, SIGXCPU, SIGXFSZ, SIGVTALRM, SIGPROF, SIGIO,   SIGSYS,
#ifdef SIGSTKFLT
    SIGSTKFLT,
#endif
#ifdef SIGPWR
    SIGPWR,
#endif
};

int serial_info_ioctl(int fd, unsigned long request, serial_struct *info) {
  return ioctl(fd, request, info);
}

void put_back(LatencyChange &change) {
  int fd = change.fd.load();
  if (fd >= 0) change.call(fd, TIOCSSERIAL, &change.before);
}

// Async-signal-safe.
void put_back_all(void) {
  for (LatencyChange &change : latency_changes) put_back(change);
}

// Puts the flags back, then hands the signal on to what was there before (the
// terminal's restore, or the default action).
void on_latency_signal(int signal_number) {
  int saved_errno = errno;
  put_back_all();
  sigaction(signal_number, &latency_previous[signal_number], nullptr);
  errno = saved_errno;
  raise(signal_number);  // blocked here, delivered when this handler returns
}

void install_latency_handler(int signal_number) {
  if (sigaction(signal_number, nullptr, &latency_previous[signal_number]) != 0) return;
  if (latency_previous[signal_number].sa_handler == SIG_IGN) return;  // stays ignored
  struct sigaction action = {};
  action.sa_handler = on_latency_signal;
  sigfillset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(signal_number, &action, nullptr);
}

// Once, at the first change: both programs set up their console (and with it
// the terminal's handlers, which these hand on to) before they open a port.
void install_latency_restore(void) {
  atexit(put_back_all);
  for (int signal_number : latency_ending_signals) install_latency_handler(signal_number);
  for (int signal_number = SIGRTMIN; signal_number <= SIGRTMAX; signal_number++) {
    install_latency_handler(signal_number);
  }
}

int take_latency_change(void) {
  for (int i = 0; i < (int)(sizeof latency_changes / sizeof latency_changes[0]); i++) {
    if (!latency_changes[i].taken.exchange(true)) return i;
  }
  return -1;
}

// ---------------------------------------------------------------- opening

// Takes the port for this process alone: flock keeps out other programs that
// honour it, TIOCEXCL every later open() of the tty (neither alone is enough).
DWORD take_exclusively(int fd) {
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) return ERROR_ACCESS_DENIED;
  if (ioctl(fd, TIOCEXCL) != 0) return last_os_error();
  return ERROR_SUCCESS;
}

// Opens and takes the device, or sets the last error and returns -1.
int open_tty(const char *path) {
  int fd = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    // A serial port node without hardware behind it answers EIO: a missing
    // port, which the system calls no such device.
    set_last_error_from_errno(errno == EIO ? ENODEV : errno);
    return -1;
  }
  DWORD error = isatty(fd) ? take_exclusively(fd) : ERROR_NOT_SUPPORTED;
  if (error != ERROR_SUCCESS) {
    close(fd);
    SetLastError(error);
    return -1;
  }
  return fd;
}

}  // namespace

DWORD serial_termios_from_dcb(const DCB &dcb, termios *t) {
  speed_t speed;
  if (!dcb_valid(dcb, &speed)) return ERROR_INVALID_PARAMETER;
  set_raw(*t);
  set_frame(*t, dcb);
  set_flow(*t, dcb);
  cfsetispeed(t, speed);
  cfsetospeed(t, speed);
  return ERROR_SUCCESS;
}

int tty_low_latency_begin(int fd, serial_info_call call) {
  serial_struct info;
  memset(&info, 0, sizeof info);
  if (call(fd, TIOCGSERIAL, &info) != 0 || (info.flags & ASYNC_LOW_LATENCY) != 0) return -1;
  int index = take_latency_change();
  if (index < 0) return -1;
  LatencyChange &change = latency_changes[index];
  change.call = call;
  change.before = info;
  std::call_once(latency_restore_installed, install_latency_restore);
  // Known before the change: a signal in between puts back what is there anyway.
  change.fd.store(fd);
  info.flags |= ASYNC_LOW_LATENCY;
  if (call(fd, TIOCSSERIAL, &info) == 0) return index;
  change.fd.store(-1);
  change.taken.store(false);
  return -1;
}

void tty_low_latency_end(int index) {
  if (index < 0) return;
  LatencyChange &change = latency_changes[index];
  put_back(change);
  change.fd.store(-1);
  change.taken.store(false);
}

SerialDevice *tty_device_open(const char *path) {
  int fd = open_tty(path);
  if (fd < 0) return nullptr;
  TtyDevice *tty = new TtyDevice;
  tty->fd = fd;
  if (pipe2(tty->cancel_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
    set_last_error_from_errno(errno);
    delete tty;
    return nullptr;
  }
  int lines;
  tty->modem_lines = ioctl(fd, TIOCMGET, &lines) == 0;
  tty->latency_change = tty_low_latency_begin(fd, serial_info_ioctl);
  trace_open(*tty);
  // Start from what a freshly opened port reports, so that the device and
  // GetCommConfig agree from the first call.
  DWORD error = tty->apply(serial_default_dcb());
  if (error != ERROR_SUCCESS) {
    SetLastError(error);
    delete tty;
    return nullptr;
  }
  return tty;
}
