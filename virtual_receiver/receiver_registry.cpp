// Every receiver opened in this process, and which device stands for which.
//
// Receivers are never freed: a test reads a receiver's state after the
// program closed its port, and a reader thread may still wait on one while
// the process exits.
#include <cstdlib>
#include <map>

#include "virtual_receiver/receiver_state.h"

namespace {

std::mutex registry_lock;
// Allocated once and kept, so that nothing is destroyed under a thread that
// still runs at exit.
std::vector<VirtualReceiver *> *receivers = new std::vector<VirtualReceiver *>;
std::map<SerialDevice *, VirtualReceiver *> *devices =
    new std::map<SerialDevice *, VirtualReceiver *>;

// A program ends without closing its port, and the system's close sends what
// an adapter still holds: so do the bytes still on their way at exit.
void deliver_at_exit(void) {
  std::vector<VirtualReceiver *> all;
  {
    std::lock_guard<std::mutex> hold(registry_lock);
    all = *receivers;
  }
  for (VirtualReceiver *vr : all) {
    std::lock_guard<std::mutex> hold(vr->lock);
    if (vr->open) vr_deliver_all(vr);
  }
}

}  // namespace

void vr_register(VirtualReceiver *vr) {
  std::lock_guard<std::mutex> hold(registry_lock);
  if (receivers->empty()) atexit(deliver_at_exit);
  receivers->push_back(vr);
}

void vr_attach_device(SerialDevice *device, VirtualReceiver *vr) {
  std::lock_guard<std::mutex> hold(registry_lock);
  (*devices)[device] = vr;
}

void vr_detach_device(SerialDevice *device) {
  std::lock_guard<std::mutex> hold(registry_lock);
  devices->erase(device);
}

VirtualReceiver *vr_receiver_of_device(SerialDevice *device) {
  std::lock_guard<std::mutex> hold(registry_lock);
  auto found = devices->find(device);
  return found == devices->end() ? nullptr : found->second;
}

VirtualReceiver *virtual_receiver_last(void) {
  std::lock_guard<std::mutex> hold(registry_lock);
  return receivers->empty() ? nullptr : receivers->back();
}
