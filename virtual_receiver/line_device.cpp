// The receiver as a serial device: line settings and DTR/RTS from the PC, bytes
// that take their line time to arrive, DSR as the receiver drives it, and
// reads that wait for data the receiver never sends.
//
// Two threads use a device at once (a pending read on one, writes and modem
// status on the other), so every call takes the receiver's lock, and none
// holds it while it waits.
#include <algorithm>
#include <chrono>

#include "platform/clock.h"
#include "platform/wire_trace_text.h"
#include "virtual_receiver/receiver_state.h"

namespace {

// A pulled USB adapter fails transfers with one code and control calls with
// another, as Windows' drivers do.
const DWORD UNPLUGGED_TRANSFER = ERROR_DEVICE_NOT_CONNECTED;
const DWORD UNPLUGGED_CONTROL = ERROR_GEN_FAILURE;

bool line_settings_valid(const DCB &dcb) {
  return dcb.BaudRate > 0 && dcb.ByteSize >= 5 && dcb.ByteSize <= 8 && dcb.Parity <= SPACEPARITY &&
         dcb.StopBits <= TWOSTOPBITS;
}

VrLine line_of(const DCB &dcb) {
  VrLine line;
  line.baud = dcb.BaudRate;
  line.byte_size = dcb.ByteSize;
  line.parity = dcb.Parity;
  line.stop_bits = dcb.StopBits;
  line.dtr = dcb.fDtrControl != DTR_CONTROL_DISABLE;
  line.rts = wire_trace_rts_on(dcb.fRtsControl);
  return line;
}

bool same_settings(const VrLine &a, const VrLine &b) {
  return a.baud == b.baud && a.byte_size == b.byte_size && a.parity == b.parity &&
         a.stop_bits == b.stop_bits;
}

void change_line(VirtualReceiver *vr, const VrLine &next, int64_t now_us) {
  VrLine before = vr->line;
  vr->line = next;
  if (!same_settings(before, next)) {
    vr_record(vr, now_us, "LINE", vr_line_settings_text(next).c_str());
  }
  if (before.dtr != next.dtr) {
    vr_record(vr, now_us, "DTR", next.dtr ? "1" : "0");
    vr_hold_in_reset(vr, next.dtr, now_us);
  }
  if (before.rts != next.rts) vr_record(vr, now_us, "RTS", next.rts ? "1" : "0");
}

// Ten bit times, to the microsecond.
int64_t byte_time_us(const VirtualReceiver *vr) {
  if (vr->options.instant) return 0;
  return (10000000 + vr->line.baud / 2) / vr->line.baud;
}

// The adapter takes no byte once it is pulled, nor beyond the unplug=N-th.
bool adapter_gone(const VirtualReceiver *vr) {
  int64_t limit = vr->options.unplug_after;
  return vr->unplugged || (limit >= 0 && vr->bytes_claimed >= limit);
}

// Books the line for one more byte, sent no earlier than earliest_us: -1 when
// the adapter is gone.
int claim_arrival(VirtualReceiver *vr, int64_t earliest_us, int64_t *arrival_us) {
  if (adapter_gone(vr)) return -1;
  *arrival_us = std::max(earliest_us, vr->last_arrival_us) + byte_time_us(vr);
  vr->last_arrival_us = *arrival_us;
  ++vr->bytes_claimed;
  return 0;
}

DWORD apply_line(VirtualReceiver *vr, const DCB &dcb) {
  if (!line_settings_valid(dcb)) return ERROR_INVALID_PARAMETER;
  std::lock_guard<std::mutex> hold(vr->lock);
  int64_t now_us = clock_now_us();
  vr_deliver_due(vr, now_us);
  if (vr->unplugged) return UNPLUGGED_CONTROL;
  // Bytes still in flight arrive after the change, as after a real
  // adapter's control transfer.
  change_line(vr, line_of(dcb), now_us);
  return ERROR_SUCCESS;
}

// The ideal line: a write returns once its bytes have arrived.
DWORD write_through(VirtualReceiver *vr, const BYTE *data, DWORD length, DWORD *written) {
  for (DWORD i = 0; i < length; ++i) {
    int64_t arrival_us;
    {
      std::lock_guard<std::mutex> hold(vr->lock);
      int64_t now_us = clock_now_us();
      vr_deliver_due(vr, now_us);
      if (claim_arrival(vr, now_us, &arrival_us) != 0) return UNPLUGGED_TRANSFER;
    }
    if (!vr->options.instant) clock_sleep_until_us(arrival_us);
    std::lock_guard<std::mutex> hold(vr->lock);
    vr_byte_arrives(vr, data[i], arrival_us);
    ++*written;
  }
  return ERROR_SUCCESS;
}

// early=: the adapter takes the bytes at once and sends them from early_us
// after the write began, one after another at line rate.
DWORD hand_over(VirtualReceiver *vr, const BYTE *data, DWORD length, DWORD *written) {
  std::lock_guard<std::mutex> hold(vr->lock);
  int64_t began_us = clock_now_us();
  vr_deliver_due(vr, began_us);
  for (DWORD i = 0; i < length; ++i) {
    int64_t arrival_us;
    if (claim_arrival(vr, began_us + vr->options.early_us, &arrival_us) != 0) {
      return UNPLUGGED_TRANSFER;
    }
    vr->in_flight.push_back(VrPendingByte{arrival_us, data[i]});
    ++*written;
  }
  return ERROR_SUCCESS;
}

DWORD write_bytes(VirtualReceiver *vr, const BYTE *data, DWORD length, DWORD *written) {
  *written = 0;
  if (vr->options.early_us >= 0) return hand_over(vr, data, length, written);
  return write_through(vr, data, length, written);
}

// The receiver sends nothing: a read ends only when it is cancelled or the
// adapter is pulled. While bytes are in flight one of them may pull it, so
// the read looks again now and then.
DWORD wait_for_read(VirtualReceiver *vr, DWORD *got) {
  *got = 0;
  std::unique_lock<std::mutex> hold(vr->lock);
  for (;;) {
    vr_deliver_due(vr, clock_now_us());
    if (vr->reads_cancelled || vr->unplugged) break;
    if (vr->in_flight.empty()) {
      vr->reads_wake.wait(hold);
    } else {
      vr->reads_wake.wait_for(hold, std::chrono::milliseconds(1));
    }
  }
  return vr->reads_cancelled ? (DWORD)ERROR_OPERATION_ABORTED : UNPLUGGED_TRANSFER;
}

void cancel_reads(VirtualReceiver *vr) {
  std::lock_guard<std::mutex> hold(vr->lock);
  // For good: a read that starts after this (the port is closing) must not
  // wait for a wake-up that already happened.
  vr->reads_cancelled = true;
  vr->reads_wake.notify_all();
}

// The ideal line: DSR as the receiver drives it at the sample.
bool dsr_level(VirtualReceiver *vr, int64_t now_us) {
  if (vr->options.absent) return false;
  bool answer = vr_service_answer(vr, now_us);  // also flags a sample taken too early
  return vr->options.stuck || answer;
}

// status=: the call is a round trip, and the adapter reads DSR halfway.
// Returns the time it read it, or -1 when the adapter was pulled meanwhile.
int64_t round_trip(VirtualReceiver *vr, std::unique_lock<std::mutex> &hold) {
  int64_t began_us = clock_now_us();
  if (vr->options.status_us < 0) return began_us;
  hold.unlock();
  clock_sleep_us(vr->options.status_us);
  hold.lock();
  vr_deliver_due(vr, clock_now_us());
  return vr->unplugged ? -1 : began_us + vr->options.status_us / 2;
}

DWORD sample_modem_status(VirtualReceiver *vr, DWORD *status) {
  std::unique_lock<std::mutex> hold(vr->lock);
  vr_deliver_due(vr, clock_now_us());
  if (vr->unplugged) return UNPLUGGED_CONTROL;
  int64_t asked_us = round_trip(vr, hold);
  if (asked_us < 0) return UNPLUGGED_CONTROL;
  int64_t now_us = clock_now_us();
  bool dsr = false;
  if (vr_adapter_line(vr->options)) {
    vr_trim_dsr_history(vr, asked_us);
    dsr = vr_adapter_dsr(vr, asked_us);
  } else {
    dsr = dsr_level(vr, now_us);
  }
  vr_record(vr, now_us, "DSR", dsr ? "1" : "0");
  *status = dsr ? MS_DSR_ON : 0;
  return ERROR_SUCCESS;
}

DWORD clear_line_error(VirtualReceiver *vr, DWORD *errors) {
  std::lock_guard<std::mutex> hold(vr->lock);
  vr_deliver_due(vr, clock_now_us());
  if (vr->unplugged) return UNPLUGGED_CONTROL;
  if (errors != nullptr) *errors = 0;
  return ERROR_SUCCESS;
}

void close_receiver(VirtualReceiver *vr) {
  std::lock_guard<std::mutex> hold(vr->lock);
  // What the program sent reaches the receiver before the state is put away.
  vr_deliver_all(vr);
  vr->open = false;
  vr->reads_cancelled = true;
  vr->reads_wake.notify_all();
  vr_close_state_dir(vr);
}

// The serial device interface over the functions above.
struct ReceiverDevice : SerialDevice {
  VirtualReceiver *vr;
  explicit ReceiverDevice(VirtualReceiver *receiver) : vr(receiver) {}
  ~ReceiverDevice() override {
    vr_detach_device(this);
    close_receiver(vr);
  }
  DWORD apply(const DCB &dcb) override { return apply_line(vr, dcb); }
  DWORD write(const BYTE *data, DWORD length, DWORD *written) override {
    return write_bytes(vr, data, length, written);
  }
  DWORD read(BYTE *, DWORD, DWORD, DWORD *got) override { return wait_for_read(vr, got); }
  void cancel_reads() override { ::cancel_reads(vr); }
  DWORD modem_status(DWORD *status) override { return sample_modem_status(vr, status); }
  DWORD clear_error(DWORD *errors) override { return clear_line_error(vr, errors); }
};

void start_receiver(VirtualReceiver *vr) {
  vr->opened_us = clock_now_us();
  vr->last_arrival_us = vr->opened_us;
  vr->jitter_state = (uint64_t)vr->options.seed;
  vr->open = true;
  vr->unplugged = vr->options.unplug_after == 0;
  if (!vr->options.absent) vr_record(vr, vr->opened_us, "STATE", "running");
}

}  // namespace

SerialDevice *virtual_receiver_open_device(const char *name, DWORD *error) {
  VrOptions options;
  *error = vr_parse_port_name(name, &options);
  if (*error != ERROR_SUCCESS) return nullptr;
  VirtualReceiver *vr = new VirtualReceiver;
  vr->options = options;
  vr_factory_cvs(vr->cvs);
  *error = vr_open_state_dir(vr);
  if (*error != ERROR_SUCCESS) {
    delete vr;
    return nullptr;
  }
  start_receiver(vr);
  vr_register(vr);
  SerialDevice *device = new ReceiverDevice(vr);
  vr_attach_device(device, vr);
  return device;
}
