// DSR as the receiver drives it, kept as a short list of changes, so that a
// sample can ask what the line showed a moment ago (an adapter that reports
// at ticks, or halfway through a round trip) and an answer can show later
// than its opcode.
#include <algorithm>

#include "virtual_receiver/receiver_state.h"

namespace {

// Enough for every sample on the slowest line: a sample asks at most
// tick + tickdelay + status into the past, which the trimming keeps.
const size_t CHANGES_KEPT = 1024;

void forget_oldest(VirtualReceiver *vr) {
  vr->dsr_base = vr->dsr_changes.front().level;
  vr->dsr_changes.pop_front();
}

bool last_level(const VirtualReceiver *vr) {
  return vr->dsr_changes.empty() ? vr->dsr_base : vr->dsr_changes.back().level;
}

}  // namespace

void vr_drive_dsr(VirtualReceiver *vr, int64_t at_us, bool level) {
  // A new change overrides any planned after it: an answer that the next
  // byte took off before it showed never shows.
  while (!vr->dsr_changes.empty() && vr->dsr_changes.back().at_us >= at_us) {
    vr->dsr_changes.pop_back();
  }
  if (last_level(vr) == level) return;
  vr->dsr_changes.push_back(VrDsrChange{at_us, level});
  if (vr->dsr_changes.size() > CHANGES_KEPT) forget_oldest(vr);
}

bool vr_dsr_at(const VirtualReceiver *vr, int64_t at_us) {
  for (auto change = vr->dsr_changes.rbegin(); change != vr->dsr_changes.rend(); ++change) {
    if (change->at_us <= at_us) return change->level;
  }
  return vr->dsr_base;
}

void vr_trim_dsr_history(VirtualReceiver *vr, int64_t now_us) {
  const VrOptions &o = vr->options;
  int64_t reach_us =
      o.tick_us + std::max<int64_t>(o.tick_delay_us, 0) + std::max<int64_t>(o.status_us, 0);
  // The change in force at the oldest time a sample may ask about stays.
  while (vr->dsr_changes.size() > 1 && vr->dsr_changes[1].at_us <= now_us - reach_us) {
    forget_oldest(vr);
  }
}

int64_t vr_draw_jitter(VirtualReceiver *vr) {
  if (vr->options.jitter_us <= 0) return 0;
  // splitmix64: small, and the same on every platform and compiler.
  uint64_t z = (vr->jitter_state += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  z ^= z >> 31;
  return (int64_t)(z % (uint64_t)(vr->options.jitter_us + 1));
}
