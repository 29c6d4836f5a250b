// What tests read and set of a receiver in the same process. Each first lets
// the bytes that have arrived by now reach the receiver (early=), so that a
// test reads the receiver as it is at this moment.
#include "platform/clock.h"
#include "virtual_receiver/receiver_state.h"

namespace {

bool valid_cv(int bank, int cv) {
  return (bank == 0 || bank == 1) && cv >= 1 && cv <= VR_CV_COUNT;
}

// Takes the receiver's lock and keeps it, with the bytes due by now delivered.
std::unique_lock<std::mutex> hold_now(VirtualReceiver *vr) {
  std::unique_lock<std::mutex> hold(vr->lock);
  vr_deliver_due(vr, clock_now_us());
  return hold;
}

}  // namespace

int vr_cv(VirtualReceiver *vr, int bank, int cv) {
  if (vr == nullptr || !valid_cv(bank, cv)) return -1;
  std::unique_lock<std::mutex> hold = hold_now(vr);
  return vr->cvs[bank][cv - 1];
}

// Saved to cvs.txt while the port is open; after the close DIR may belong to
// the next receiver.
void vr_set_cv(VirtualReceiver *vr, int bank, int cv, int value) {
  if (vr == nullptr || !valid_cv(bank, cv) || value < 0 || value > 255) return;
  std::unique_lock<std::mutex> hold = hold_now(vr);
  vr->cvs[bank][cv - 1] = (uint8_t)value;
  if (vr->open) vr_save_cvs(vr);
}

std::vector<uint8_t> vr_flash(VirtualReceiver *vr) {
  if (vr == nullptr) return {};
  std::unique_lock<std::mutex> hold = hold_now(vr);
  return vr->flash;
}

VrState vr_state(VirtualReceiver *vr) {
  if (vr == nullptr) return VR_RUNNING;
  std::unique_lock<std::mutex> hold = hold_now(vr);
  return vr->state;
}

std::string vr_trace(VirtualReceiver *vr) {
  if (vr == nullptr) return "";
  std::unique_lock<std::mutex> hold = hold_now(vr);
  return vr->trace;
}

int vr_error_count(VirtualReceiver *vr) {
  if (vr == nullptr) return 0;
  std::unique_lock<std::mutex> hold = hold_now(vr);
  return vr->error_count;
}

void vr_settle(VirtualReceiver *vr) {
  if (vr == nullptr) return;
  std::lock_guard<std::mutex> hold(vr->lock);
  vr_deliver_all(vr);
}
