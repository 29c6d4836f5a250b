// Every receiver opened in this process, and which device stands for which.
//
// Receivers are never freed: a test reads a receiver's state after the
// program closed its port, and a reader thread may still wait on one while
// the process exits.
#include <map>

#include "virtual_receiver/receiver_state.h"

namespace {

std::mutex registry_lock;
// Allocated once and kept, so that nothing is destroyed under a thread that
// still runs at exit.
std::vector<VirtualReceiver *> *receivers = new std::vector<VirtualReceiver *>;
std::map<SerialDevice *, VirtualReceiver *> *devices =
    new std::map<SerialDevice *, VirtualReceiver *>;

}  // namespace

void vr_register(VirtualReceiver *vr) {
  std::lock_guard<std::mutex> hold(registry_lock);
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
