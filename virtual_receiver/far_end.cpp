// What a far end needs of the receiver when it serves a real line (a
// pseudo-terminal given modem lines) rather than a program's own port calls.
#include "virtual_receiver/receiver_state.h"

bool vr_dsr_outlook(VirtualReceiver *vr, int64_t *from_us) {
  std::lock_guard<std::mutex> hold(vr->lock);
  *from_us = 0;
  if (vr->options.absent || vr->unplugged) return false;
  if (vr->options.stuck) return true;
  return vr_service_answer_from(vr, from_us);
}
