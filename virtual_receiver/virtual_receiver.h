// The virtual receiver: a simulated receiver behind the port name
//   sim:[DIR][?OPTION[,OPTION]...]
// that models what a PC can observe of the real one (bytes at the configured
// baud rate, DTR/RTS, the DSR answer, service mode with its CV memory, the boot
// loader with its flash memory) and records every line event with its time.
//
// Options: absent, stuck, fail=N, cpu=6|8, instant, unplug=N.
// With DIR the state lives in DIR/cvs.txt, DIR/flash.bin and DIR/wire.log.
//
// Tests reach a receiver that a program opened through its port handle.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"

struct VirtualReceiver;

enum VrState { VR_RUNNING, VR_RESET, VR_SERVICE, VR_BOOTLOADER };

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
// The wire log lines so far ("<us> <EVENT> <value>"), each ending in '\n'.
std::string vr_trace(VirtualReceiver *vr);
// The number of ERR lines so far.
int vr_error_count(VirtualReceiver *vr);
