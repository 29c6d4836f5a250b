// What a USB serial adapter changes on the line: bytes that reach the
// receiver after the write that sent them has completed (early=), and a modem
// status that is as old as the adapter's last report (tick=, tickdelay=) or
// taken halfway through a round trip (status=).
#include <algorithm>
#include <climits>

#include "virtual_receiver/receiver_state.h"

namespace {

// The time of the status report that a call asking at asked_us gets: the
// latest tick since the open that has reached the program. False while no
// report has come yet.
bool report_time(const VirtualReceiver *vr, int64_t asked_us, int64_t *at_us) {
  const VrOptions &o = vr->options;
  *at_us = asked_us;
  if (o.tick_us <= 0) return true;
  int64_t since_open_us = asked_us - vr->opened_us - std::max<int64_t>(o.tick_delay_us, 0);
  if (since_open_us < 0) return false;
  *at_us = vr->opened_us + since_open_us / o.tick_us * o.tick_us;
  return true;
}

}  // namespace

void vr_byte_arrives(VirtualReceiver *vr, uint8_t byte, int64_t at_us) {
  vr_receive_byte(vr, byte, at_us);
  ++vr->bytes_arrived;
  if (vr->options.unplug_after >= 0 && vr->bytes_arrived >= vr->options.unplug_after) {
    vr->unplugged = true;
    vr->reads_wake.notify_all();
  }
}

void vr_deliver_due(VirtualReceiver *vr, int64_t now_us) {
  while (!vr->in_flight.empty() && vr->in_flight.front().at_us <= now_us) {
    VrPendingByte next = vr->in_flight.front();
    vr->in_flight.pop_front();
    vr_byte_arrives(vr, next.byte, next.at_us);
  }
}

void vr_deliver_all(VirtualReceiver *vr) {
  vr_deliver_due(vr, INT64_MAX);
}

bool vr_adapter_dsr(VirtualReceiver *vr, int64_t asked_us) {
  // A dead or a held line shows the same whenever it is asked.
  if (vr->options.absent) return false;
  if (vr->options.stuck) return true;
  int64_t report_us = 0;
  if (!report_time(vr, asked_us, &report_us)) return false;
  return vr_dsr_at(vr, report_us);
}
