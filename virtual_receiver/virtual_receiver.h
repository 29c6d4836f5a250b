// The virtual receiver: a simulated receiver behind the port name
//   sim:[DIR][?OPTION[,OPTION]...]
// that models what a PC can observe of the real one (bytes at the configured
// baud rate, DTR/RTS, the DSR answer, service mode with its CV memory, the boot
// loader with its flash memory) and records every line event with its time.
//
// Options: absent, stuck, fail=N, cpu=6|8, instant, unplug=N, and the line of
// a USB serial adapter (times US in microseconds, N and US of nine digits at
// most):
//   early=US   a write completes as soon as the adapter has the bytes; each
//              byte arrives at max(its write's start + US, the previous
//              byte's arrival) + 10 bit times. Bytes in flight reach the
//              receiver at their arrival time, after any line change made
//              before it; on close, all of them.
//   status=US  each modem status call takes US and reports DSR as it was
//              halfway through (US/2 after the call began).
//   tick=US    (US >= 1) DSR is reported only at each multiple of US since
//              the open, and tickdelay=US (default 0, only with tick) later:
//              a call gets the level at the latest tick t with
//              t + tickdelay <= the time it asks.
//   jitter=US  each answer shows 0 to US later than 1 ms after its opcode,
//              drawn by a generator seeded with seed=N (default 1).
// absent and stuck hold DSR off or on on every line. On the ideal line (none
// of early, status, tick, jitter) a sample taken less than 1 ms after an
// opcode is an ERR and reads DSR off; on an adapter's line it reads whatever
// the line showed then, without an ERR.
// With DIR the state lives in DIR/cvs.txt, DIR/flash.bin and DIR/wire.log.
//
// Opening fails with ERROR_INVALID_PARAMETER for an unknown option, with
// ERROR_INVALID_DATA (13) for a cvs.txt that is not the 512 CV lines, with
// ERROR_ACCESS_DENIED while another receiver has DIR open, and with the code
// of the failing file call for a DIR that cannot be made or written; nothing
// in DIR is written then. After unplug=N bytes, writes and reads fail with
// ERROR_DEVICE_NOT_CONNECTED and the other calls with ERROR_GEN_FAILURE.
//
// The line starts as a port does before anyone configures it: 9600 8N1, DTR
// and RTS off, the receiver running. Bytes at settings other than 38400 8N1
// are traced and flagged with ERR, and the receiver ignores them.
//
// Tests reach a receiver that a program opened through its port handle.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"

struct VirtualReceiver;
struct SerialDevice;

enum VrState { VR_RUNNING, VR_RESET, VR_SERVICE, VR_BOOTLOADER };

// Opens the receiver behind a "sim:" name as a serial device
// (platform/serial_device.h): what port_plug_in.cpp registers, and what a test
// of the receiver alone calls. Returns null and sets *error to a Win32 code on
// failure.
SerialDevice *virtual_receiver_open_device(const char *name, DWORD *error);
// The receiver behind a handle that CreateFileA opened with a "sim:" name, or
// null when the handle is something else.
VirtualReceiver *virtual_receiver_of(HANDLE port);
// The receiver most recently opened in this process (null before the first).
VirtualReceiver *virtual_receiver_last(void);

// CV memory: bank 0 normal, 1 alternative; cv 1..256.
int vr_cv(VirtualReceiver *vr, int bank, int cv);
void vr_set_cv(VirtualReceiver *vr, int bank, int cv, int value);
// Flash memory (erased bytes 0xFF); its size covers every page written so far.
std::vector<uint8_t> vr_flash(VirtualReceiver *vr);
VrState vr_state(VirtualReceiver *vr);
// The wire log lines so far ("<us> <EVENT> <value>"), each ending in '\n'; of
// a long session only the latest 2 to 4 MiB of them.
std::string vr_trace(VirtualReceiver *vr);
// The number of ERR lines so far.
int vr_error_count(VirtualReceiver *vr);
// The state readers above see every byte that has arrived by now. This lets
// every byte still in flight on an early= line arrive, each at its own time,
// without moving the clock: for a test that reads the receiver at once after
// a write.
void vr_settle(VirtualReceiver *vr);

// For a far end that serves the receiver over a real line and must answer a
// DSR sample before it hears of it (tests/line_harness): the level DSR takes
// from *from_us on, after what the receiver has received so far (off before).
bool vr_dsr_outlook(VirtualReceiver *vr, int64_t *from_us);
