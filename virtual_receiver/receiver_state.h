// The virtual receiver's state and the operations its parts share. Internal to
// virtual_receiver/.
//
// Every operation below expects the receiver's lock to be held, except where it
// says otherwise.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "platform/serial_device.h"
#include "virtual_receiver/virtual_receiver.h"

#define VR_CV_COUNT 256
#define VR_PAGE_LIMIT 256  // a page record names its page in one byte
// The most of the trace kept in memory: several firmware updates' worth.
#define VR_TRACE_LIMIT (4u * 1024 * 1024)

// What the port name asked for.
struct VrOptions {
  std::string dir;  // empty: the state lives in memory only
  bool absent = false;
  bool stuck = false;
  bool instant = false;
  int64_t fail_every = 0;     // 0: every verify answers truly
  int page_size = 64;         // cpu=8; cpu=6 gives 128
  int64_t unplug_after = -1;  // bytes until the adapter is pulled; -1: never
  // A USB adapter's line; each -1 (tick 0) when not asked for.
  int64_t early_us = -1;       // a write completes at hand-over; bytes follow this late
  int64_t status_us = -1;      // each modem status call is a round trip this long
  int64_t tick_us = 0;         // the status is reported at these intervals since the open
  int64_t tick_delay_us = -1;  // and reaches the program this much later
  int64_t jitter_us = -1;      // an answer shows up to this much later still
  int64_t seed = 1;            // of the jitter's generator
};

// Any of early, status, tick or jitter: the line is a USB adapter's, not the
// ideal one.
bool vr_adapter_line(const VrOptions &options);

// A byte handed to the adapter that has not reached the receiver yet.
struct VrPendingByte {
  int64_t at_us;
  uint8_t byte;
};

// DSR as the receiver drives it takes level from at_us on.
struct VrDsrChange {
  int64_t at_us;
  bool level;
};

enum VrBootPhase {
  VR_BOOT_BANG,
  VR_BOOT_HANDSHAKE,
  VR_BOOT_COUNT_UP,
  VR_BOOT_RECORD,
  VR_BOOT_PAGE_BODY
};

// The line as the PC last configured it.
struct VrLine {
  DWORD baud = 9600;  // a port's usual setting before anyone configures it
  BYTE byte_size = 8;
  BYTE parity = NOPARITY;
  BYTE stop_bits = ONESTOPBIT;
  bool dtr = false;
  bool rts = false;
};

struct VirtualReceiver {
  std::mutex lock;
  std::condition_variable reads_wake;
  VrOptions options;
  int64_t opened_us = 0;
  bool open = false;
  // A plain descriptor, not a stdio stream: the program closes every stream it
  // has when it returns to its menu, and the receiver is not the program's.
  int wire_log_fd = -1;
  int dir_lock_fd = -1;

  // The line.
  VrLine line;
  int64_t last_arrival_us = 0;
  int64_t bytes_claimed = 0;  // handed to the line, arrived or not
  int64_t bytes_arrived = 0;
  std::deque<VrPendingByte> in_flight;  // in arrival order
  bool unplugged = false;
  bool reads_cancelled = false;

  // The receiver.
  VrState state = VR_RUNNING;
  int wake_count = 0;  // wake bytes 0xF3, 0xF4, ... received in order so far
  uint8_t command[4] = {0, 0, 0, 0};
  int command_length = 0;
  bool answer_standing = false;  // a query or verify answer, until the next byte
  bool answer = false;
  int64_t opcode_us = 0;
  // The DSR level over time, for samples that ask about the past; before the
  // oldest change the level was dsr_base.
  std::deque<VrDsrChange> dsr_changes;
  bool dsr_base = false;
  uint64_t jitter_state = 0;
  int verify_count = 0;
  VrBootPhase boot_phase = VR_BOOT_BANG;
  int boot_count = 0;
  std::vector<uint8_t> page;
  uint8_t cvs[2][VR_CV_COUNT];
  std::vector<uint8_t> flash;

  std::string trace;
  int error_count = 0;
};

// port_options.cpp: "sim:[DIR][?OPTION[,OPTION]...]". Returns a Win32 code.
DWORD vr_parse_port_name(const char *name, VrOptions *options);

// cv_file.cpp: the text of cvs.txt.
void vr_factory_cvs(uint8_t cvs[2][VR_CV_COUNT]);
std::string vr_format_cvs(const uint8_t cvs[2][VR_CV_COUNT]);
// Returns 0, or -1 when the text is not exactly the 512 CVs, each once.
int vr_parse_cvs(const std::string &text, uint8_t cvs[2][VR_CV_COUNT]);

// state_dir.cpp: the files in DIR. Each returns a Win32 code.
DWORD vr_open_state_dir(VirtualReceiver *vr);
void vr_close_state_dir(VirtualReceiver *vr);
DWORD vr_save_cvs(VirtualReceiver *vr);
DWORD vr_save_flash(VirtualReceiver *vr);
DWORD vr_win32_error_of_errno(int error);

// state_dir_posix.cpp, state_dir_win32.cpp: the file calls that differ between
// the platforms. Each returns a Win32 code. Descriptors are the C runtime's.
// mkdir -p: makes each missing folder on the way.
DWORD vr_make_dir(const std::string &dir);
// One receiver per DIR at a time, across processes too, as with a real port:
// ERROR_ACCESS_DENIED while another holds it. *lock_fd holds it until closed.
DWORD vr_lock_dir(const std::string &dir, int *lock_fd);
// Can we create files in dir? Tried with a file of our own, so that no
// existing file is touched.
DWORD vr_probe_writable(const std::string &dir);
// Opens a file for writing from its start, created or emptied: the wire log
// holds the events of one open of the port, timed from that open.
DWORD vr_open_fresh(const std::string &path, int *fd);
// Appends length bytes in one write; a full disk loses them quietly.
void vr_append(int fd, const char *text, size_t length);
// Renames from to to, replacing to when it exists.
DWORD vr_replace_file(const std::string &from, const std::string &to);
// Closes *fd unless it is -1, and sets it to -1.
void vr_close_file(int *fd);

// wire_trace.cpp: the trace, in memory and in DIR/wire.log.
void vr_record(VirtualReceiver *vr, int64_t at_us, const char *event, const char *value);
void vr_error(VirtualReceiver *vr, int64_t at_us, const char *format, ...)
    __attribute__((format(printf, 3, 4)));
void vr_set_state(VirtualReceiver *vr, int64_t at_us, VrState state);
std::string vr_line_settings_text(const VrLine &line);

// receiver_core.cpp: what the receiver does with a byte and with DTR.
void vr_receive_byte(VirtualReceiver *vr, uint8_t byte, int64_t at_us);
void vr_hold_in_reset(VirtualReceiver *vr, bool held, int64_t at_us);

// service_mode.cpp
void vr_enter_service_mode(VirtualReceiver *vr, int64_t at_us);
// Whatever answer stands goes off the line at at_us (a new byte, a reset).
void vr_take_answer_off(VirtualReceiver *vr, int64_t at_us);
void vr_service_byte(VirtualReceiver *vr, uint8_t byte, int64_t at_us);
// The DSR level the receiver drives at now_us (the line options aside).
bool vr_service_answer(VirtualReceiver *vr, int64_t now_us);
// The level the standing answer drives from *from_us on (false: none stands).
bool vr_service_answer_from(VirtualReceiver *vr, int64_t *from_us);

// adapter_line.cpp: bytes on their way, and DSR as a USB adapter reports it.
// A byte reaches the receiver at at_us: received, counted, and the adapter
// pulled when it was the last one unplug=N lets through.
void vr_byte_arrives(VirtualReceiver *vr, uint8_t byte, int64_t at_us);
// Every byte in flight that has arrived by now_us reaches the receiver.
void vr_deliver_due(VirtualReceiver *vr, int64_t now_us);
// Every byte in flight reaches the receiver, each at its own arrival time.
void vr_deliver_all(VirtualReceiver *vr);
// DSR as the adapter reports it to a modem status call that asked at asked_us
// (the middle of a round trip, or the call's time) on an adapter's line.
bool vr_adapter_dsr(VirtualReceiver *vr, int64_t asked_us);

// dsr_history.cpp: DSR as the receiver drives it, as a function of time.
// From at_us on DSR is level; any change planned after at_us is cancelled.
void vr_drive_dsr(VirtualReceiver *vr, int64_t at_us, bool level);
// The level the receiver drove at at_us (the line options aside).
bool vr_dsr_at(const VirtualReceiver *vr, int64_t at_us);
// Forgets DSR changes that no sample from now_us on can ask about.
void vr_trim_dsr_history(VirtualReceiver *vr, int64_t now_us);
// The next extra delay of an answer, 0 to jitter= microseconds, from the
// receiver's own generator (seed=); 0 without jitter.
int64_t vr_draw_jitter(VirtualReceiver *vr);

// boot_loader.cpp
void vr_enter_boot_loader(VirtualReceiver *vr, int64_t at_us);
void vr_boot_byte(VirtualReceiver *vr, uint8_t byte, int64_t at_us);

// receiver_registry.cpp: receivers live as long as the process, so that tests
// can read a receiver's state after the program closed its port. Takes its
// own lock.
void vr_register(VirtualReceiver *vr);
void vr_attach_device(SerialDevice *device, VirtualReceiver *vr);
void vr_detach_device(SerialDevice *device);
VirtualReceiver *vr_receiver_of_device(SerialDevice *device);
