// tarvel's serial port: one port, opened once, single-byte overlapped writes,
// and a background reader that drains whatever arrives into a ring.
#pragma once

#include <cstddef>
#include <cstdint>

#include "link/com_port_name.h"
#include "platform/platform.h"

#define RECEIVE_RING_SIZE 16384
#define READ_CHUNK 128

extern HANDLE port_handle;
extern COMMCONFIG port_config;
extern DWORD port_config_size;

// Opens and configures the port and starts the reader. A one-character port
// text names "COM<text>"; any other text is the device name itself. Returns 0,
// or -1 after printing "Open_in %s: Error %ld\n" on standard error.
int open_port(const char *port, int baud_rate, int data_bits, int parity, int stop_bits, int dtr,
              int rts);
// Sends the low 8 bits of value; returns once the write has completed.
void write_byte(int value);
// When the last byte written has left the wire, on the clock in force
// (platform/clock.h): the write's completion, or where a USB adapter completes
// on hand-over, earlier than that, the bytes' own line time since the line was
// last idle. Every pause after a byte counts from here.
int64_t wire_clear_us(void);
// Pauses until us microseconds after wire_clear_us(); never less.
void pause_from_wire_us(int64_t us);
// Pauses ms milliseconds from now, on the clock in force, as precisely as
// Sleep; so that the protocol keeps one clock on both builds.
void pause_ms(int ms);

// The changes open_port makes to the driver's DCB; fields not named stay.
void apply_line_settings(DCB *dcb, int baud_rate, int data_bits, int parity, int stop_bits, int dtr,
                         int rts);

// The reader's state, for those who want to see what arrived.
extern unsigned char receive_ring[RECEIVE_RING_SIZE];
// The reader changes head, count and overflow flag together under the port lock.
extern unsigned ring_head;
extern unsigned received_count;
extern int ring_overflow;
extern CRITICAL_SECTION port_lock;
// Bytes that did not reach the port (a refused or failed write) since it was
// opened; they count as sent, but a command that wrote many can say so.
extern unsigned failed_writes;
// After open_port failed: the cause in words, and for error 5 which of its
// causes it is (empty when there is nothing to add).
#define PORT_OPEN_TEXT_SIZE 300
extern char port_open_cause[PORT_OPEN_TEXT_SIZE];
extern char port_open_advice[PORT_OPEN_TEXT_SIZE];
// How many bytes the reader asks for with the ring head at head.
unsigned next_read_length(unsigned head);
