// The words of the wire trace, one set for every side that writes one: the
// port's trace (ORN_TRACE) on both systems and the virtual receiver's
// wire.log. One line per event, "<us since open> <EVENT> <value>".
#pragma once

#include <cstddef>

// The most values one batch of lines takes (wire_trace_bytes hands on
// batches of this size).
#define WIRE_TRACE_BATCH 64

// Writes the lines "<at_us> <event> <value>\n", one for each of count values,
// into text (size bytes, NUL-terminated; lines that do not fit whole are left
// out). Returns the length written.
int wire_trace_lines(char *text, size_t size, long long at_us, const char *event,
                     const char *const *values, int count);
// Hands the bytes, each as two hex digits ("0A"), in batches of up to
// WIRE_TRACE_BATCH values to emit, with context.
void wire_trace_bytes(const unsigned char *data, unsigned long length,
                      void (*emit)(void *context, const char *const *values, int count),
                      void *context);
// "38400 8N1": what the other side has to be set to. parity and stop_bits as a
// DCB gives them (NOPARITY .. SPACEPARITY; ONESTOPBIT, ONE5STOPBITS,
// TWOSTOPBITS); a value no DCB has shows as '?'.
void wire_trace_line_settings(unsigned long baud, unsigned byte_size, unsigned parity,
                              unsigned stop_bits, char *text, size_t size);
// Whether RTS stands on for a DCB's fRtsControl: on when enabled and under
// handshake (raised while the driver takes bytes, that is when idle); off
// when disabled and under toggle (raised only while sending).
bool wire_trace_rts_on(unsigned rts_control);
